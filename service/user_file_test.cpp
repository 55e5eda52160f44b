#include "service/user_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <fstream>

#include "core/common/file_errors.h"
#include "service/service_test_support.h"
#include "testing/error_matchers.h"

namespace {

using Testing::ErrorIs;
using Testing::IsSuccessError;

class UserFile : public ServiceTesting::TemporaryFolder
{
protected:
    std::string Users() const { return PathOf("users"); }
};

TEST_F(UserFile, AddedUsersCheckTheirOwnPasswordOnly)
{
    ASSERT_THAT(Service::AddUser(Users(), "alice", "secret"), IsSuccessError());
    ASSERT_THAT(Service::AddUser(Users(), "bob", "hunter2"), IsSuccessError());
    struct stat status
    {
    };
    ASSERT_EQ(stat(Users().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);

    Service::UserTable users;
    ASSERT_THAT(Service::LoadUsers(Users(), users), IsSuccessError());
    EXPECT_TRUE(Service::CheckPassword(users, "alice", "secret"));
    EXPECT_TRUE(Service::CheckPassword(users, "bob", "hunter2"));
    EXPECT_FALSE(Service::CheckPassword(users, "alice", "hunter2"));
    EXPECT_FALSE(Service::CheckPassword(users, "alice", "secret "));
    EXPECT_FALSE(Service::CheckPassword(users, "carol", ""));

    // The stored line holds a hash, not the password.
    std::ifstream in(Users());
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.find("secret"), std::string::npos);
}

TEST_F(UserFile, AddingAgainReplacesThePassword)
{
    ASSERT_THAT(Service::AddUser(Users(), "alice", "old"), IsSuccessError());
    ASSERT_THAT(Service::AddUser(Users(), "alice", "new"), IsSuccessError());
    Service::UserTable users;
    ASSERT_THAT(Service::LoadUsers(Users(), users), IsSuccessError());
    EXPECT_EQ(users.size(), 1u);
    EXPECT_TRUE(Service::CheckPassword(users, "alice", "new"));
    EXPECT_FALSE(Service::CheckPassword(users, "alice", "old"));
}

// A refusal must not tell an unknown user from a wrong password by its time.
TEST_F(UserFile, UnknownUserTakesAsLongAsAWrongPassword)
{
    ASSERT_THAT(Service::AddUser(Users(), "alice", "secret"), IsSuccessError());
    Service::UserTable users;
    ASSERT_THAT(Service::LoadUsers(Users(), users), IsSuccessError());
    const auto timeOf = [&users](const char* user) {
        const auto started = std::chrono::steady_clock::now();
        EXPECT_FALSE(Service::CheckPassword(users, user, "wrong"));
        return std::chrono::steady_clock::now() - started;
    };
    (void)timeOf("nobody"); // the first unknown user may pay for a one-time setup
    // The fastest of three runs each, so that a run slowed by a loaded machine
    // does not decide.
    auto wrongPassword = timeOf("alice");
    auto unknownUser = timeOf("nobody");
    for (int run = 0; run < 2; ++run) {
        wrongPassword = std::min(wrongPassword, timeOf("alice"));
        unknownUser = std::min(unknownUser, timeOf("nobody"));
    }
    EXPECT_GT(unknownUser * 4, wrongPassword);
}

TEST_F(UserFile, FilesOtherThanPrivateAreRefused)
{
    ASSERT_THAT(Service::AddUser(Users(), "alice", "secret"), IsSuccessError());
    for (mode_t mode : {0644, 0640, 0400, 0700, 0602}) {
        ASSERT_EQ(chmod(Users().c_str(), mode), 0);
        Service::UserTable users;
        EXPECT_THAT(Service::LoadUsers(Users(), users), ErrorIs(FileErrors::kAccessDenied)) << std::oct << mode;
        EXPECT_THAT(Service::AddUser(Users(), "bob", "x"), ErrorIs(FileErrors::kAccessDenied)) << std::oct << mode;
    }
    ASSERT_EQ(symlink(Users().c_str(), PathOf("link").c_str()), 0);
    Service::UserTable users;
    EXPECT_THAT(Service::LoadUsers(PathOf("link"), users), ErrorIs(FileErrors::kOpenFailed));
    EXPECT_THAT(Service::LoadUsers(PathOf("missing"), users), ErrorIs(FileErrors::kOpenFailed));
}

TEST_F(UserFile, MalformedLinesAreRefused)
{
    for (const char* text : {"alice\n", ":hash\n", "alice:\n", "ok:hash\nbroken\n"}) {
        {
            std::ofstream(Users()) << text;
        }
        ASSERT_EQ(chmod(Users().c_str(), 0600), 0);
        Service::UserTable users;
        EXPECT_THAT(Service::LoadUsers(Users(), users), ErrorIs(FileErrors::kCorrupted)) << text;
    }
}

TEST_F(UserFile, BadNamesAndPasswordsAreNotAdded)
{
    for (const std::string& user : {std::string(), std::string("a:b"), std::string("a\nb"), std::string("a\0b", 3)})
        EXPECT_THAT(Service::AddUser(Users(), user, "pw"), ErrorIs(FileErrors::kCorrupted));
    EXPECT_THAT(Service::AddUser(Users(), "alice", ""), ErrorIs(FileErrors::kCorrupted));
    EXPECT_THAT(Service::AddUser(Users(), "alice", std::string(Service::kMaxPasswordSize + 1, 'p')),
                ErrorIs(FileErrors::kCorrupted));
    struct stat status
    {
    };
    EXPECT_NE(stat(Users().c_str(), &status), 0); // nothing was written
}

} // namespace
