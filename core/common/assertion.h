// Failed internal checks and the assertion policy.
//
// A failed check is reported through ReportAssertion and never stops the
// process by default. The policy is read once per process, at the first report,
// from QUORVAN_SAFE_ASSERT (and QUORVAN_SAFE_ASSERT_LOGFILE for "log"):
//   unset or empty     log to standard error, pass to the event hook, log the stack
//   hexadecimal number the flags below ("0x21", "21"); a value of 0 is read as words
//   words              blank-separated "break" "debug" "log" "event" "msgbox"
//                      "abort" "stack"; any other word disables the policy
//
// Threading: any thread may report at any time. Reading the policy is guarded
// by a once-guard; the actions take no lock, so concurrent log lines may
// interleave. The event hook is the trace dispatcher's TraceAssertionEvent from
// the start (constant initialization), so it is in place before any report.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/common/stack_trace.h"

namespace Common {

// Flags of the assertion policy.
enum AssertionFlags : int64_t
{
    ASSERTION_BREAK = 0x01,  // trap when a debugger is attached
    ASSERTION_DEBUG = 0x02,  // keep the text where a debugger can read it
    ASSERTION_LOG = 0x04,    // write the text to the log destination
    ASSERTION_EVENT = 0x08,  // pass the text to the event hook
    ASSERTION_MSGBOX = 0x10, // with an expression: trap when a debugger is attached
    ASSERTION_ABORT = 0x20,  // abort()
    ASSERTION_STACK = 0x40,  // also report the stack (needs debug, log or event)
    ASSERTION_DEFAULT = 0x4E,
    ASSERTION_DISABLED = -1,
};

// Where "log" writes.
enum AssertionLogDestination : int
{
    ASSERTION_LOG_STDOUT = -1,
    ASSERTION_LOG_STDERR = -2,
    ASSERTION_LOG_FILE = -3,
};

// Receives assertion texts (and the collected stack) when "event" is set:
// level 5, facility 0, code 27.
using AssertionEventHook = void (*)(int level, unsigned facility, unsigned code, const char* text);

// Reports "Assertion failed: <expression>, file <file>, line <line>" through the
// policy. Returns 1 when execution continues normally, 0 when the policy is
// disabled or the report trapped into a debugger.
int ReportAssertion(const char* expression, const char* file, unsigned line);

// Reports "<program>: <file>:<line>: [<prefix>: ]Unexpected error: <strerror>."
// through the policy, without an expression.
void ReportUnexpectedError(int errorNumber, const char* file, unsigned line, const char* prefix);

// Applies the policy to a report. `expression` and `text` may be null.
int HandleAssertion(const char* expression, const char* file, unsigned line, const char* text);

// Replaces the event hook (null removes it).
void SetAssertionEventHook(AssertionEventHook hook);

// True when "/proc/self/status" names a tracer.
bool IsDebuggerAttached();

// Writes `text` and a line feed to the log destination; `logFile` is used when
// the destination is the log file.
void WriteAssertionLog(std::FILE* logFile, const char* text);

// The at-exit action: closes the log file, if one was opened; later reports
// meant for it go to standard error. Standard output stays standard output.
void CloseAssertionLog();

// The assertion handler's line callback; `userData` is the handler's
// accumulator. Skips frames 0 and 1 and always answers true.
bool CollectStackLine(unsigned frame, const char* line, void* userData);

// The "debug" action: keeps a copy (at most 539 characters) of the text in a
// per-thread buffer, where a debugger can read it.
void KeepAssertionTextForDebugger(const char* text);

namespace Detail {
// The flags for a value of QUORVAN_SAFE_ASSERT (null: unset); `wantsLogFile`
// tells whether QUORVAN_SAFE_ASSERT_LOGFILE is to be read.
int64_t AssertionFlagsFor(const char* value, bool* wantsLogFile);
// True when a status text (not necessarily terminated) names a tracer.
bool StatusNamesTracer(const char* status, std::size_t size);
// The per-thread text kept by the "debug" action.
const char* KeptAssertionText();
} // namespace Detail

} // namespace Common

// Reports `expression` through the policy when it is false; evaluates it once.
#define COMMON_ASSERT(expression) \
    ((expression) ? (void)0 : (void)::Common::ReportAssertion(#expression, __FILE__, __LINE__))

// The same with an explicit source file and line.
#define COMMON_ASSERT_AT(expression, file, line) \
    ((expression) ? (void)0 : (void)::Common::ReportAssertion(#expression, (file), (line)))
