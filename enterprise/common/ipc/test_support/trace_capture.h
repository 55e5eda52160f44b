// Collects traced errors of every level while installed.
//
// Threading: install on the test's thread, one at a time; traces may arrive
// from any thread.
#pragma once

#include <mutex>
#include <utility>
#include <vector>

#include "core/common/trace.h"

namespace IpcTesting {

class TraceCapture final : public Common::TraceSink
{
public:
    TraceCapture()
    {
        m_registry.sinks.insert(this);
        m_previous = Common::Detail::SetTraceRegistryForTesting(&m_registry);
    }
    ~TraceCapture() override { Common::Detail::SetTraceRegistryForTesting(m_previous); }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    void WriteText(void*, int, unsigned, unsigned, const char16_t*) override {}
    void WriteError(void*, int level, const Common::Error& error) override
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_traced.emplace_back(level, error);
    }
    bool Filter() override { return true; }

    std::vector<std::pair<int, Common::Error>> Traced() const
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_traced;
    }

private:
    Common::TraceRegistry m_registry;
    Common::TraceRegistry* m_previous = nullptr;
    mutable std::mutex m_lock;
    std::vector<std::pair<int, Common::Error>> m_traced;
};

} // namespace IpcTesting
