#include "service/store_location.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <string>

#include "core/common/file_errors.h"
#include "core/common/text_conversion.h"
#include "service/service_test_support.h"
#include "service/store_errors.h"
#include "testing/error_matchers.h"
#include "testing/scoped_environment.h"

namespace {

using ::testing::AllOf;
using Testing::CausedBy;
using Testing::ErrorIs;
using Testing::HasPosixCause;
using ::testing::HasSubstr;
using Testing::HasTextThat;
using Testing::HasText;
using Testing::IsSuccessError;

TEST(StoreLocation, OverrideThenAbsoluteStateHomeThenHome)
{
    struct Case
    {
        const char* storeFolder;
        const char* stateHome;
        const char* home;
        const char* expected;
    };
    const Case cases[] = {
        {"/srv/store", "/state", "/home/u", "/srv/store"},
        {"", "/state", "/home/u", "/state/objpatcher"},
        {nullptr, "/state", "/home/u", "/state/objpatcher"},
        {nullptr, "relative/state", "/home/u", "/home/u/.local/state/objpatcher"},
        {nullptr, "", "/home/u", "/home/u/.local/state/objpatcher"},
        {nullptr, nullptr, "/home/u", "/home/u/.local/state/objpatcher"},
        {nullptr, nullptr, "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Service::ResolveStoreFolder(c.storeFolder, c.stateHome, c.home), c.expected)
            << (c.storeFolder ? c.storeFolder : "(unset)") << " " << (c.stateHome ? c.stateHome : "(unset)");
}

// Folders on disk, with the store variable given back as it was found: other
// tests of the program rely on it for the local road's store.
class StoreFolder : public ServiceTesting::TemporaryFolder
{
protected:
    Testing::ScopedEnvironmentVariable m_storeFolder{Service::kStoreFolderVariable, Testing::kUnset};
};

TEST_F(StoreFolder, MissingFoldersAreCreatedPrivate)
{
    for (mode_t mask : {mode_t{0}, mode_t{022}}) {
        const std::string top = "m" + std::to_string(mask);
        m_storeFolder.Set(PathOf(top + "/b/objpatcher").c_str());
        std::string path;
        const mode_t saved = umask(mask);
        const Common::Error error = Service::GetLocalStorePath(path);
        umask(saved);
        ASSERT_THAT(error, IsSuccessError());
        EXPECT_EQ(path, PathOf(top + "/b/objpatcher/objects.db"));
        for (const std::string& folder : {top, top + "/b", top + "/b/objpatcher"}) {
            struct stat status
            {
            };
            ASSERT_EQ(stat(PathOf(folder).c_str(), &status), 0) << folder;
            EXPECT_TRUE(S_ISDIR(status.st_mode));
            EXPECT_EQ(status.st_mode & 07777, 0700u) << folder << " under umask " << std::oct << mask;
        }
        // A second call finds it there.
        ASSERT_THAT(Service::GetLocalStorePath(path), IsSuccessError());
    }
}

TEST_F(StoreFolder, ExistingFolderKeepsItsMode)
{
    ASSERT_EQ(mkdir(PathOf("shared").c_str(), 0755), 0);
    ASSERT_THAT(Service::CreateFolders(PathOf("shared")), IsSuccessError());
    struct stat status
    {
    };
    ASSERT_EQ(stat(PathOf("shared").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0755u);
}

TEST_F(StoreFolder, FileInTheWayIsAClearError)
{
    std::ofstream(PathOf("file")) << "x";
    EXPECT_THAT(Service::CreateFolders(PathOf("file")),
                AllOf(ErrorIs(FileErrors::kCreateFailed), HasPosixCause(ENOTDIR)));
    EXPECT_THAT(Service::CreateFolders(PathOf("file/below")),
                AllOf(ErrorIs(FileErrors::kCreateFailed), HasPosixCause(ENOTDIR)));
}

TEST(StoreLocation, TheLockWaitIsAWholeNumberOfMillisecondsWithinItsBoundElseTheDefault)
{
    struct Case
    {
        const char* value;
        int expected;
    };
    const Case cases[] = {
        {nullptr, Service::kLockWaitMilliseconds},
        {"", Service::kLockWaitMilliseconds},
        {"250", 250},
        {"0", 0},
        {"3600000", 3600000},
        {"3600001", Service::kLockWaitMilliseconds},
        {"99999999999", Service::kLockWaitMilliseconds},
        {"-5", Service::kLockWaitMilliseconds},
        {"12x", Service::kLockWaitMilliseconds},
        {" 12", Service::kLockWaitMilliseconds},
        {"1.5", Service::kLockWaitMilliseconds},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Service::ResolveLockWait(c.value).count(), c.expected) << (c.value ? c.value : "(unset)");
}

TEST_F(StoreFolder, TheLocalStoreWaitsForItsLockAsTheEnvironmentSays)
{
    m_storeFolder.Set(PathOf("local").c_str());
    std::string path;
    ASSERT_THAT(Service::GetLocalStorePath(path), IsSuccessError());
    const Testing::ScopedEnvironmentVariable wait(Service::kLockWaitVariable, "50");
    ServiceTesting::HeldStoreLock held(path);
    std::unique_ptr<Service::Store> store;
    EXPECT_THAT(Service::OpenLocalStore(store),
                AllOf(ErrorIs(FileErrors::kLockFailed),
                      HasTextThat(HasSubstr(path +
                                            ".lock: another process holds "
                                            "this lock file; gave up waiting for it "
                                            "after 50 ms"))));
    held.Release();
    EXPECT_THAT(Service::OpenLocalStore(store), IsSuccessError());
}

// A store folder that cannot be used is named with the reason on the first
// line the user reads; the file layer's error stays behind it.
TEST_F(StoreFolder, AnUnusableFolderIsNamedWithTheReason)
{
    std::ofstream(PathOf("file")) << "x";
    struct Case
    {
        std::string folder;
        int reason;
        const char16_t* reasonText;
    };
    const Case cases[] = {
        {PathOf("file"), ENOTDIR, u"Not a directory"},
        {PathOf("file/below"), ENOTDIR, u"Not a directory"},
        {"/proc/no-such-folder/objpatcher", ENOENT, u"No such file or directory"},
    };
    for (const Case& c : cases) {
        m_storeFolder.Set(c.folder.c_str());
        std::string path = "unchanged";
        EXPECT_THAT(Service::GetLocalStorePath(path),
                    AllOf(ErrorIs(Service::kStoreFailed),
                          HasText(u"DML store: The folder " + Common::FromUtf8(c.folder.c_str()) +
                                  u" of the local store cannot be used: " + c.reasonText + u"."),
                          CausedBy(AllOf(ErrorIs(FileErrors::kCreateFailed), HasPosixCause(c.reason)))))
            << c.folder;
        EXPECT_EQ(path, "unchanged");
    }
}

} // namespace
