// Thread environments: the per-thread tag.

#include "platform/async/thread_environment.h"

#include "platform/async/async_platform.h"

namespace AsyncPlatform {

namespace {

thread_local uint64_t t_environmentTag = 0;

} // namespace

void SetThreadEnvironmentTag(uint64_t tag)
{
    t_environmentTag = tag;
}

uint64_t GetThreadEnvironmentTag()
{
    return t_environmentTag;
}

void ThreadEnvironment::Apply()
{
    t_environmentTag = m_tag;
}

void ThreadEnvironment::Leave()
{
    t_environmentTag = 0;
}

void ThreadEnvironment::Restore()
{
    t_environmentTag = m_tag;
}

std::shared_ptr<Async::ThreadEnvironment> EnvironmentProvider::CaptureEnvironment()
{
    return std::make_shared<ThreadEnvironment>(t_environmentTag);
}

} // namespace AsyncPlatform
