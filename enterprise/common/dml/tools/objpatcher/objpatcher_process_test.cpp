// The objpatcher program end to end: on the local road against a store in a
// temporary folder, and on the remote road against objpatcher-service on an
// ephemeral loopback port.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "core/common/text_conversion.h"
#include "enterprise/common/dml/object_key.h"
#include "enterprise/common/dml/tools/objpatcher/tool.h"
#include "enterprise/common/por/blob_walking_route.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/test_support/render.h"
#include "platform/ipc/packet_handler.h"
#include "platform/security/security_core.h"
#include "service/object_key.h"
#include "service/service_core.h"
#include "service/service_test_support.h"
#include "service/store.h"
#include "service/store_location.h"
#include "service/user_file.h"
#include "testing/captured_output.h"
#include "testing/error_matchers.h"
#include "testing/scoped_environment.h"
#include "testing/temporary_folder.h"

namespace {

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

constexpr const char* kPassword = "pw-7f3a9c-secret";
constexpr int kDmlCode = 46;
constexpr int kHubCode = 33;
constexpr const char* kLocalHost = "localhost";

struct Outcome
{
    int status = -1;
    std::string output;
};

std::string Printer(const std::string& id, const std::string& kind, const std::string& location)
{
    return ".Composite() .Property(\"ID\").String(\"" + id +
        "\") .Trait(\"PrimaryKey\").Nil().End() .End()"
        " .Property(\"Kind\").String(\"" +
        kind +
        "\").End()"
        " .Property(\"Location\").String(\"" +
        location + "\").End() .End()";
}

class ObjpatcherProgram : public ::testing::Test
{
protected:
    void SetUp() override { UseMemoryStore(); }
    void TearDown() override { StopService(); }

    std::string PathOf(const std::string& name) const { return m_folder.PathOf(name); }

    // Moves the store into memory when the machine has a memory file system:
    // each update commits with a sync, which a disk makes slow.
    void UseMemoryStore()
    {
        try {
            m_memoryFolder.emplace("objpatcher_store", "/dev/shm");
        } catch (const std::system_error&) {
            return; // the store stays on disk
        }
        m_store = m_memoryFolder->PathOf("store");
    }

    // Starts the program with `arguments`; its standard output is read from
    // the returned descriptor.
    pid_t Start(const std::vector<std::string>& arguments, int& output) const
    {
        int pipeEnds[2];
        if (pipe(pipeEnds) != 0)
            return -1;
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(pipeEnds[1], STDOUT_FILENO);
            close(pipeEnds[0]);
            if (chdir(m_folder.Path().c_str()) != 0)
                _exit(126);
            setenv(Service::kStoreFolderVariable, m_store.c_str(), 1);
            std::vector<char*> argv{const_cast<char*>(OBJPATCHER_PROGRAM)};
            for (const std::string& argument : arguments)
                argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            execv(OBJPATCHER_PROGRAM, argv.data());
            _exit(127);
        }
        close(pipeEnds[1]);
        output = pipeEnds[0];
        return pid;
    }

