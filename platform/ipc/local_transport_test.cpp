#include "platform/ipc/local_transport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/ipc/echo_road.h"
#include "platform/ipc/transport_test_support.h"
#include "testing/error_matchers.h"

namespace {

using IpcTesting::Completions;
using IpcTesting::ToBytes;
using ::testing::AllOf;
using Testing::ErrorIs;
using Testing::HasText;
using Testing::IsSuccessError;

TEST(LocalRoad, ExchangeRunsTheHandlerOnTheCallingThreadWithTheContext)
{
    class ThreadHandler : public Ipc::PacketHandler
    {
    public:
        std::thread::id thread;
        Ipc::CallContext context;
        Common::Error Handle(const Ipc::CallContext& given, Ipc::ByteView, Ipc::Bytes& reply) override
        {
            thread = std::this_thread::get_id();
            context = given;
            reply = ToBytes("ok");
            return Common::Success;
        }
    } handler;
    Ipc::LocalTransport transport(handler, Ipc::CallContext{"", 46});
    Ipc::Bytes reply;
    ASSERT_THAT(transport.Exchange(ToBytes("x"), reply), IsSuccessError());
    EXPECT_EQ(reply, ToBytes("ok"));
    EXPECT_EQ(handler.thread, std::this_thread::get_id());
    EXPECT_EQ(handler.context.serviceCode, 46);
}

TEST(LocalRoad, HandlerFailuresAndThrownErrorsBecomeTheResult)
{
    IpcTesting::ScriptedHandler handler;
    Ipc::LocalTransport transport(handler, Ipc::CallContext{});
    Ipc::Bytes reply{'x'};
    EXPECT_THAT(transport.Exchange(ToBytes("fail"), reply),
                AllOf(ErrorIs(Ipc::kNotSupported), HasText(u"refused here")));
    EXPECT_TRUE(reply.empty());
    EXPECT_THAT(transport.Exchange(ToBytes("throw"), reply),
                AllOf(ErrorIs(Ipc::kNotSupported), HasText(u"thrown here")));
}

TEST(LocalRoadThreads, StartedCallsCompleteOnceOnAnotherThread)
{
    IpcTesting::ScriptedHandler handler;
    Ipc::LocalTransport transport(handler, Ipc::CallContext{});
    Completions completions;
    std::vector<std::shared_ptr<Ipc::CallHandle>> calls;
    for (int i = 0; i < 100; ++i)
        calls.push_back(transport.Start(ToBytes(std::to_string(i)), completions.For(i)));
    ASSERT_TRUE(completions.WaitFor(100));
    for (auto& call : calls)
        call->Cancel();
    for (const auto& record : completions.Records()) {
        EXPECT_THAT(record.result, IsSuccessError());
        EXPECT_EQ(record.reply, std::to_string(record.id));
        EXPECT_NE(record.thread, std::this_thread::get_id());
    }
}

TEST(LocalRoadThreads, StartedCallsHandTheRequestOverAndExchangeLendsIt)
{
    for (bool take : {false, true}) {
        IpcTesting::ScriptedHandler handler;
        handler.takeRequests = take;
        Ipc::LocalTransport transport(handler, Ipc::CallContext{});
        Ipc::Bytes reply;
        ASSERT_THAT(transport.Exchange(ToBytes("lent"), reply), IsSuccessError());
        EXPECT_EQ(reply, ToBytes("lent"));
        EXPECT_EQ(handler.handedOver, 0) << "take " << take;

        Completions completions;
        auto call = transport.Start(ToBytes("handed over"), completions.For(1));
        ASSERT_TRUE(completions.WaitFor(1));
        EXPECT_EQ(handler.handedOver, 1) << "take " << take;
        EXPECT_THAT(completions.Records()[0].result, IsSuccessError());
        EXPECT_EQ(completions.Records()[0].reply, "handed over") << "take " << take;
    }
}

TEST(LocalRoadThreads, CancelWhileTheHandlerStallsCompletesPromptlyOnce)
{
    for (bool take : {false, true}) { // a handler that took the request over or not
        IpcTesting::ScriptedHandler handler;
        handler.takeRequests = take;
        Ipc::LocalTransport transport(handler, Ipc::CallContext{});
        Completions completions;
        auto call = transport.Start(ToBytes("stall"), completions.For(1));
        ASSERT_TRUE(handler.entered.TimedWait(10000));
        call->Cancel();
        ASSERT_TRUE(completions.WaitFor(1, std::chrono::milliseconds(1000)));
        EXPECT_THAT(completions.Records()[0].result, ErrorIs(Ipc::kCallCanceled));

        // The handler's own answer, once it returns, is dropped.
        handler.release.Set();
        ASSERT_TRUE(handler.left.TimedWait(10000));
        Completions after;
        auto next = transport.Start(ToBytes("echo"), after.For(2));
        ASSERT_TRUE(after.WaitFor(1));
        EXPECT_EQ(completions.Records().size(), 1u) << "take " << take;
        EXPECT_EQ(handler.handedOver, 2) << "take " << take;
    }
}

TEST(LocalRoadRegistration, TheLastRegisteredHandlerIsTheLocalPeer)
{
    EXPECT_EQ(Ipc::GetLocalHandler(), nullptr); // nothing in this program plugs itself in
    Ipc::EchoHandler first, second;
    Ipc::RegisterLocalHandler(&first);
    Ipc::RegisterLocalHandler(&second);
    EXPECT_EQ(Ipc::GetLocalHandler(), &second);
    Ipc::RegisterLocalHandler(nullptr);
    EXPECT_EQ(Ipc::GetLocalHandler(), nullptr);
}

TEST(EchoRoads, BothRoadsGiveTheBytesBack)
{
    for (bool socket : {false, true}) {
        Ipc::EchoRoad road;
        ASSERT_THAT(socket ? Ipc::OpenSocketEchoRoad(road) : Ipc::OpenLocalEchoRoad(road), IsSuccessError());
        const Ipc::Bytes request(2000, 0x5A);
        Ipc::Bytes reply;
        ASSERT_THAT(road.transport->Exchange(request, reply), IsSuccessError());
        EXPECT_EQ(reply, request) << (socket ? "socket" : "local");
    }
}

} // namespace
