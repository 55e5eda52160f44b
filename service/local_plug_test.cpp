#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "platform/ipc/ipc_errors.h"
#include "platform/ipc/local_transport.h"
#include "service/request_packets_test_support.h"
#include "service/store_location.h"
#include "testing/error_matchers.h"

namespace {

using Testing::IsSuccessError;

// The local road's store is process-wide: every test of this program that
// reaches it shares one temporary folder, set before its first request.
const std::string& LocalStoreFolder()
{
    // Never destroyed: the removal at exit still reads it.
    static const std::string* const folder = [] {
        char pattern[] = "/tmp/service_local_road.XXXXXX";
        const std::string* made = new std::string(mkdtemp(pattern) ? pattern : "");
        setenv(Service::kStoreFolderVariable, made->c_str(), 1);
        std::atexit([] { (void)std::system(("rm -rf '" + LocalStoreFolder() + "'").c_str()); });
        return made;
    }();
    return *folder;
}

TEST(LocalPlug, ProgramThatLinksTheServiceHasItAsTheLocalPeer)
{
    Ipc::PacketHandler* handler = Ipc::GetLocalHandler();
    ASSERT_NE(handler, nullptr);
    Ipc::LocalTransport transport(*handler, Ipc::CallContext{"", 46});
    Ipc::Bytes reply;
    ASSERT_THAT(transport.Exchange(ServiceTesting::RequestPacket("ViewManager", "CloseView", {}), reply),
                IsSuccessError());
    EXPECT_THAT(ServiceTesting::ReadReply(reply, "ViewManager", "CloseView").result,
                Testing::ErrorIs(Ipc::kNotSupported));
}

TEST(LocalPlug, TheLocalPeerServesTheStoreAtTheLocalPath)
{
    ASSERT_FALSE(LocalStoreFolder().empty());
    Ipc::LocalTransport transport(*Ipc::GetLocalHandler(), Ipc::CallContext{"", 46});
    Ipc::Bytes reply;
    ASSERT_THAT(transport.Exchange(ServiceTesting::RequestPacket("ObjectManager", "RegisterObject",
                                                                 {{"object", ServiceTesting::MakeObject(1, u"local")}}),
                                   reply),
                IsSuccessError());
    EXPECT_THAT(ServiceTesting::ReadReply(reply, "ObjectManager", "RegisterObject").result, IsSuccessError());
    struct stat status
    {
    };
    EXPECT_EQ(stat((LocalStoreFolder() + "/" + Service::kStoreFileName).c_str(), &status), 0);
    ASSERT_THAT(transport.Exchange(ServiceTesting::ViewPacket(ServiceTesting::KeyPattern(1), nullptr), reply),
                IsSuccessError());
    EXPECT_EQ(ServiceTesting::ReadReply(reply, "ViewManager", "OpenStaticView").snapshot.size(), 1u);
}

} // namespace
