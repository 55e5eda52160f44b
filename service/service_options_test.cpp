#include "service/service_options.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/ipc/host_address.h"
#include "service/store_location.h"

namespace {

using Command = Service::ServiceOptions::Command;

TEST(ServiceOptions, ServeAndAddUserForms)
{
    struct Case
    {
        std::vector<std::string> arguments;
        Command command;
        const char* address;
        uint16_t port;
        const char* portFile;
        const char* storePath;
        const char* usersFile;
        const char* user;
    };
    const Case cases[] = {
        {{"users"}, Command::Serve, "127.0.0.1", Ipc::kDefaultServicePort, "", "", "users", ""},
        {{"--port", "0", "--port-file", "p", "users"}, Command::Serve, "127.0.0.1", 0, "p", "", "users", ""},
        {{"--listen", "::1", "users", "--port", "65535"}, Command::Serve, "::1", 65535, "", "", "users", ""},
        {{"--store", "/tmp/s.db", "users"},
         Command::Serve,
         "127.0.0.1",
         Ipc::kDefaultServicePort,
         "",
         "/tmp/s.db",
         "users",
         ""},
        {{"adduser", "users", "alice"},
         Command::AddUser,
         "127.0.0.1",
         Ipc::kDefaultServicePort,
         "",
         "",
         "users",
         "alice"},
    };
    for (const Case& c : cases) {
        Service::ServiceOptions options;
        std::string problem;
        ASSERT_TRUE(Service::ParseServiceOptions(c.arguments, options, problem)) << problem;
        EXPECT_EQ(options.command, c.command);
        EXPECT_EQ(options.address, c.address);
        EXPECT_EQ(options.port, c.port);
        EXPECT_EQ(options.portFile, c.portFile);
        EXPECT_EQ(options.storePath, c.storePath);
        EXPECT_EQ(options.usersFile, c.usersFile);
        EXPECT_EQ(options.user, c.user);
    }
}

TEST(ServiceOptions, HelpWinsWhereverItIsAsked)
{
    const std::vector<std::string> cases[] = {
        {"--help"},        {"-h"}, {"--port", "1", "-h"}, {"users", "--help"}, {"adduser", "users", "--help"},
        {"--bogus", "-h"},
    };
    for (const auto& arguments : cases) {
        Service::ServiceOptions options;
        std::string problem;
        ASSERT_TRUE(Service::ParseServiceOptions(arguments, options, problem)) << problem;
        EXPECT_EQ(options.command, Command::Help);
    }
}

TEST(ServiceOptions, MistakesAreNamed)
{
    const std::vector<std::string> cases[] = {
        {},
        {"a", "b"},
        {"--port"},
        {"--port", "65536", "users"},
        {"--port", "-1", "users"},
        {"--port", "x", "users"},
        {"users", "--store"},
        {"--verbose", "users"},
        {"adduser", "users"},
        {"adduser", "users", "alice", "extra"},
    };
    for (const auto& arguments : cases) {
        Service::ServiceOptions options;
        std::string problem;
        EXPECT_FALSE(Service::ParseServiceOptions(arguments, options, problem));
        EXPECT_FALSE(problem.empty());
    }
}

// The usage names the defaults that a bare command line gets, and how the
// default store is found.
TEST(ServiceOptions, UsageNamesTheDefaultsInForce)
{
    using ::testing::HasSubstr;
    Service::ServiceOptions options;
    std::string problem;
    ASSERT_TRUE(Service::ParseServiceOptions({"users"}, options, problem)) << problem;
    const std::string usage = Service::kServiceUsage;
    EXPECT_THAT(usage, HasSubstr("(default " + options.address + ")"));
    EXPECT_THAT(usage, HasSubstr("(default " + std::to_string(options.port) + ";"));
    EXPECT_THAT(usage, HasSubstr(std::string(Service::kStoreFileName) + " in\n"));
    EXPECT_THAT(usage, HasSubstr(std::string("$") + Service::kStoreFolderVariable));
    EXPECT_THAT(usage, HasSubstr("SIGTERM or SIGINT"));
}

TEST(ServiceOptions, TheReplyBudgetIsAWholeNumberOfMegabytesWithinItsBoundElseTheDefault)
{
    struct Case
    {
        const char* value;
        size_t megabytes;
    };
    const Case cases[] = {
        {nullptr, 256},   {"", 256},
        {"16", 16},       {"1", 1},
        {"65536", 65536}, {"0", 256},
        {"65537", 256},   {"-16", 256},
        {"+16", 256},     {" 16", 256},
        {"16 ", 256},     {"16MB", 256},
        {"0x10", 256},    {"99999999999999999999999", 256},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Service::ResolveReplyBudget(c.value), c.megabytes << 20) << (c.value ? c.value : "(unset)");
}

} // namespace
