#include "core/common/assertion.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "core/common/message_catalogue.h"

namespace {

// ---------------------------------------------------------------------------
// Reading the policy value

TEST(AssertionPolicy, FlagsForEnvironmentValues)
{
    struct Case
    {
        const char* value;
        int64_t flags;
        bool logFile;
    } cases[] = {
        {nullptr, 0x4E, false},
        {"", 0x4E, false},
        {"0x21", 0x21, false},
        {"21", 0x21, false},
        {"0X44", 0x44, true},
        {"4", 0x04, true},
        {"0", -1, false}, // zero is read as a word, which is unknown
        {"0x0", -1, false},
        {"0x", -1, false},
        {"4z", -1, false}, // not all digits: words
        {"log", 0x04, true},
        {"log stack", 0x44, true},
        {"break debug log event msgbox abort stack", 0x7F, true},
        {"stack", 0x40, false},
        {"event  stack", 0x48, false}, // an empty word between two blanks is skipped
        {" event ", 0x08, false},
        {"log bogus", -1, true}, // "log" reads the log file variable even so
        {"bogus log", -1, true},
        {"Log", -1, false}, // words are exact
        {"logs", -1, false},
    };
    for (const Case& c : cases) {
        bool logFile = !c.logFile;
        EXPECT_EQ(Common::Detail::AssertionFlagsFor(c.value, &logFile), c.flags) << (c.value ? c.value : "(unset)");
        EXPECT_EQ(logFile, c.logFile) << (c.value ? c.value : "(unset)");
    }
}

TEST(AssertionPolicy, OnlyTheFirst127CharactersAreWords)
{
    // "bogus" beyond character 127 is never read.
    const std::string value = std::string(60, ' ') + "log" + std::string(64, ' ') + "bogus";
    bool logFile = false;
    EXPECT_EQ(Common::Detail::AssertionFlagsFor(value.c_str(), &logFile), 0x04);
    const std::string cut = std::string(124, ' ') + "logs"; // read as "log"
    EXPECT_EQ(Common::Detail::AssertionFlagsFor(cut.c_str(), &logFile), 0x04);
}

TEST(AssertionDebugger, TracerPidInStatusText)
{
    struct Case
    {
        std::string status;
        bool attached;
    } cases[] = {
        {"Name:\tx\nTracerPid:\t0\nUid:\t1\n", false},
        {"Name:\tx\nTracerPid:\t4321\nUid:\t1\n", true},
        {"Name:\tx\nUid:\t1\n", false},
        {"", false},
        {"TracerPid:", false},
        {"TracerPid:\t7", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Common::Detail::StatusNamesTracer(c.status.data(), c.status.size()), c.attached) << c.status;
    // The text need not be terminated: a digit beyond the given size is not read.
    const char unterminated[] = {'T', 'r', 'a', 'c', 'e', 'r', 'P', 'i', 'd', ':', '\t', '0', '5'};
    EXPECT_FALSE(Common::Detail::StatusNamesTracer(unterminated, sizeof unterminated - 1));
}

// ---------------------------------------------------------------------------
// The policy in action. It is read once per process, so each case runs in a
// re-executed child with its own environment.

class AssertionReports : public ::testing::Test
{
protected:
    void SetUp() override
    {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        unsetenv("QUORVAN_SAFE_ASSERT");
        unsetenv("QUORVAN_SAFE_ASSERT_LOGFILE");
    }
    void TearDown() override
    {
        unsetenv("QUORVAN_SAFE_ASSERT");
        unsetenv("QUORVAN_SAFE_ASSERT_LOGFILE");
        if (!m_directory.empty())
            std::filesystem::remove_all(m_directory);
        unsetenv("ASSERTION_TEST_FOLDER");
    }

    std::string TempFile(const char* name)
    {
        // The child re-runs the test body: it finds the parent's folder in the
        // environment.
        if (m_directory.empty()) {
            if (const char* inherited = std::getenv("ASSERTION_TEST_FOLDER")) {
                m_directory = inherited;
            } else {
                char pattern[] = "/tmp/assertion_test_XXXXXX";
                m_directory = mkdtemp(pattern);
                setenv("ASSERTION_TEST_FOLDER", m_directory.c_str(), 1);
            }
        }
        return m_directory + "/" + name;
    }

    static std::string Read(const std::string& path)
    {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string m_directory;
};

[[noreturn]] void ExitWith(int code)
{
    std::fflush(nullptr);
    std::exit(code);
}

TEST_F(AssertionReports, DefaultLogsTextAndStackToStandardErrorAndContinues)
{
    EXPECT_EXIT(ExitWith(Common::ReportAssertion("x", "f", 7)), ::testing::ExitedWithCode(1),
                "^Assertion failed: x, file f, line 7\n[^\n]+\n");
}

TEST_F(AssertionReports, AbortPolicies)
{
    for (const char* value : {"0x21", "21", "abort"}) {
        setenv("QUORVAN_SAFE_ASSERT", value, 1);
        EXPECT_EXIT(Common::ReportAssertion("x", "f", 7), ::testing::KilledBySignal(SIGABRT), "^$") << value;
    }
}

TEST_F(AssertionReports, DisabledPoliciesReturnZeroAndWriteNothing)
{
    for (const char* value : {"0", "0x0", "log bogus", "bogus log", "-1"}) {
        setenv("QUORVAN_SAFE_ASSERT", value, 1);
        EXPECT_EXIT(ExitWith(Common::ReportAssertion("x", "f", 7)), ::testing::ExitedWithCode(0), "^$") << value;
    }
}

TEST_F(AssertionReports, StackAloneCapturesNothing)
{
    setenv("QUORVAN_SAFE_ASSERT", "stack msgbox", 1); // msgbox without a debugger continues
    EXPECT_EXIT(ExitWith(Common::ReportAssertion("x", "f", 7)), ::testing::ExitedWithCode(1), "^$");
}

TEST_F(AssertionReports, LogAloneWritesOnlyTheText)
{
    setenv("QUORVAN_SAFE_ASSERT", "log", 1);
    EXPECT_EXIT(ExitWith(Common::ReportAssertion("a == b", "dir/file.cpp", 4294967295u)), ::testing::ExitedWithCode(1),
                "^Assertion failed: a == b, file dir/file.cpp, line -1\n$");
}

TEST_F(AssertionReports, LogAndStackWriteTextThenStackLines)
{
    setenv("QUORVAN_SAFE_ASSERT", "log stack", 1);
    EXPECT_EXIT(ExitWith(Common::ReportAssertion("x", "f", 7)), ::testing::ExitedWithCode(1),
                "^Assertion failed: x, file f, line 7\n([^\n]+\n)+$");
}

TEST_F(AssertionReports, LogToStandardOutput)
{
    setenv("QUORVAN_SAFE_ASSERT", "log", 1);
    setenv("QUORVAN_SAFE_ASSERT_LOGFILE", "stdout", 1);
    EXPECT_EXIT(ExitWith(Common::ReportAssertion("x", "f", 7)), ::testing::ExitedWithCode(1), "^$");
    // Closing the log at exit only concerns a log file: standard output stays.
    EXPECT_EXIT(
        {
            Common::ReportAssertion("early", "f", 8);
            Common::CloseAssertionLog();
            ExitWith(Common::ReportAssertion("after", "f", 10));
        },
        ::testing::ExitedWithCode(1), "^$");
}

TEST_F(AssertionReports, LogFileIsAppended)
{
    const std::string path = TempFile("asserts.log");
    std::ofstream(path) << "earlier\n";
    setenv("QUORVAN_SAFE_ASSERT", "log", 1);
    setenv("QUORVAN_SAFE_ASSERT_LOGFILE", path.c_str(), 1);
    EXPECT_EXIT(ExitWith(Common::ReportAssertion("x", "f", 7) + Common::ReportAssertion("y", "g", 8) - 1),
                ::testing::ExitedWithCode(1), "^$");
    EXPECT_EQ(Read(path), "earlier\nAssertion failed: x, file f, line 7\nAssertion failed: y, file g, line 8\n");
}

TEST_F(AssertionReports, LogFileInMissingFolderFallsBackToStandardError)
{
    const std::string path = TempFile("missing/asserts.log");
    setenv("QUORVAN_SAFE_ASSERT", "4", 1);
    setenv("QUORVAN_SAFE_ASSERT_LOGFILE", path.c_str(), 1);
    EXPECT_EXIT(ExitWith(Common::ReportAssertion("x", "f", 7)), ::testing::ExitedWithCode(1),
                "^Assertion failed: x, file f, line 7\n$");
    EXPECT_FALSE(std::filesystem::exists(path));
}

std::string g_closedLogPath;

void ReportAfterTheLogIsClosed()
{
    Common::ReportAssertion("late", "f", 9);
    std::fflush(stderr);
}

TEST_F(AssertionReports, ReportsAfterTheLogIsClosedGoToStandardError)
{
    const std::string path = TempFile("closed.log");
    setenv("QUORVAN_SAFE_ASSERT", "log", 1);
    setenv("QUORVAN_SAFE_ASSERT_LOGFILE", path.c_str(), 1);
    EXPECT_EXIT(
        {
            // Registered before the policy, so it runs after the log is closed.
            std::atexit(&ReportAfterTheLogIsClosed);
            Common::ReportAssertion("early", "f", 8);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "^Assertion failed: late, file f, line 9\n$");
    EXPECT_EQ(Read(path), "Assertion failed: early, file f, line 8\n");

    EXPECT_EXIT(
        {
            Common::ReportAssertion("early", "f", 8);
            Common::CloseAssertionLog();
            Common::ReportAssertion("after", "f", 10);
            ExitWith(0);
        },
        ::testing::ExitedWithCode(0), "^Assertion failed: after, file f, line 10\n$");
}

struct HookCall
{
    int level;
    unsigned facility;
    unsigned code;
    std::string text;
};
std::vector<HookCall> g_hookCalls;

void RecordHookCall(int level, unsigned facility, unsigned code, const char* text)
{
    g_hookCalls.push_back({level, facility, code, text});
}

TEST_F(AssertionReports, EventHookReceivesTextThenCollectedStack)
{
    setenv("QUORVAN_SAFE_ASSERT", "event stack", 1);
    EXPECT_EXIT(
        {
            Common::SetAssertionEventHook(&RecordHookCall);
            const int result = Common::ReportAssertion("x", "f", 7);
            bool good = result == 1 && g_hookCalls.size() == 2;
            for (const HookCall& call : g_hookCalls)
                good = good && call.level == 5 && call.facility == 0 && call.code == 27;
            good = good && g_hookCalls[0].text == "Assertion failed: x, file f, line 7";
            // Several frames, one per line, without a trailing line feed.
            const std::string& stack = g_hookCalls[1].text;
            good = good && stack.find('\n') != std::string::npos && stack.back() != '\n';
            ExitWith(good ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "^$");
}

TEST_F(AssertionReports, EventWithoutHookDoesNothing)
{
    setenv("QUORVAN_SAFE_ASSERT", "event stack", 1);
    EXPECT_EXIT(
        {
            Common::SetAssertionEventHook(nullptr);
            ExitWith(Common::ReportAssertion("x", "f", 7));
        },
        ::testing::ExitedWithCode(1), "^$");
}

TEST_F(AssertionReports, DebugKeepsTheTextPerThreadCutAt539)
{
    setenv("QUORVAN_SAFE_ASSERT", "debug", 1);
    EXPECT_EXIT(
        {
            const std::string longExpression(1000, 'e');
            Common::ReportAssertion("x", "f", 7);
            bool good = std::strcmp(Common::Detail::KeptAssertionText(), "Assertion failed: x, file f, line 7") == 0;
            std::thread other([&] {
                Common::ReportAssertion(longExpression.c_str(), "f", 7);
                const std::string kept = Common::Detail::KeptAssertionText();
                good = good && kept.size() == 539 && kept.rfind("Assertion failed: eee", 0) == 0;
            });
            other.join();
            good = good && std::strcmp(Common::Detail::KeptAssertionText(), "Assertion failed: x, file f, line 7") == 0;
            ExitWith(good ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "^$");
}

TEST_F(AssertionReports, UnexpectedErrorNamesProgramFileAndSystemMessage)
{
    setenv("QUORVAN_SAFE_ASSERT", "log msgbox", 1);
    EXPECT_EXIT(
        {
            Common::ReportUnexpectedError(ENOENT, "dir/file.cpp", 12, "opening");
            Common::ReportUnexpectedError(EACCES, "g.cpp", 3, nullptr);
            ExitWith(0);
        },
        ::testing::ExitedWithCode(0),
        "^core_common_test: dir/file.cpp:12: opening: Unexpected error: No such file or directory\\.\n"
        "core_common_test: g.cpp:3: Unexpected error: Permission denied\\.\n$");
}

TEST_F(AssertionReports, MessageKeyOutOfRangeIsReported)
{
    setenv("QUORVAN_SAFE_ASSERT", "log", 1);
    EXPECT_EXIT(ExitWith(Common::GetMessageText(676)[0] == u'\0' ? 0 : 1), ::testing::ExitedWithCode(0),
                "^Assertion failed: key < kCatalogueSlots, file [^\n]*message_catalogue.cpp, line [0-9]+\n$");
}

} // namespace