    static Outcome Finish(pid_t pid, int output)
    {
        Outcome outcome;
        char buffer[4096];
        ssize_t count = 0;
        while ((count = read(output, buffer, sizeof buffer)) > 0)
            outcome.output.append(buffer, static_cast<size_t>(count));
        close(output);
        int status = 0;
        if (waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            outcome.status = WEXITSTATUS(status);
        EXPECT_THAT(outcome.output, Not(HasSubstr(kPassword)));
        return outcome;
    }

    Outcome Run(const std::vector<std::string>& arguments) const
    {
        int output = -1;
        const pid_t pid = Start(arguments, output);
        EXPECT_GT(pid, 0);
        return Finish(pid, output);
    }

    // Runs `command` with a POR text on the road the host and service select.
    Outcome Command(const std::string& command, const std::string& text) const
    {
        return Run({m_host, "alice", kPassword, m_service, command, "from_text", text});
    }

    // Creates printers `first` .. `first + count - 1` through `host`, all at
    // once; true when every run succeeded.
    bool CreateAtOnce(const std::string& host, int first, int count) const
    {
        std::vector<std::pair<pid_t, int>> runs;
        for (int i = first; i < first + count; ++i) {
            int output = -1;
            const pid_t pid = Start({host, "alice", kPassword, m_service, "create", "from_text",
                                     Printer("p" + std::to_string(i), "printer", "x")},
                                    output);
            if (pid > 0)
                runs.emplace_back(pid, output);
        }
        bool succeeded = static_cast<int>(runs.size()) == count;
        for (const auto& [pid, output] : runs) {
            const Outcome outcome = Finish(pid, output);
            EXPECT_EQ(outcome.status, 0) << outcome.output;
            succeeded = succeeded && outcome.status == 0;
        }
        return succeeded;
    }

    // Stores printers `first` .. `first + count - 1` straight into the store,
    // in one transaction, as the service would register them.
    void StoreDirectly(int first, int count) const
    {
        ASSERT_THAT(Service::CreateFolders(m_store), Testing::IsSuccessError());
        std::unique_ptr<Service::Store> store;
        ASSERT_THAT(Service::Store::Open(m_store + "/" + Service::kStoreFileName, store), Testing::IsSuccessError());
        const Por::Construction::InMemoryUnitFactory factory;
        const PorTesting::Make m(factory);
        ASSERT_THAT(store->Run(Service::Store::Mode::Write,
                               [&](Service::Transaction& objects) {
                                   Common::Error error;
                                   for (int i = first; error.IsSuccess() && i < first + count; ++i) {
                                       const std::u16string id = u"p" + Common::FromUtf8(std::to_string(i).c_str());
                                       const auto object = m.Composite(
                                           m.Prop("ID", m.With(m.String(id), "PrimaryKey", m.Nil())),
                                           m.Prop("Kind", m.String(u"printer")), m.Prop("Location", m.String(u"x")));
                                       std::vector<unsigned char> body;
                                       Por::Util::WriteBinaryUnit(*object, body);
                                       error = objects.Insert(m_serviceCode,
                                                              Service::MakeKeyBytes(Dml::GetObjectKey(*object)), body);
                                   }
                                   return error;
                               }),
                    Testing::IsSuccessError());
    }

    // Every stored object of the service code, rendered, in store order.
    std::vector<std::string> Stored(int serviceCode = kDmlCode) const
    {
        std::vector<std::string> rendered;
        if (!std::filesystem::exists(m_store + "/" + Service::kStoreFileName))
            return rendered; // nothing was ever stored
        std::unique_ptr<Service::Store> store;
        EXPECT_THAT(Service::Store::Open(m_store + "/" + Service::kStoreFileName, store), Testing::IsSuccessError());
        if (!store)
            return rendered;
        std::vector<Service::StoredObject> objects;
        EXPECT_THAT(store->Run(Service::Store::Mode::Read,
                               [&](Service::Transaction& transaction) {
                                   return transaction.List(serviceCode, {}, Service::kNoLimit, objects);
                               }),
                    Testing::IsSuccessError());
        const Por::Construction::InMemoryUnitFactory factory;
        for (const Service::StoredObject& object : objects) {
            const std::vector<unsigned char> body(object.body.begin(), object.body.end());
            const auto unit = Por::Util::ReadBinaryUnit(body, factory);
            rendered.push_back(unit ? PorTesting::Render(*unit) : "(none)");
        }
        return rendered;
    }

    // Starts objpatcher-service for user alice on an ephemeral loopback port
    // and makes the commands take the remote road to it.
    void UseService()
    {
        ASSERT_THAT(Service::AddUser(PathOf("users"), "alice", kPassword), Testing::IsSuccessError());
        ASSERT_THAT(Service::CreateFolders(m_store), Testing::IsSuccessError());
        int port = 0;
        m_service_pid = ServiceTesting::LaunchService(PathOf("users"), m_store + "/" + Service::kStoreFileName, port);
        ASSERT_NE(port, 0) << "the service reported no port";
        m_host = "127.0.0.1:" + std::to_string(port);
        m_service = "HUB";
        m_serviceCode = kHubCode;
    }

    void StopService()
    {
        if (m_service_pid > 0) {
            kill(m_service_pid, SIGTERM);
            waitpid(m_service_pid, nullptr, 0);
            m_service_pid = 0;
        }
    }

    Testing::TemporaryFolder m_folder{"objpatcher_program"};
    std::optional<Testing::TemporaryFolder> m_memoryFolder;
    std::string m_store = m_folder.PathOf("store");
    std::string m_host = kLocalHost;
    std::string m_service = "DML";
    int m_serviceCode = kDmlCode;
    pid_t m_service_pid = 0;
};

class ObjpatcherRoads : public ObjpatcherProgram, public ::testing::WithParamInterface<bool>
{
protected:
    void SetUp() override
    {
        ObjpatcherProgram::SetUp();
        if (GetParam())
            UseService();
    }
};

TEST_P(ObjpatcherRoads, CreateRegistersThenUpdatesTheObjectOfTheSameKey)
{
    Outcome outcome = Command("create", Printer("p1", "printer", "room 101"));
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_THAT(outcome.output, StartsWith("Interpret trace: .Composite()"));
    EXPECT_THAT(Stored(m_serviceCode),
                ::testing::ElementsAre("{ID: String \"p1\" <PrimaryKey>, Kind: String \"printer\", "
                                       "Location: String \"room 101\"}"));

    outcome = Command("create", Printer("p1", "printer", "room 202"));
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_THAT(Stored(m_serviceCode),
                ::testing::ElementsAre("{ID: String \"p1\" <PrimaryKey>, Kind: String \"printer\", "
                                       "Location: String \"room 202\"}"));
}

TEST_P(ObjpatcherRoads, UpdateByIdWithStateChangesThatObjectOnly)
{
    ASSERT_EQ(Command("create", Printer("p1", "printer", "a")).status, 0);
    ASSERT_EQ(Command("create", Printer("p2", "printer", "b")).status, 0);
    const Outcome outcome = Command("update",
                                    ".Composite() .Property(\"ID\").String(\"p2\").End()"
                                    " .Property(\"State\").Composite()"
                                    " .Property(\"Location\").String(\"c\").End() .End() .End()");
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_THAT(Stored(m_serviceCode),
                ::testing::ElementsAre(HasSubstr("Location: String \"a\""), HasSubstr("Location: String \"c\"")));
}

TEST_P(ObjpatcherRoads, UpdateByPatternWithDiffChangesEveryMatch)
{
    ASSERT_EQ(Command("create", Printer("p1", "printer", "a")).status, 0);
    ASSERT_EQ(Command("create", Printer("s1", "scanner", "a")).status, 0);
    ASSERT_EQ(Command("create", Printer("p2", "printer", "b")).status, 0);
    const Outcome outcome = Command("update",
                                    ".Composite() .Property(\"Pattern\").Composite()"
                                    " .Property(\"Kind\").String(\"printer\").End() .End()"
                                    " .Property(\"Diff\").Composite() .Trait(\"PackedDiff\").Nil().End()"
                                    " .Property(\"Location\").String(\"basement\").End() .End() .End()");
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_THAT(Stored(m_serviceCode),
                ::testing::ElementsAre(HasSubstr("Location: String \"basement\""), HasSubstr("Location: String \"a\""),
                                       HasSubstr("Location: String \"basement\"")));
}

TEST_P(ObjpatcherRoads, DeleteRemovesEveryMatchAndMatchingNothingSucceeds)
{
    constexpr int kPrinters = 250;
    // Stored straight into the store under the road's service code (the create
    // tests take the roads): the delete below takes the road under test.
    StoreDirectly(0, kPrinters);
    ASSERT_EQ(Command("create", Printer("s1", "scanner", "x")).status, 0);
    ASSERT_EQ(Stored(m_serviceCode).size(), kPrinters + 1u);

    const std::string printers = ".Composite() .Property(\"Kind\").String(\"printer\").End() .End()";
    Outcome outcome = Command("delete", printers);
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_THAT(Stored(m_serviceCode), ::testing::ElementsAre(HasSubstr("scanner")));

    outcome = Command("delete", printers);
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_EQ(Stored(m_serviceCode).size(), 1u);
}

TEST_P(ObjpatcherRoads, AnUnknownCommandIsNamedAfterConnecting)
{
    for (const std::string word : {"Create", "updte"}) {
        const Outcome outcome = Command(word, Printer("p1", "printer", "a"));
        EXPECT_EQ(outcome.status, 1);
        const std::string text = "Error 0xfa000d: POR: Property '" + word +
            "' cannot be found.\n"
            "| line: 0x6f7744b1cdc5bd21\n"
            "| file: enterprise/common/dml/tools/objpatcher/main:326\n"
            "| function: main\n"
            "| TraceLevel: 0x1\n"
            "| $module: objpatcher_lxa64_43043\n"
            "| reason: The command '" +
            word + "' is unknown: the commands are create, update and delete.\n";
        const size_t trace = outcome.output.find("\nFailed to process request:\n");
        ASSERT_NE(trace, std::string::npos) << outcome.output;
        EXPECT_EQ(outcome.output.substr(trace + 1), "Failed to process request:\n" + text + text)
            << "the error text is printed twice";
    }
    EXPECT_TRUE(Stored(m_serviceCode).empty());
}

// The first failure stops "update"; the error names the object and how many
// were updated before it.
TEST_P(ObjpatcherRoads, AnUpdateThatStopsNamesTheObjectAndTheCountUpdated)
{
    auto owned = [](const std::string& id, const std::string& owner) {
        return ".Composite() .Property(\"ID\").String(\"" + id +
            "\") .Trait(\"PrimaryKey\").Nil().End() .End()"
            " .Property(\"Kind\").String(\"printer\").End()" +
            (owner.empty() ? "" : " .Property(\"Owner\").String(\"" + owner + "\").End()") + " .End()";
    };
    ASSERT_EQ(Command("create", owned("p1", "a")).status, 0);
    ASSERT_EQ(Command("create", owned("p2", "")).status, 0);
    ASSERT_EQ(Command("create", owned("p3", "c")).status, 0);
    const Outcome outcome = Command("update",
                                    ".Composite() .Property(\"Pattern\").Composite()"
                                    " .Property(\"Kind\").String(\"printer\").End() .End()"
                                    " .Property(\"Diff\").Composite() .Trait(\"PackedDiff\").Nil().End()"
                                    " .Property(\"Owner\").String(\"x\").End() .End() .End()");
    EXPECT_EQ(outcome.status, 1);
    // The service's refusal is the error itself, or, when its completion came
    // while the framework still counted the update pending, the cause of the
    // framework's record; the object and the count are on the first record.
    EXPECT_THAT(outcome.output, HasSubstr("Failed to process request:\nError 0x"));
    EXPECT_THAT(outcome.output,
                ContainsRegex("(Error|\\| error) 0xfc0f00: The patch does not fit the object: "
                              "property 'Owner' is missing\\.\n"));
    EXPECT_THAT(outcome.output,
                HasSubstr("| object: .String(\"p2\") .Trait(\"PrimaryKey\").Nil().End() .End()\n"
                          "| objects updated: 1\n"));
    EXPECT_THAT(Stored(m_serviceCode),
                ::testing::ElementsAre(HasSubstr("Owner: String \"x\""), Not(HasSubstr("Owner")),
                                       HasSubstr("Owner: String \"c\"")));
}

TEST_P(ObjpatcherRoads, EightConcurrentCreatesAreAllStored)
{
    EXPECT_TRUE(CreateAtOnce(m_host, 0, 8));
    EXPECT_EQ(Stored(m_serviceCode).size(), 8u);
}

INSTANTIATE_TEST_SUITE_P(Road, ObjpatcherRoads, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Remote" : "Local"; });

// "update" by "Pattern" reads one view of at most 2000 objects: a view that
// full cannot tell whether more match, so the run fails once all of them are
// updated; one object fewer is a success.
TEST_F(ObjpatcherProgram, AnUpdateWhoseViewIsFullFailsAfterUpdatingAll)
{
    constexpr int kLimit = 2000;
    const std::string update = ".Composite() .Property(\"Pattern\").Composite()"
                               " .Property(\"Kind\").String(\"printer\").End() .End()"
                               " .Property(\"Diff\").Composite() .Trait(\"PackedDiff\").Nil().End()"
                               " .Property(\"Location\").String(\"moved\").End() .End() .End()";
    auto moved = [this] {
        const std::vector<std::string> objects = Stored();
        return std::count_if(objects.begin(), objects.end(),
                             [](const std::string& object) { return object.find("moved") != std::string::npos; });
    };

    StoreDirectly(0, kLimit - 1);
    Outcome outcome = Command("update", update);
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_THAT(outcome.output, Not(HasSubstr("Failed")));
    EXPECT_EQ(moved(), kLimit - 1);

    StoreDirectly(kLimit - 1, 2); // 2001 printers now
    outcome = Command("update", update);
    EXPECT_EQ(outcome.status, 1);
    const std::string text = "DML: The view was full at its limit of 2000 objects: 2000 objects were updated, and "
                             "more objects may match.";
    EXPECT_THAT(outcome.output, HasSubstr("Failed to process request:\nError 0xfc0201: " + text + "\n"));
    EXPECT_EQ(moved(), kLimit) << "the view's first 2000 objects were updated, the last one not";
    EXPECT_THAT(Stored().back(), HasSubstr("Location: String \"x\""));
}

TEST_F(ObjpatcherProgram, AnInputThatEndsBeforeItsUnitIsAFailedRequest)
{
    std::ofstream(PathOf("empty.por")).flush();
    struct Case
    {
        std::vector<std::string> input;
        const char* counts;
    };
    const Case cases[] = {
        {{"from_text", ".Composite() .Property(\"ID\").String(\"p1\").End()"},
         "statements read: 4; units without their .End(): 1"},
        {{"empty.por"}, "statements read: 0; units without their .End(): 0"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments{"localhost", "alice", kPassword, "DML", "create"};
        arguments.insert(arguments.end(), c.input.begin(), c.input.end());
        const Outcome outcome = Run(arguments);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_THAT(outcome.output,
                    HasSubstr(std::string("Failed to process request:\nError 0xfa000b: POR: The "
                                          "input ends before its unit is complete (") +
                              c.counts + ").\n"));
    }
    EXPECT_TRUE(Stored().empty());
}

// A store folder that is a file: every command's failure names the folder
// and the reason, and keeps the texts of the layers it passed.
TEST_F(ObjpatcherProgram, AStoreFolderThatIsAFileIsNamedWithTheReason)
{
    std::ofstream(m_store) << "not a folder";
    struct Case
    {
        const char* command;
        std::string input;
        const char* firstLine;
    };
    const Case cases[] = {
        {"create", Printer("p1", "printer", "a"), "Error 0xf90004: DML process object by ID job.\n"},
        {"update", ".Composite() .Property(\"ID\").String(\"p1\").End() .Property(\"State\").Composite() .End() .End()",
         "Error 0xfc0103: DML store: The folder "},
        {"delete", ".Composite() .Property(\"Kind\").String(\"printer\").End() .End()",
         "Error 0xfc0103: DML store: The folder "},
    };
    for (const Case& c : cases) {
        const Outcome outcome = Command(c.command, c.input);
        EXPECT_EQ(outcome.status, 1) << c.command;
        EXPECT_THAT(outcome.output, HasSubstr(std::string("Failed to process request:\n") + c.firstLine)) << c.command;
        EXPECT_THAT(
            outcome.output,
            HasSubstr("DML store: The folder " + m_store + " of the local store cannot be used: Not a directory.\n"))
            << c.command;
        EXPECT_THAT(outcome.output, HasSubstr("| error 0x4000a: Error occurred while creating the file.\n"))
            << c.command;
    }
}

TEST_F(ObjpatcherProgram, FiveArgumentsPrintTheUsageText)
{
    const Outcome outcome = Run({"localhost", "alice", kPassword, "DML", "create"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_THAT(outcome.output,
                StartsWith("Usage: objpatcher <hostname> <user> <password> <service> <command> "
                           "<command_args>\n"));
    EXPECT_THAT(outcome.output, ::testing::EndsWith("         For delete: ('Pattern').\n\n"));
}

TEST_F(ObjpatcherProgram, SixArgumentsReadAFileNamedFromText)
{
    Outcome outcome = Run({"localhost", "alice", kPassword, "DML", "create", "from_text"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_THAT(outcome.output, HasSubstr("Failed to process request:\n"));
    EXPECT_THAT(outcome.output, HasSubstr("Cannot read from file 'from_text'"));

    std::ofstream(PathOf("from_text")) << Printer("p1", "printer", "a");
    outcome = Run({"localhost", "alice", kPassword, "DML", "create", "from_text"});
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_THAT(Stored(), ::testing::ElementsAre(HasSubstr("ID: String \"p1\"")));
}

TEST_F(ObjpatcherProgram, AWrongPasswordOrAStoppedServiceFailsToConnect)
{
    UseService();
    Outcome outcome = Run({m_host, "alice", "wrong-password", "HUB", "create", "from_text", Printer("p", "k", "l")});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_THAT(outcome.output, HasSubstr("Failed to connect:\n"));
    EXPECT_THAT(outcome.output, Not(HasSubstr("wrong-password")));

    StopService();
    outcome = Command("Create", Printer("p", "k", "l")); // the command is not looked at before connecting
    EXPECT_EQ(outcome.status, 1);
    EXPECT_THAT(outcome.output, HasSubstr("Failed to connect:\n"));
    EXPECT_THAT(outcome.output, Not(HasSubstr("Failed to process request:")));
}

TEST_F(ObjpatcherProgram, AFailingSecurityStartUpIsAFailedRequest)
{
    SecurityStandIn::SetInitializeOutcomeForTesting(SecurityStandIn::InitializeOutcome::FailWithoutBlock);
    const char* argv[] = {"objpatcher", "localhost", "alice", kPassword, "DML", "create", "from_text", ".Nil().End()"};
    std::ostringstream out;
    const int status = ::Objpatcher::RunTool(8, argv, out);
    SecurityStandIn::SetInitializeOutcomeForTesting(SecurityStandIn::InitializeOutcome::Succeed);
    EXPECT_EQ(status, 1);
    EXPECT_THAT(out.str(), StartsWith("Failed to process request:\n"));
    EXPECT_THAT(out.str(), HasSubstr("An invalid operation result is returned from security core."));
    EXPECT_THAT(out.str(), Not(HasSubstr(kPassword)));
}

// Counts, for each record a delete registers, how many objects it removed.
class CountingPeer final : public Ipc::PacketHandler
{
public:
    explicit CountingPeer(std::string storePath) : m_storePath(std::move(storePath)) {}

    Common::Error Handle(const Ipc::CallContext& context, Ipc::ByteView request, Ipc::Bytes& reply) override
    {
        const std::string text(request.begin(), request.end());
        const bool registration = text.find("request_ObjectManager_RegisterObject") != std::string::npos;
        const uint64_t before = registration ? Count() : 0;
        const Common::Error error = Service::GetServiceHandler().Handle(context, request, reply);
        if (registration)
            removed.push_back(before - Count());
        return error;
    }

    std::vector<uint64_t> removed;

private:
    uint64_t Count() const
    {
        std::unique_ptr<Service::Store> store;
        uint64_t count = 0;
        if (Service::Store::Open(m_storePath, store).IsSuccess())
            (void)store->Run(Service::Store::Mode::Read, [&](Service::Transaction& objects) {
                return objects.Count(kDmlCode, {}, count);
            }); // a failed count shows as a wrong batch size below
        return count;
    }

    std::string m_storePath;
};

TEST_F(ObjpatcherProgram, DeleteRemovesInBatchesOfAHundred)
{
    const Testing::ScopedEnvironmentVariable storeFolder(Service::kStoreFolderVariable, m_store.c_str());
    auto run = [](const std::string& command, const std::string& text) {
        Testing::CapturedOutput trace;
        const char* argv[] = {"objpatcher", "localhost",     "alice",     kPassword,
                              "DML",        command.c_str(), "from_text", text.c_str()};
        std::ostringstream out;
        const int status = ::Objpatcher::RunTool(8, argv, out);
        EXPECT_EQ(out.str(), "");
        return status;
    };
    for (int i = 0; i < 250; ++i)
        ASSERT_EQ(run("create", Printer("p" + std::to_string(i), "printer", "x")), 0);
    ASSERT_EQ(Stored().size(), 250u);

    CountingPeer peer(m_store + "/" + Service::kStoreFileName);
    Ipc::RegisterLocalHandler(&peer);
    const int status = run("delete", ".Composite() .Property(\"Kind\").String(\"printer\").End() .End()");
    Ipc::RegisterLocalHandler(&Service::GetServiceHandler());
    EXPECT_EQ(status, 0);
    EXPECT_THAT(peer.removed, ::testing::ElementsAre(100u, 100u, 50u));
    EXPECT_TRUE(Stored().empty());
}

} // namespace
