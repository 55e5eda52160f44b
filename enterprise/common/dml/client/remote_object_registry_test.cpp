// The remote object registry over a scripted access point.
#include "enterprise/common/dml/client/remote_object_registry.h"

#include <memory>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/common/event.h"
#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/dml/client/remoting.h"
#include "enterprise/common/ipc/test_support/scripted_access_point.h"
#include "enterprise/common/ipc/test_support/test_units.h"
#include "enterprise/common/ipc/unit_codec.h"
#include "enterprise/common/por/const_unit_accessor.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/unit_accessor.h"
#include "enterprise/common/por/unit_equality.h"
#include "testing/error_matchers.h"

namespace {

using IpcTesting::Packet;
using IpcTesting::ResultElement;
using IpcTesting::ScriptedAccessPoint;
using Testing::ErrorIs;
using Testing::HasLineTag;
using Testing::IsSuccessError;
using Testing::RaisedAt;

const Common::Location kHere = Common::SourceFile("remote_object_registry_test").At("Test", 1);

std::shared_ptr<ScriptedAccessPoint> MakeAccessPoint(const std::string& method,
                                                     const Common::Error& result = Common::Success)
{
    const std::string element = "reply_ObjectManager_" + method;
    return std::make_shared<ScriptedAccessPoint>(
        Packet("<" + element + ">" + ResultElement(result) + "</" + element + ">"), element);
}

struct Waiter
{
    Common::Event completed{true, false};
    AsyncTest::RecordingHandler handler{[this](const Common::Error&) { completed.Set(); }};
};

Por::Construction::UnitFactory* Factory()
{
    return const_cast<Por::Construction::UnitFactory*>(Por::Construction::GetDefaultUnitFactory());
}

// The units of the parameters `names` of `requestElement` in `packet`, in order.
std::vector<std::shared_ptr<const Por::View::Unit>>
SentUnits(const std::string& packet, const std::string& requestElement, const std::vector<std::string>& names)
{
    std::unique_ptr<Serialization::Deserializer> deserializer = IpcTesting::Parse(packet);
    deserializer->StartReadMetaInfo(Serialization::MetaInfo(requestElement));
    std::vector<std::shared_ptr<const Por::View::Unit>> units;
    for (const std::string& name : names) {
        const Serialization::MetaInfo element(name, true); // must be the next child
        deserializer->StartReadMetaInfo(element);
        units.emplace_back();
        Binding::Detail::ReadUnit(*deserializer, units.back());
        deserializer->FinishReadMetaInfo(element);
    }
    return units;
}

TEST(RemoteObjectRegistry, UpdateSendsCopiesOfKeyThenPatch)
{
    auto accessPoint = MakeAccessPoint("UpdateObject");
    Dml::Client::RemoteObjectRegistry registry(accessPoint, Factory());
    const auto key = IpcTesting::Unit("key");
    const auto patch = IpcTesting::Unit("patch");
    Waiter waiter;
    std::shared_ptr<Async::Job> job = registry.UpdateObject(*key, *patch, waiter.handler);
    ASSERT_TRUE(job);
    waiter.completed.Wait();
    EXPECT_THAT(waiter.handler.Last(), IsSuccessError());

    const auto sent = SentUnits(accessPoint->sentPacket, "request_ObjectManager_UpdateObject", {"objectId", "patch"});
    ASSERT_TRUE(sent[0] && sent[1]);
    EXPECT_TRUE(Por::Util::UnitsEqual(*sent[0], *key));
    EXPECT_TRUE(Por::Util::UnitsEqual(*sent[1], *patch));
    EXPECT_EQ(IpcTesting::LabelOf(key), "key");
}

TEST(RemoteObjectRegistry, EachOperationSendsItsMethodAndPassesTheResultOn)
{
    const Common::Error remote(0xFC0017, u"remote failure", kHere);
    const auto unit = IpcTesting::Unit("u");
    using Call = std::function<std::shared_ptr<Async::Job>(Dml::ObjectRegistry&, Async::ActionHandler&)>;
    struct Case
    {
        const char* method;
        std::vector<std::string> parameters;
        Call call;
    };
    const Case cases[] = {
        {"RegisterObject", {"object"}, [&](auto& r, auto& h) { return r.RegisterObject(*unit, h); }},
        {"RegisterObject", {"object"}, [&](auto& r, auto& h) { return r.RegisterObject(Por::UnitAccessor(*unit), h); }},
        {"UpdateObject",
         {"objectId", "patch"},
         [&](auto& r, auto& h) { return r.UpdateObject(Por::UnitAccessor(*unit), Por::UnitAccessor(*unit), h); }},
        {"UnregisterObject", {"objectId"}, [&](auto& r, auto& h) { return r.UnregisterObject(*unit, h); }},
        {"UnregisterObject",
         {"objectId"},
         [&](auto& r, auto& h) { return r.UnregisterObject(Por::UnitAccessor(*unit), h); }},
    };
    for (const Case& c : cases) {
        for (const Common::Error& result : {Common::Success, remote}) {
            SCOPED_TRACE(std::string(c.method) + (result.IsSuccess() ? " success" : " failure"));
            auto accessPoint = MakeAccessPoint(c.method, result);
            auto registry = Dml::Client::CreateRemoteObjectRegistry(accessPoint, Factory());
            Waiter waiter;
            ASSERT_TRUE(c.call(*registry, waiter.handler));
            waiter.completed.Wait();
            EXPECT_EQ(waiter.handler.calls.load(), 1);
            EXPECT_THAT(waiter.handler.Last(), ErrorIs(result.GetCode()));
            const auto sent = SentUnits(accessPoint->sentPacket, "request_ObjectManager_" + std::string(c.method),
                                        c.parameters);
            for (const auto& sentUnit : sent)
                EXPECT_EQ(IpcTesting::LabelOf(sentUnit), "u");
        }
    }
}

TEST(RemoteObjectRegistry, AnAccessorWithNothingAtItsPathSendsAnEmptyUnit)
{
    auto accessPoint = MakeAccessPoint("RegisterObject");
    Dml::Client::RemoteObjectRegistry registry(accessPoint, Factory());
    Waiter waiter;
    const Por::UnitAccessor root(*IpcTesting::Unit("root"));
    ASSERT_TRUE(registry.RegisterObject(Por::UnitAccessor(root, u".missing", Factory()), waiter.handler));
    waiter.completed.Wait();
    EXPECT_THAT(IpcTesting::Content(accessPoint->sentPacket),
                testing::HasSubstr("<object><is_empty>1</is_empty></object>"));
}

TEST(RemoteObjectRegistry, ARefusedCallCompletesBeforeTheOperationReturnsAndStillGivesAJob)
{
    auto accessPoint = MakeAccessPoint("RegisterObject");
    accessPoint->refuseWith = Common::Error(0xAD0005, u"refused", kHere);
    Dml::Client::RemoteObjectRegistry registry(accessPoint, Factory());
    AsyncTest::RecordingHandler handler;
    std::shared_ptr<Async::Job> job = registry.RegisterObject(*IpcTesting::Unit("o"), handler);
    EXPECT_TRUE(job);
    EXPECT_EQ(handler.calls.load(), 1);
    EXPECT_THAT(handler.Last(), ErrorIs(0xAD0005));
}

TEST(RemoteObjectRegistry, CancelledOperationCompletesAsCanceled)
{
    auto accessPoint = MakeAccessPoint("UnregisterObject");
    Common::Event cancelAsked(true, false);
    accessPoint->onCancel = [&] { cancelAsked.Set(); };
    accessPoint->beforeReply = [&] { cancelAsked.Wait(); };
    Dml::Client::RemoteObjectRegistry registry(accessPoint, Factory());
    AsyncTest::RecordingHandler handler;
    std::shared_ptr<Async::Job> job = registry.UnregisterObject(*IpcTesting::Unit("k"), handler);
    job->Cancel();
    EXPECT_EQ(handler.calls.load(), 1);
    EXPECT_THAT(handler.Last(), ErrorIs(0xF90002));
}

TEST(RemoteObjectRegistry, PlainUnitsWithoutAFactoryRaiseALocatedError)
{
    auto accessPoint = MakeAccessPoint("RegisterObject");
    Dml::Client::RemoteObjectRegistry registry(accessPoint, nullptr);
    AsyncTest::RecordingHandler handler;
    const auto unit = IpcTesting::Unit("u");
    try {
        (void)registry.UpdateObject(*unit, *unit, handler);
        FAIL() << "no error raised";
    } catch (const Common::Error& error) {
        EXPECT_THAT(error, ErrorIs(0xFC0031));
        EXPECT_THAT(error, Testing::HasText(u"DML: Unproper use. Missing UnitFactory."));
        const Common::Location location = error.GetLocation();
        EXPECT_STREQ(location.file, "enterprise/common/dml/client/remote_object_registry");
        EXPECT_STREQ(location.function, "UpdateObject");
    }
    EXPECT_EQ(handler.calls.load(), 0);
    EXPECT_EQ(accessPoint->calls, 0);

    // The accessor overloads need no factory.
    Waiter waiter;
    ASSERT_TRUE(registry.RegisterObject(Por::UnitAccessor(*unit), waiter.handler));
    waiter.completed.Wait();
    EXPECT_THAT(waiter.handler.Last(), IsSuccessError());
}

TEST(CreateRemoteObjectRegistry, AnEmptyAccessPointIsADisposedObject)
{
    try {
        (void)Dml::Client::CreateRemoteObjectRegistry(nullptr, Factory());
        FAIL() << "no error raised";
    } catch (const Common::Error& error) {
        EXPECT_THAT(error, ErrorIs(0xFC0017));
        EXPECT_THAT(error, RaisedAt("enterprise/common/dml/client/remoting", "CreateRemoteObjectRegistry", 56));
        EXPECT_THAT(error, HasLineTag(0x507a66d9dcb06c27ull));
        EXPECT_THAT(error, Testing::HasText(u"DML: Cannot access a disposed object."));
    }
}

} // namespace
