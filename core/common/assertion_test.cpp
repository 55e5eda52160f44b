#include "core/common/assertion.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "core/common/message_catalogue.h"
#include "testing/scoped_environment.h"
#include "testing/temporary_folder.h"

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
    static constexpr const char* kFolderVariable = "ASSERTION_TEST_FOLDER";

    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }

    std::string TempFile(const char* name)
    {
        // The child re-runs the test body: it finds the parent's folder in the
        // environment.
        if (const char* inherited = std::getenv(kFolderVariable))
            return std::string(inherited) + "/" + name;
        m_folder.emplace("assertion_test");
        m_folderForChildren.emplace(kFolderVariable, m_folder->Path().c_str());
        return m_folder->PathOf(name);
    }

    static std::string Read(const std::string& path)
    {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // The policy and its log file, unset unless a test sets them.
    Testing::ScopedEnvironmentVariable m_policy{"QUORVAN_SAFE_ASSERT", Testing::kUnset};
    Testing::ScopedEnvironmentVariable m_logFile{"QUORVAN_SAFE_ASSERT_LOGFILE", Testing::kUnset};
    std::optional<Testing::TemporaryFolder> m_folder;
    std::optional<Testing::ScopedEnvironmentVariable> m_folderForChildren;
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
        m_policy.Set(value);
        EXPECT_EXIT(Common::ReportAssertion("x", "f", 7), ::testing::KilledBySignal(SIGABRT), "^$") << value;
    }
}

TEST_F(AssertionReports, DisabledPoliciesReturnZeroAndWriteNothing)
{
    for (const char* value : {"0", "0x0", "log bogus", "bogus log", "-1"}) {
        m_policy.Set(value);
        EXPECT_EXIT(ExitWith(Common::ReportAssertion("x", "f", 7)), ::testing::ExitedWithCode(0), "^$") << value;
    }
}

TEST_F(AssertionReports, StackAloneCapturesNothing)
{
    m_policy.Set("stack msgbox"); // msgbox without a debugger continues
    EXPECT_EXIT(ExitWith(Common::ReportAssertion("x", "f", 7)), ::testing::ExitedWithCode(1), "^$");
}

TEST_F(AssertionReports, LogAloneWritesOnlyTheText)
{
    m_policy.Set("log");
    EXPECT_EXIT(ExitWith(Common::ReportAssertion("a == b", "dir/file.cpp", 4294967295u)), ::testing::ExitedWithCode(1),
                "^Assertion failed: a == b, file dir/file.cpp, line -1\n$");
}

TEST_F(AssertionReports, LogAndStackWriteTextThenStackLines)
{
    m_policy.Set("log stack");
    EXPECT_EXIT(ExitWith(Common::ReportAssertion("x", "f", 7)), ::testing::ExitedWithCode(1),
                "^Assertion failed: x, file f, line 7\n([^\n]+\n)+$");
}

TEST_F(AssertionReports, LogToStandardOutput)
{
    m_policy.Set("log");
    m_logFile.Set("stdout");
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
    m_policy.Set("log");
    m_logFile.Set(path.c_str());
    EXPECT_EXIT(ExitWith(Common::ReportAssertion("x", "f", 7) + Common::ReportAssertion("y", "g", 8) - 1),
                ::testing::ExitedWithCode(1), "^$");
    EXPECT_EQ(Read(path), "earlier\nAssertion failed: x, file f, line 7\nAssertion failed: y, file g, line 8\n");
}

TEST_F(AssertionReports, LogFileInMissingFolderFallsBackToStandardError)
{
    const std::string path = TempFile("missing/asserts.log");
    m_policy.Set("4");
    m_logFile.Set(path.c_str());
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
    m_policy.Set("log");
    m_logFile.Set(path.c_str());
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
    m_policy.Set("event stack");
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
    m_policy.Set("event stack");
    EXPECT_EXIT(
        {
            Common::SetAssertionEventHook(nullptr);
            ExitWith(Common::ReportAssertion("x", "f", 7));
        },
        ::testing::ExitedWithCode(1), "^$");
}

TEST_F(AssertionReports, DebugKeepsTheTextPerThreadCutAt539)
{
    m_policy.Set("debug");
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
    m_policy.Set("log msgbox");
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
    m_policy.Set("log");
    EXPECT_EXIT(ExitWith(Common::GetMessageText(676)[0] == u'\0' ? 0 : 1), ::testing::ExitedWithCode(0),
                "^Assertion failed: key < kCatalogueSlots, file [^\n]*message_catalogue.cpp, line [0-9]+\n$");
}

} // namespace
