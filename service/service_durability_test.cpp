// Many writers at once on the service's store: every write the service
// answered survives a kill -9 of the service process, and the local road and
// a service process writing to one store at once both land everything.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "enterprise/common/por/typed_access.h"
#include "enterprise/common/por/utils.h"
#include "platform/ipc/ipc_errors.h"
#include "platform/ipc/socket_transport.h"
#include "service/request_packets_test_support.h"
#include "service/service_core.h"
#include "service/service_test_support.h"
#include "service/user_file.h"
#include "testing/error_matchers.h"

namespace {

using namespace ServiceTesting;
using Testing::ErrorIs;
using Testing::IsSuccessError;

constexpr int kClients = 8;

class ServiceDurabilityThreads : public MemoryFolder
{
protected:
    void SetUp() override { ASSERT_THAT(Service::AddUser(PathOf("users"), "alice", "secret"), IsSuccessError()); }
    void TearDown() override { KillService(m_pid); }

    void Start(const std::string& storePath)
    {
        m_pid = LaunchService(PathOf("users"), storePath, m_port);
        ASSERT_NE(m_port, 0);
    }

    Common::Error Connect(int32_t serviceCode, std::unique_ptr<Ipc::SocketTransport>& transport) const
    {
        return Ipc::SocketTransport::Connect("127.0.0.1:" + std::to_string(m_port), {"alice", "secret", serviceCode},
                                             transport);
    }

    // The IDs of every object the service holds under `serviceCode`.
    std::set<uint32_t> StoredIds(Ipc::PacketHandler* local, int32_t serviceCode)
    {
        const Ipc::Bytes request = ViewPacket(Factory().CreateNil(), LimitOptions(1000000));
        Ipc::Bytes packet;
        if (local) {
            EXPECT_THAT(Ipc::InvokeHandler(*local, {"", serviceCode}, request, packet), IsSuccessError());
        } else {
            std::unique_ptr<Ipc::SocketTransport> transport;
            EXPECT_THAT(Connect(serviceCode, transport), IsSuccessError());
            if (transport) {
                EXPECT_THAT(transport->Exchange(request, packet), IsSuccessError());
            }
        }
        const Reply reply = ReadReply(packet, "ViewManager", "OpenStaticView");
        EXPECT_THAT(reply.result, IsSuccessError());
        std::set<uint32_t> ids;
        for (const UnitPtr& unit : reply.snapshot) {
            const Por::View::Property* id = Por::Util::FindConstProperty(*unit, Por::Name("ID"));
            ids.insert(id ? Por::Util::GetUnitValue<unsigned int>(id->GetValue(), 0u) : 0u);
        }
        return ids;
    }

    static Ipc::Bytes RegisterPacket(uint32_t id)
    {
        return RequestPacket("ObjectManager", "RegisterObject", {{"object", MakeObject(id, u"g", id)}});
    }

    pid_t m_pid = 0;
    int m_port = 0;
};

TEST_F(ServiceDurabilityThreads, EveryAnsweredWriteSurvivesAKillWhileEightClientsWrite)
{
    Start(PathOf("objects.db"));
    std::mutex lock;
    std::condition_variable progress;
    int connections = 0;
    std::set<uint32_t> acknowledged;
    std::vector<Common::Error> refusals; // answers other than success: none expected
    std::vector<std::thread> clients;
    for (uint32_t client = 0; client < kClients; ++client)
        clients.emplace_back([&, client] {
            std::unique_ptr<Ipc::SocketTransport> transport;
            const Common::Error connected = Connect(46, transport);
            {
                // All start writing together, once every login is through.
                std::unique_lock<std::mutex> guard(lock);
                ++connections;
                progress.notify_all();
                progress.wait(guard, [&] { return connections == kClients; });
            }
            ASSERT_THAT(connected, IsSuccessError());
            for (uint32_t id = client * 100000;; ++id) {
                Ipc::Bytes packet;
                const Common::Error sent = transport->Exchange(RegisterPacket(id), packet);
                if (!sent.IsSuccess()) {
                    EXPECT_THAT(sent, ErrorIs(Ipc::kConnectionLost));
                    return; // killed
                }
                const Common::Error result = ReadReply(packet, "ObjectManager", "RegisterObject").result;
                std::lock_guard<std::mutex> guard(lock);
                if (!result.IsSuccess()) {
                    refusals.push_back(result);
                    return;
                }
                acknowledged.insert(id);
                progress.notify_all();
            }
        });
    {
        std::unique_lock<std::mutex> guard(lock);
        EXPECT_TRUE(progress.wait_for(guard, std::chrono::seconds(60), [&] { return acknowledged.size() >= 400; }))
            << acknowledged.size() << " writes answered";
    }
    ASSERT_EQ(kill(m_pid, SIGKILL), 0); // while the clients are still writing
    waitpid(m_pid, nullptr, 0);
    m_pid = 0;
    for (std::thread& client : clients)
        client.join();
    EXPECT_THAT(refusals, ::testing::IsEmpty());

    Start(PathOf("objects.db"));
    const std::set<uint32_t> stored = StoredIds(nullptr, 46);
    std::vector<uint32_t> lost;
    std::set_difference(acknowledged.begin(), acknowledged.end(), stored.begin(), stored.end(),
                        std::back_inserter(lost));
    EXPECT_THAT(lost, ::testing::IsEmpty()) << "of " << acknowledged.size() << " answered writes";
    EXPECT_GE(stored.size(), acknowledged.size());
}

TEST_F(ServiceDurabilityThreads, TheLocalRoadAndAServiceProcessWriteToOneStoreAtOnce)
{
    static int32_t s_nextCode = 4711; // no other test of the program uses these on the local road's store
    const int32_t code = s_nextCode++;
    constexpr uint32_t kEach = 50;
    Start(LocalStoreFolder() + "/" + Service::kStoreFileName);
    Ipc::PacketHandler& local = Service::GetServiceHandler();
    std::vector<std::thread> clients;
    for (uint32_t client = 0; client < kClients; ++client)
        clients.emplace_back([&, client] {
            const bool remote = client % 2 == 1;
            std::unique_ptr<Ipc::SocketTransport> transport;
            if (remote) {
                ASSERT_THAT(Connect(code, transport), IsSuccessError());
            }
            for (uint32_t id = client * 1000; id < client * 1000 + kEach; ++id) {
                Ipc::Bytes packet;
                const Common::Error sent = remote ? transport->Exchange(RegisterPacket(id), packet)
                                                  : Ipc::InvokeHandler(local, {"", code}, RegisterPacket(id), packet);
                ASSERT_THAT(sent, IsSuccessError());
                EXPECT_THAT(ReadReply(packet, "ObjectManager", "RegisterObject").result, IsSuccessError()) << id;
            }
        });
    for (std::thread& client : clients)
        client.join();
    EXPECT_EQ(StoredIds(&local, code).size(), kClients * kEach);
    EXPECT_EQ(StoredIds(nullptr, code).size(), kClients * kEach);
}

} // namespace
