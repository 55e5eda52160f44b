#include "service/user_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <fstream>

#include "core/common/file_errors.h"
#include "core/common/text_conversion.h"
#include "platform/ipc/frame.h"
#include "service/service_test_support.h"
#include "testing/error_matchers.h"

namespace {

using ::testing::AllOf;
using Testing::ErrorIs;
using ::testing::HasSubstr;
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

// Adding a user again replaces the password, and the caller learns whether
// it did: only for a user already in the file, and only when the file was
// written.
TEST_F(UserFile, AddingAgainReplacesThePasswordAndSaysSo)
{
    bool replaced = true;
    ASSERT_THAT(Service::AddUser(Users(), "alice", "old", &replaced), IsSuccessError());
    EXPECT_FALSE(replaced) << "the file was made";
    replaced = true;
    ASSERT_THAT(Service::AddUser(Users(), "bob", "other", &replaced), IsSuccessError());
    EXPECT_FALSE(replaced) << "a new user beside another";
    ASSERT_THAT(Service::AddUser(Users(), "alice", "new", &replaced), IsSuccessError());
    EXPECT_TRUE(replaced);
    EXPECT_THAT(Service::AddUser(Users(), "alice", "", &replaced), ErrorIs(FileErrors::kCorrupted));
    EXPECT_FALSE(replaced) << "a refusal replaces nothing";
    Service::UserTable users;
    ASSERT_THAT(Service::LoadUsers(Users(), users), IsSuccessError());
    EXPECT_EQ(users.size(), 2u);
    EXPECT_TRUE(Service::CheckPassword(users, "alice", "new"));
    EXPECT_FALSE(Service::CheckPassword(users, "alice", "old"));
    EXPECT_TRUE(Service::CheckPassword(users, "bob", "other"));
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

TEST_F(UserFile, RefusedLinesAreNamedByFileAndLine)
{
    // A real hash of the interactive limits, and forms of it libsodium reads but that cost more.
    ASSERT_THAT(Service::AddUser(Users(), "model", "pw"), IsSuccessError());
    std::string hash;
    {
        std::ifstream in(Users());
        std::string line;
        ASSERT_TRUE(std::getline(in, line));
        hash = line.substr(line.find(':') + 1);
    }
    const auto costlier = [&hash](const std::string& from, const std::string& to) {
        std::string changed = hash;
        changed.replace(changed.find(from), from.size(), to);
        return changed;
    };
    ASSERT_NE(hash.find("$m=65536,t=2,p=1$"), std::string::npos) << hash;
    const std::string longName(Ipc::kMaxHelloPayload, 'n');
    struct Case
    {
        std::string text;
        unsigned line;
        const char* reason;
    };
    const Case cases[] = {
        {"alice\n", 1, "is not user:hash"},
        {":" + hash + "\n", 1, "is not user:hash"},
        {"alice:\n", 1, "is not user:hash"},
        {"ok:" + hash + "\nbroken\n", 2, "is not user:hash"},
        {"alice:" + hash + "\r\n", 1, "carriage return"},
        {"ok:" + hash + "\n\r\n", 2, "carriage return"},
        {"\xEF\xBB\xBF"
         "alice:" +
             hash + "\n",
         1, "byte-order mark"},
        {" alice:" + hash + "\n", 1, "starts or ends with a blank"},
        {"alice :" + hash + "\n", 1, "starts or ends with a blank"},
        {"\talice:" + hash + "\n", 1, "starts or ends with a blank"},
        {"al\xFFice:" + hash + "\n", 1, "not valid UTF-8"},
        {longName + ":" + hash + "\n", 1, "too long to log in"},
        {"alice:secret\n", 1, "not one libsodium can read"},
        {"alice:" + hash.substr(0, hash.rfind('$')) + "\n", 1, "not one libsodium can read"},
        {"alice:" + costlier("$argon2id$", "$argon2x$") + "\n", 1, "not one libsodium can read"},
        {"alice:" + costlier("m=65536", "m=1048576") + "\n", 1, "costs more"},
        {"alice:" + costlier("t=2", "t=3") + "\n", 1, "costs more"},
        {"alice:" + costlier("p=1", "p=2") + "\n", 1, "costs more"},
    };
    for (const Case& c : cases) {
        {
            std::ofstream(Users(), std::ios::binary | std::ios::trunc) << c.text;
        }
        ASSERT_EQ(chmod(Users().c_str(), 0600), 0);
        Service::UserTable users{{"kept", "x"}};
        const Common::Error error = Service::LoadUsers(Users(), users);
        const std::string text = Common::ToUtf8(error.GetText().c_str());
        EXPECT_THAT(error, ErrorIs(FileErrors::kCorrupted)) << c.reason;
        EXPECT_THAT(text,
                    AllOf(HasSubstr(Users()), HasSubstr("line " + std::to_string(c.line) + " "), HasSubstr(c.reason)));
        EXPECT_EQ(users.size(), 1u) << c.reason;
    }
    // Blank lines between good ones are no fault, and a good line loads.
    {
        std::ofstream(Users(), std::ios::trunc) << "\nalice:" << hash << "\n\n";
    }
    Service::UserTable users;
    EXPECT_THAT(Service::LoadUsers(Users(), users), IsSuccessError());
    EXPECT_EQ(users.count("alice"), 1u);
}

TEST_F(UserFile, WeakerHashesThanAddUserMakesAreAcceptedWithAWarningNamingTheLine)
{
    ASSERT_THAT(Service::AddUser(Users(), "model", "pw"), IsSuccessError());
    std::string strong;
    {
        std::ifstream in(Users());
        std::string line;
        ASSERT_TRUE(std::getline(in, line));
        strong = line.substr(line.find(':') + 1);
    }
    // The same parameters under the older algorithm: libsodium alone would find nothing to rehash.
    std::string argon2i = strong;
    argon2i.replace(0, std::string("$argon2id$").size(), "$argon2i$");
    const std::string lessMemory = ServiceTesting::HashWith("pw", crypto_pwhash_ALG_ARGON2ID13,
                                                            Service::kHashOperationsLimit, 8192);
    const std::string fewerPasses = ServiceTesting::HashWith("pw", crypto_pwhash_ALG_ARGON2ID13, 1,
                                                             Service::kHashMemoryLimit);
    const std::string cheapest = ServiceTesting::HashWith("pw", crypto_pwhash_ALG_ARGON2ID13, 1, 8192);
    ASSERT_FALSE(lessMemory.empty() || fewerPasses.empty() || cheapest.empty());
    const std::string adduser = "; adduser makes argon2id, m=65536, t=2): add the user again to replace it";
    const std::string text = "strong:" + strong + "\n" + "old:" + argon2i + "\n\n" + "lean:" + lessMemory + "\n" +
        "quick:" + fewerPasses + "\n" + "cheap:" + cheapest + "\n";
    {
        std::ofstream(Users(), std::ios::trunc) << text;
    }
    Service::UserTable users;
    std::vector<std::string> warnings{"kept"};
    ASSERT_THAT(Service::LoadUsers(Users(), users, &warnings), IsSuccessError());
    const std::string named = "users file " + Users() + ": line ";
    const std::string weaker = ": its hash is weaker than those adduser makes (";
    EXPECT_THAT(warnings,
                ::testing::ElementsAre("kept", named + "2" + weaker + "argon2i, m=65536, t=2" + adduser,
                                       named + "4" + weaker + "argon2id, m=8, t=2" + adduser,
                                       named + "5" + weaker + "argon2id, m=65536, t=1" + adduser,
                                       named + "6" + weaker + "argon2id, m=8, t=1" + adduser));
    // Still accepted: they log in.
    EXPECT_EQ(users.size(), 5u);
    EXPECT_TRUE(Service::CheckPassword(users, "lean", "pw"));
    EXPECT_TRUE(Service::CheckPassword(users, "cheap", "pw"));
    EXPECT_FALSE(Service::CheckPassword(users, "cheap", "wrong"));

    // A refused file gives no warnings.
    {
        std::ofstream(Users(), std::ios::trunc) << "cheap:" << cheapest << "\nbroken\n";
    }
    warnings.clear();
    EXPECT_THAT(Service::LoadUsers(Users(), users, &warnings), ErrorIs(FileErrors::kCorrupted));
    EXPECT_THAT(warnings, ::testing::IsEmpty());
}

TEST_F(UserFile, AddUserRefusesWhatCouldNeverLogIn)
{
    const size_t room = Ipc::kMaxHelloPayload - 8; // a Hello's bytes for user and password
    struct Case
    {
        std::string user;
        std::string password;
        const char* reason;
    };
    const Case cases[] = {
        {"", "pw", "empty"},
        {"a:b", "pw", "':'"},
        {"a\nb", "pw", "line break"},
        {"a\rb", "pw", "line break"},
        {std::string("a\0b", 3), "pw", "NUL"},
        {" alice", "pw", "blank"},
        {"alice\t", "pw", "blank"},
        {"\xEF\xBB\xBF"
         "alice",
         "pw", "byte-order mark"},
        {"al\xFFice", "pw", "UTF-8"},
        {"al\xC3", "pw", "UTF-8"},
        {std::string(room, 'u'), "pw", "too long to log in"},
        {"alice", "", "1 to 1024 bytes"},
        {"alice", std::string(Service::kMaxPasswordSize + 1, 'p'), "1 to 1024 bytes"},
        {"alice", "pa\xFFss", "UTF-8"},
        {"alice", std::string("pa\0ss", 5), "NUL"},
        {std::string(room - Service::kMaxPasswordSize + 1, 'u'), std::string(Service::kMaxPasswordSize, 'p'),
         "a login may carry"},
    };
    for (const Case& c : cases) {
        const Common::Error error = Service::AddUser(Users(), c.user, c.password);
        EXPECT_THAT(error, ErrorIs(FileErrors::kCorrupted)) << c.reason;
        EXPECT_THAT(Common::ToUtf8(error.GetText().c_str()), AllOf(HasSubstr(Users()), HasSubstr(c.reason)));
    }
    struct stat status
    {
    };
    EXPECT_NE(stat(Users().c_str(), &status), 0); // nothing was written
    // At the limits themselves a user is added.
    EXPECT_THAT(Service::AddUser(Users(), std::string(room - Service::kMaxPasswordSize, 'u'),
                                 std::string(Service::kMaxPasswordSize, 'p')),
                IsSuccessError());
    EXPECT_THAT(Service::AddUser(Users(), "Jürgen", "pässwörd ✓"), IsSuccessError());
}

TEST_F(UserFile, AFileThatCannotBeReadIsNamed)
{
    ASSERT_EQ(mkfifo(PathOf("fifo").c_str(), 0600), 0);
    for (const std::string& path : {PathOf("missing"), PathOf("fifo"), std::string("/dev/null")}) {
        Service::UserTable users;
        const Common::Error error = Service::LoadUsers(path, users); // a FIFO without writer answers at once
        EXPECT_FALSE(error.IsSuccess()) << path;
        EXPECT_THAT(Common::ToUtf8(error.GetText().c_str()), HasSubstr(path));
    }
}

} // namespace
