// Trace dispatch to the registered sinks and callbacks, and the assertion
// event hook.

#include "core/common/trace.h"

#include <atomic>
#include <memory>
#include <string>

#include "core/common/text_conversion.h"

namespace Common {

namespace {

// The program registers no sink and no callback.
std::atomic<TraceRegistry*> g_registry{nullptr};

bool SinkWants(TraceSink* sink, int level)
{
    return sink->Filter() || level >= kTraceThreshold;
}

} // namespace

void DefaultTraceOutput(const Error&)
{
}

void DispatchTraceError(void* context, int level, const Error& error)
{
    if (level >= kTraceThreshold)
        DefaultTraceOutput(error);
    TraceRegistry* registry = g_registry.load(std::memory_order_acquire);
    if (!registry)
        return;
    for (TraceSink* sink : registry->sinks)
        if (SinkWants(sink, level))
            sink->WriteError(context, level, error);
    if (level < kTraceThreshold)
        return;
    for (const TraceCallbacks& callbacks : registry->callbacks) {
        if (callbacks.errorWithContext) {
            callbacks.errorWithContext(context, level, error);
        } else if (callbacks.error) {
            callbacks.error(level, error);
        } else if (callbacks.textWithContext || callbacks.text) {
            const unsigned code = error.GetCode();
            const std::u16string text = error.GetText();
            if (callbacks.textWithContext)
                callbacks.textWithContext(context, level, GetErrorFacility(code), GetErrorNumber(code), text.c_str());
            else
                callbacks.text(level, GetErrorFacility(code), GetErrorNumber(code), text.c_str());
        }
    }
}

void DispatchTraceText(void* context, int level, unsigned facility, unsigned code, const char16_t* text)
{
    TraceRegistry* registry = g_registry.load(std::memory_order_acquire);
    if (!registry)
        return;
    for (TraceSink* sink : registry->sinks)
        if (SinkWants(sink, level))
            sink->WriteText(context, level, facility, code, text);
    if (level < kTraceThreshold)
        return;
    for (const TraceCallbacks& callbacks : registry->callbacks) {
        if (callbacks.textWithContext)
            callbacks.textWithContext(context, level, facility, code, text);
        else if (callbacks.text)
            callbacks.text(level, facility, code, text);
    }
}

void TraceError(int level, const Error& error)
{
    DispatchTraceError(nullptr, level, error);
}

void TraceText(int level, unsigned facility, unsigned code, const char16_t* text)
{
    DispatchTraceText(nullptr, level, facility, code, text);
}

void TraceAssertionEvent(int level, unsigned facility, unsigned code, const char* text)
{
    const std::unique_ptr<char16_t[]> wide(WidenCString(text));
    DispatchTraceText(nullptr, level, facility, code, wide.get());
}

namespace Detail {

TraceRegistry* SetTraceRegistryForTesting(TraceRegistry* registry) noexcept
{
    return g_registry.exchange(registry, std::memory_order_acq_rel);
}

} // namespace Detail

} // namespace Common
