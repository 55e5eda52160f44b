#include "core/common/thread_local_key.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "testing/scoped_environment.h"

namespace {

using Common::Tls;

TEST(Tls, AllocateSetGetRelease)
{
    const Tls::Key key = Tls::Allocate(nullptr);
    ASSERT_NE(key, Tls::OUT_OF_INDEXES);
    EXPECT_EQ(Tls::GetValue(key), nullptr);
    int value = 0;
    EXPECT_TRUE(Tls::SetValue(key, &value));
    EXPECT_EQ(Tls::GetValue(key), &value);
    EXPECT_TRUE(Tls::Release(key));
}

int g_destroyed = 0;

void CountDestroyed(void* value)
{
    g_destroyed += *static_cast<int*>(value);
}

TEST(TlsThreads, ValuesArePerThreadAndDestroyedAtThreadExit)
{
    g_destroyed = 0;
    const Tls::Key key = Tls::Allocate(&CountDestroyed);
    ASSERT_NE(key, Tls::OUT_OF_INDEXES);
    int mine = 1;
    int theirs = 10;
    ASSERT_TRUE(Tls::SetValue(key, &mine));
    void* seenByOther = &mine;
    std::thread([&] {
        seenByOther = Tls::GetValue(key);
        Tls::SetValue(key, &theirs);
    }).join();
    EXPECT_EQ(seenByOther, nullptr);
    EXPECT_EQ(g_destroyed, 10);
    EXPECT_EQ(Tls::GetValue(key), &mine);
    EXPECT_TRUE(Tls::Release(key));
}

// Allocates keys until none is left: the failure answers OUT_OF_INDEXES itself.
bool ExhaustionScenario()
{
    std::vector<Tls::Key> keys;
    Tls::Key key = Tls::OUT_OF_INDEXES;
    for (int i = 0; i < 100000; ++i) {
        key = Tls::Allocate(nullptr);
        if (key < 0)
            break;
        keys.push_back(key);
    }
    bool released = true;
    for (Tls::Key allocated : keys)
        released = Tls::Release(allocated) && released;
    return key == Tls::OUT_OF_INDEXES && !keys.empty() && released;
}

TEST(Tls, ExhaustedKeysAnswerOutOfIndexes)
{
    // Run in a child: no key is left while it runs.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(ExhaustionScenario() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

TEST(Tls, FailedKeyIsReportedByEachOperation)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const Testing::ScopedEnvironmentVariable policy("QUORVAN_SAFE_ASSERT", "log");
    EXPECT_EXIT(
        {
            const bool released = Tls::Release(Tls::OUT_OF_INDEXES);
            int dummy = 0;
            const bool set = Tls::SetValue(Tls::OUT_OF_INDEXES, &dummy);
            void* value = Tls::GetValue(Tls::OUT_OF_INDEXES);
            std::fflush(stderr);
            std::exit(!released && !set && value == nullptr ? 0 : 1);
        },
        ::testing::ExitedWithCode(0),
        "^(Assertion failed: key != Common::Tls::OUT_OF_INDEXES, file [^\n]*thread_local_key.cpp, line [0-9]+\n){3}$");
}

} // namespace
