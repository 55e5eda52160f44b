#include "core/common/safe_close.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "testing/scoped_environment.h"

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

    Testing::ScopedEnvironmentVariable m_mode{"QUORVAN_SAFE_CLOSE", Testing::kUnset};
};

TEST_F(SafeClosePolicy, IgnoreReturnsTheFailure)
{
    m_mode.Set("ignore");
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
    EXPECT_DEATH(Common::SafeClose(987654), "");
}

TEST_F(SafeClosePolicy, AbortWordAbortsOnABadDescriptor)
{
    m_mode.Set("abort");
    EXPECT_DEATH(Common::SafeClose(987654), "");
}

TEST_F(SafeClosePolicy, BreakTrapsEvenWithAbortInTheValue)
{
    m_mode.Set("breakabort");
    EXPECT_EXIT(Common::SafeClose(987654), ::testing::KilledBySignal(SIGTRAP), "");
}

} // namespace
