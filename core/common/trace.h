// Trace dispatch: errors and texts reported with a trace level (1 debug,
// 2 information, 3 warning, 4 error, 5 critical error) are handed to the
// registered sinks and callbacks when the level reaches the threshold 2.
// The program registers none, so tracing writes nothing; tests install a
// registry of their own. Failed assertions arrive through
// TraceAssertionEvent, the assertion event hook from the start (see
// assertion.h).
//
// Threading: any thread. The registry is read without a lock and is not
// changed while traces run.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "platform/objrep/common_error.h"

namespace Common {

inline constexpr int kTraceThreshold = 2;

enum TraceLevel : int
{
    TRACE_DEBUG = 1,
    TRACE_INFORMATION = 2,
    TRACE_WARNING = 3,
    TRACE_ERROR = 4,
    TRACE_CRITICAL_ERROR = 5,
};

constexpr unsigned GetErrorFacility(unsigned code)
{
    return code >> 16;
}

constexpr unsigned GetErrorNumber(unsigned code)
{
    return code & 0xFFFF;
}

// A trace destination.
class TraceSink
{
public:
    virtual void WriteText(void* context, int level, unsigned facility, unsigned code, const char16_t* text) = 0;
    virtual void WriteError(void* context, int level, const Error& error) = 0;
    // True to receive traces below the threshold as well. The default answers
    // false: the threshold alone decides.
    virtual bool Filter() { return DefaultFilter(); }

    static bool DefaultFilter() { return false; }

    virtual ~TraceSink() = default;
};

// One set of trace callbacks; any of them may be null.
struct TraceCallbacks
{
    void (*text)(int level, unsigned facility, unsigned code, const char16_t* text);
    void (*error)(int level, const Error& error);
    void (*textWithContext)(void* context, int level, unsigned facility, unsigned code, const char16_t* text);
    void (*errorWithContext)(void* context, int level, const Error& error);
};

struct TraceRegistry
{
    std::set<TraceSink*> sinks;
    std::vector<TraceCallbacks> callbacks;
};

void TraceError(int level, const Error& error);
void TraceText(int level, unsigned facility, unsigned code, const char16_t* text);
void DispatchTraceError(void* context, int level, const Error& error);
void DispatchTraceText(void* context, int level, unsigned facility, unsigned code, const char16_t* text);

// The built-in error output for traces at or above the threshold: writes nothing.
void DefaultTraceOutput(const Error& error);

// The assertion event hook: widens `text` byte by byte and dispatches it.
void TraceAssertionEvent(int level, unsigned facility, unsigned code, const char* text);

namespace Detail {
// Installs `registry` (null: none, as in the program) and returns the previous
// one. For tests; must not race with running traces.
TraceRegistry* SetTraceRegistryForTesting(TraceRegistry* registry) noexcept;
} // namespace Detail

} // namespace Common
