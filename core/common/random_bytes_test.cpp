#include "core/common/random_bytes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "core/common/assertion.h"
#include "testing/scoped_environment.h"
#include "testing/temporary_folder.h"

namespace {

int CountOpenDescriptors()
{
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    while (readdir(dir))
        ++count;
    closedir(dir);
    return count;
}

bool AllZero(const unsigned char* bytes, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        if (bytes[i])
            return false;
    return true;
}

TEST(RandomBytes, NormalAndStrongRequestsFillTheBuffer)
{
    for (bool strong : {false, true}) {
        unsigned char bytes[64] = {};
        EXPECT_TRUE(Common::GetRandomBytes(bytes, sizeof bytes, strong));
        EXPECT_FALSE(AllZero(bytes, sizeof bytes));
    }
    unsigned char untouched = 0x5A;
    EXPECT_TRUE(Common::GetRandomBytes(&untouched, 0, true));
    EXPECT_EQ(untouched, 0x5A);
}

TEST(RandomBytes, DeviceIsOpenedOnceAndClosedToMinusOne)
{
    Common::RandomDevice device{-1, "/dev/urandom", false, {}};
    const int before = CountOpenDescriptors();
    unsigned char bytes[32];
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(Common::Detail::ReadRandomDevice(device, bytes, sizeof bytes, false));
    EXPECT_TRUE(device.opened);
    EXPECT_NE(device.descriptor, -1);
    EXPECT_EQ(CountOpenDescriptors(), before + 1);
    Common::CloseRandomDevice(device);
    EXPECT_EQ(device.descriptor, -1);
    EXPECT_EQ(CountOpenDescriptors(), before);
    Common::CloseRandomDevice(device); // a second close does nothing
    EXPECT_EQ(device.descriptor, -1);
}

// Failed opens are reported through the assertion policy, which is read once
// per process: each case runs in a re-executed child with the default policy.
int g_openReports = 0;

void CountOpenReports(int, unsigned, unsigned, const char* text)
{
    if (std::strstr(text, "Assertion failed: !\"Can't open random device\""))
        ++g_openReports;
}

// Two normal requests fall back and answer true, a strong one answers false;
// each call reports the failed open once.
bool MissingDeviceScenario()
{
    Common::SetAssertionEventHook(CountOpenReports);
    Common::RandomDevice device{-1, "/nonexistent/random-device", false, {}};
    unsigned char bytes[16] = {};
    bool ok = Common::Detail::ReadRandomDevice(device, bytes, sizeof bytes, false);
    ok = ok && g_openReports == 1 && device.opened && device.descriptor == -1;
    ok = ok && Common::Detail::ReadRandomDevice(device, bytes, sizeof bytes, false) && g_openReports == 2;
    ok = ok && !Common::Detail::ReadRandomDevice(device, bytes, sizeof bytes, true) && g_openReports == 3;
    return ok;
}

TEST(RandomBytesMissingDevice, NormalFallsBackStrongFailsAndEachCallReports)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const Testing::ScopedEnvironmentVariable defaultPolicy("QUORVAN_SAFE_ASSERT", Testing::kUnset);
    EXPECT_EXIT(std::exit(MissingDeviceScenario() ? 0 : 1), ::testing::ExitedWithCode(0), "Can't open random device");
}

// A device that ends early or cannot be read: the part not yet filled comes
// from the fallback for a normal request; a strong one answers false. Each
// call reports the failed read once.
int g_readReports = 0;

void CountReadReports(int, unsigned, unsigned, const char* text)
{
    if (std::strstr(text, "Assertion failed: !\"Can't read from random device\""))
        ++g_readReports;
}

bool FailedReadScenario()
{
    const Testing::TemporaryFolder folder("random_bytes_test");
    const std::string path = folder.Write("device", "ABCDE");
    Common::SetAssertionEventHook(CountReadReports);
    struct Case
    {
        const char* path;
        bool strong;
        bool answer;
        const char* prefix; // the bytes the device gave
    } cases[] = {
        {path.c_str(), false, true, "ABCDE"}, // five bytes, then the end
        {path.c_str(), true, false, "ABCDE"},
        {"/", false, true, ""}, // a folder opens but cannot be read
        {"/", true, false, ""},
    };
    bool ok = true;
    for (const Case& c : cases) {
        Common::RandomDevice device{-1, c.path, false, {}};
        unsigned char bytes[64] = {};
        const int reportsBefore = g_readReports;
        ok = ok && Common::Detail::ReadRandomDevice(device, bytes, sizeof bytes, c.strong) == c.answer;
        ok = ok && g_readReports == reportsBefore + 1;
        const size_t given = std::strlen(c.prefix);
        ok = ok && std::memcmp(bytes, c.prefix, given) == 0;
        // The fallback fills the rest of a normal request; a strong one leaves it.
        ok = ok &&
            (c.strong ? AllZero(bytes + given, sizeof bytes - given) : !AllZero(bytes + given, sizeof bytes - given));
        Common::CloseRandomDevice(device);
    }
    return ok;
}

TEST(RandomBytesFailedRead, NormalFillsTheRestStrongFailsAndEachCallReports)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const Testing::ScopedEnvironmentVariable defaultPolicy("QUORVAN_SAFE_ASSERT", Testing::kUnset);
    EXPECT_EXIT(std::exit(FailedReadScenario() ? 0 : 1), ::testing::ExitedWithCode(0), "Can't read from random device");
}

TEST(RandomBytesThreads, FirstUseFromManyThreadsOpensOneDescriptor)
{
    Common::RandomDevice device{-1, "/dev/urandom", false, {}};
    const int before = CountOpenDescriptors();
    std::vector<std::thread> threads;
    std::vector<int> results(8, 0);
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&device, &results, t] {
            unsigned char bytes[16];
            results[t] = Common::Detail::ReadRandomDevice(device, bytes, sizeof bytes, true) ? 1 : 0;
        });
    for (std::thread& thread : threads)
        thread.join();
    for (int result : results)
        EXPECT_EQ(result, 1);
    EXPECT_EQ(CountOpenDescriptors(), before + 1);
    Common::CloseRandomDevice(device);
    EXPECT_EQ(CountOpenDescriptors(), before);
}

} // namespace
