// The assertion policy and the actions it selects.

#include "core/common/assertion.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <unistd.h>

#include "core/common/module_path.h"
#include "core/common/mutex.h"
#include "core/common/safe_close.h"
#include "core/common/trace.h"

namespace Common {

namespace {

constexpr unsigned kTextSize = 540;
constexpr unsigned kWordsSize = 128;
constexpr unsigned kStackFrames = 32;
constexpr unsigned kAccumulatorStep = 1024;
constexpr int kEventLevel = 5;
constexpr unsigned kEventFacility = 0;
constexpr unsigned kEventCode = 27;

struct WordFlag
{
    const char* word;
    int64_t flag;
};

constexpr WordFlag kWords[] = {
    {"break", ASSERTION_BREAK},   {"debug", ASSERTION_DEBUG}, {"log", ASSERTION_LOG},     {"event", ASSERTION_EVENT},
    {"msgbox", ASSERTION_MSGBOX}, {"abort", ASSERTION_ABORT}, {"stack", ASSERTION_STACK},
};

std::once_flag g_policyOnce;
int64_t g_flags = ASSERTION_DEFAULT; // written once under g_policyOnce
std::atomic<int> g_destination{ASSERTION_LOG_STDERR};
// Failed assertions reach the trace dispatcher in every program that reports
// one: the hook is set by constant initialization, before any code runs.
std::atomic<AssertionEventHook> g_hook{&TraceAssertionEvent};

// The opened log file; writes to it and its closing are serialized so that a
// closed stream is never written.
constinit NonRecursiveMutex g_logFileLock;
std::atomic<std::FILE*> g_logFile{nullptr};

thread_local char t_debugText[kTextSize];

void ReadLogFileVariable()
{
    const char* value = std::getenv("QUORVAN_SAFE_ASSERT_LOGFILE");
    if (!value)
        return;
    if (std::strcmp(value, "stdout") == 0) {
        g_destination.store(ASSERTION_LOG_STDOUT);
    } else if (std::strcmp(value, "stderr") == 0) {
        g_destination.store(ASSERTION_LOG_STDERR);
    } else if (std::FILE* file = std::fopen(value, "a")) {
        LockGuard guard(g_logFileLock);
        g_logFile = file;
        g_destination.store(ASSERTION_LOG_FILE);
    }
}

void ReadPolicy()
{
    bool wantsLogFile = false;
    g_flags = Detail::AssertionFlagsFor(std::getenv("QUORVAN_SAFE_ASSERT"), &wantsLogFile);
    if (wantsLogFile)
        ReadLogFileVariable();
    std::atexit(&CloseAssertionLog);
}

int64_t Flags()
{
    std::call_once(g_policyOnce, &ReadPolicy);
    return g_flags;
}

// The stack lines collected for the event hook.
struct StackAccumulator
{
    int64_t flags;
    AssertionEventHook hook;
    char* text;
    std::size_t capacity;
    std::size_t length;
};

void Append(StackAccumulator& accumulator, const char* line)
{
    const std::size_t lineLength = std::strlen(line);
    const std::size_t separator = accumulator.length ? 1 : 0;
    const std::size_t needed = accumulator.length + separator + lineLength + 1;
    if (needed > accumulator.capacity) {
        const std::size_t capacity = (needed + kAccumulatorStep + 1) & ~std::size_t(kAccumulatorStep - 1);
        char* grown = static_cast<char*>(std::realloc(accumulator.text, capacity));
        if (!grown)
            return; // keep what was collected
        accumulator.text = grown;
        accumulator.capacity = capacity;
    }
    if (separator)
        accumulator.text[accumulator.length++] = '\n';
    std::memcpy(accumulator.text + accumulator.length, line, lineLength + 1);
    accumulator.length += lineLength;
}

} // namespace

namespace Detail {

int64_t AssertionFlagsFor(const char* value, bool* wantsLogFile)
{
    *wantsLogFile = false;
    if (!value || !*value)
        return ASSERTION_DEFAULT;

    const char* digits = std::strstr(value, "0x") || std::strstr(value, "0X") ? value + 2 : value;
    char* end = nullptr;
    const long number = std::strtol(digits, &end, 16);
    if (*end == '\0' && number != 0) {
        *wantsLogFile = (number & ASSERTION_LOG) != 0;
        return number;
    }

    char words[kWordsSize];
    std::strncpy(words, value, kWordsSize - 1);
    words[kWordsSize - 1] = '\0';
    int64_t flags = 0;
    bool sawLog = false;
    char* next = words;
    while (next) {
        char* word = next;
        next = std::strchr(word, ' ');
        if (next)
            *next++ = '\0';
        if (!*word)
            continue; // two blanks in a row
        int64_t flag = ASSERTION_DISABLED;
        for (const WordFlag& known : kWords)
            if (std::strcmp(word, known.word) == 0)
                flag = known.flag;
        sawLog = sawLog || flag == ASSERTION_LOG;
        flags |= flag;
    }
    *wantsLogFile = sawLog; // also when another word disables the policy
    return flags;
}

bool StatusNamesTracer(const char* status, std::size_t size)
{
    const std::string text(status, size);
    const char* found = std::strstr(text.c_str(), "TracerPid:");
    return found && std::atoi(found + std::strlen("TracerPid:")) != 0;
}

const char* KeptAssertionText()
{
    return t_debugText;
}

} // namespace Detail

int ReportAssertion(const char* expression, const char* file, unsigned line)
{
    char text[kTextSize];
    const int written = std::snprintf(text, sizeof text, "Assertion failed: %s, file %s, line %d",
                                      expression ? expression : "(null)", file ? file : "(null)",
                                      static_cast<int>(line));
    return HandleAssertion(expression, file, line, written < 0 ? nullptr : text);
}

void ReportUnexpectedError(int errorNumber, const char* file, unsigned line, const char* prefix)
{
    const int savedErrno = errno;
    char message[4096];
    const char* system = strerror_r(errorNumber, message, sizeof message);
    char text[4096];
    const std::string module = GetModuleFileName();
    const int written = std::snprintf(text, sizeof text, "%s: %s:%u: %s%sUnexpected error: %s.", module.c_str(),
                                      file ? file : "(null)", line, prefix ? prefix : "", prefix ? ": " : "",
                                      system ? system : "");
    HandleAssertion(nullptr, file, line, written < 0 ? nullptr : text);
    errno = savedErrno;
}

int HandleAssertion(const char* expression, const char* /*file*/, unsigned /*line*/, const char* text)
{
    const int64_t flags = Flags();
    if (flags == ASSERTION_DISABLED)
        return 0;
    const AssertionEventHook hook = g_hook.load(std::memory_order_acquire);

    if (text) {
        if (flags & ASSERTION_DEBUG)
            KeepAssertionTextForDebugger(text);
        if (flags & ASSERTION_LOG)
            WriteAssertionLog(g_logFile.load(), text);
        if ((flags & ASSERTION_EVENT) && hook)
            hook(kEventLevel, kEventFacility, kEventCode, text);
    }

    if ((flags & ASSERTION_STACK) && (flags & (ASSERTION_DEBUG | ASSERTION_LOG | ASSERTION_EVENT))) {
        StackAccumulator accumulator{flags, hook, static_cast<char*>(std::malloc(kAccumulatorStep)), kAccumulatorStep,
                                     0};
        if (accumulator.text) {
            accumulator.text[0] = '\0';
        } else {
            accumulator.capacity = 0;
        }
        WalkStackTrace(kStackFrames, &CollectStackLine, &accumulator);
        if ((flags & ASSERTION_EVENT) && hook)
            hook(kEventLevel, kEventFacility, kEventCode, accumulator.text ? accumulator.text : "");
        std::free(accumulator.text);
    }

    if ((flags & ASSERTION_MSGBOX) && expression) {
        if (IsDebuggerAttached()) {
            TrapToDebugger();
            return 0;
        }
    } else if ((flags & ASSERTION_BREAK) && IsDebuggerAttached()) {
        TrapToDebugger();
        return 0;
    }
    if (flags & ASSERTION_ABORT)
        std::abort();
    return 1;
}

bool CollectStackLine(unsigned frame, const char* line, void* userData)
{
    if (frame < 2)
        return true;
    auto& accumulator = *static_cast<StackAccumulator*>(userData);
    if (accumulator.flags & ASSERTION_DEBUG)
        KeepAssertionTextForDebugger(line);
    if (accumulator.flags & ASSERTION_LOG)
        WriteAssertionLog(g_logFile.load(), line);
    if ((accumulator.flags & ASSERTION_EVENT) && accumulator.hook)
        Append(accumulator, line);
    return true;
}

void SetAssertionEventHook(AssertionEventHook hook)
{
    g_hook.store(hook, std::memory_order_release);
}

bool IsDebuggerAttached()
{
    const int descriptor = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    char status[1024];
    const ssize_t size = read(descriptor, status, sizeof status);
    SafeClose(descriptor);
    if (size <= 0)
        return false;
    return Detail::StatusNamesTracer(status, static_cast<std::size_t>(size));
}

void WriteAssertionLog(std::FILE* logFile, const char* text)
{
    switch (g_destination.load()) {
    case ASSERTION_LOG_STDOUT:
        std::fprintf(stdout, "%s\n", text);
        return;
    case ASSERTION_LOG_FILE: {
        LockGuard guard(g_logFileLock);
        if (logFile && logFile == g_logFile.load()) {
            std::fprintf(logFile, "%s\n", text);
            std::fflush(logFile);
            return;
        }
        break; // closed meanwhile: standard error
    }
    default:
        break;
    }
    std::fprintf(stderr, "%s\n", text);
}

void CloseAssertionLog()
{
    LockGuard guard(g_logFileLock);
    if (std::FILE* file = g_logFile.exchange(nullptr)) {
        g_destination.store(ASSERTION_LOG_STDERR);
        SafeFclose(file);
    }
}

void KeepAssertionTextForDebugger(const char* text)
{
    std::strncpy(t_debugText, text, kTextSize - 1);
    t_debugText[kTextSize - 1] = '\0';
}

} // namespace Common
