// The service's thread environments: an environment is the thread's
// environment tag (async_platform.h), copied at capture.
//
// Threading: each operation acts on the calling thread's tag; an environment
// object may be applied on any thread.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/async/async_service.h"

namespace AsyncPlatform {

class ThreadEnvironment : public Async::ThreadEnvironment
{
public:
    explicit ThreadEnvironment(uint64_t tag) : m_tag(tag) {}

    void Apply() override;
    void Leave() override;
    void Restore() override;

    uint64_t GetTag() const { return m_tag; }

private:
    const uint64_t m_tag;
};

class EnvironmentProvider : public Async::EnvironmentProvider
{
public:
    // Never null; std::bad_alloc passes out.
    std::shared_ptr<Async::ThreadEnvironment> CaptureEnvironment() override;
};

} // namespace AsyncPlatform
