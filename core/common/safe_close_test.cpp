#include "core/common/safe_close.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

TEST(SafeClose, ModeFollowsTheEnvironmentValue)
{
    struct Case
    {
        const char* value;
        Common::SafeCloseMode mode;
    } cases[] = {
        {nullptr, Common::SAFE_CLOSE_ABORT},      {"abort", Common::SAFE_CLOSE_ABORT},
        {"break", Common::SAFE_CLOSE_BREAK},      {"breakabort", Common::SAFE_CLOSE_BREAK},
        {"abortbreak", Common::SAFE_CLOSE_BREAK}, {"ignore", Common::SAFE_CLOSE_IGNORE},
        {"", Common::SAFE_CLOSE_IGNORE},          {"please abort now", Common::SAFE_CLOSE_ABORT},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Common::Detail::SafeCloseModeFor(c.value), c.mode) << (c.value ? c.value : "(unset)");
}

TEST(SafeClose, ValidDescriptorAndStreamCloseNormally)
{
    const int fd = open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Common::SafeClose(fd), 0);
    std::FILE* stream = std::fopen("/dev/null", "r");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(Common::SafeFclose(stream), 0);
}

// The mode is read before main, so each policy runs in a re-executed child.
class SafeClosePolicy : public ::testing::Test
{
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
    void TearDown() override { unsetenv("QUORVAN_SAFE_CLOSE"); }
};

TEST_F(SafeClosePolicy, IgnoreReturnsTheFailure)
{
    setenv("QUORVAN_SAFE_CLOSE", "ignore", 1);
    EXPECT_EXIT(
        {
            errno = 0;
            const int result = Common::SafeClose(987654);
            std::exit(result == -1 && errno == EBADF ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(SafeClosePolicy, UnsetAbortsOnABadDescriptor)
{
    unsetenv("QUORVAN_SAFE_CLOSE");
    EXPECT_DEATH(Common::SafeClose(987654), "");
}

TEST_F(SafeClosePolicy, AbortWordAbortsOnABadDescriptor)
{
    setenv("QUORVAN_SAFE_CLOSE", "abort", 1);
    EXPECT_DEATH(Common::SafeClose(987654), "");
}

TEST_F(SafeClosePolicy, BreakTrapsEvenWithAbortInTheValue)
{
    setenv("QUORVAN_SAFE_CLOSE", "breakabort", 1);
    EXPECT_EXIT(Common::SafeClose(987654), ::testing::KilledBySignal(SIGTRAP), "");
}

} // namespace
