// The view providers: selection, prepared options, static and dynamic views.
#include "enterprise/common/dml/client/post_office.h"

#include <map>
#include <memory>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "enterprise/common/dml/client/client_test_kit.h"
#include "enterprise/common/dml/client/remote_subscription.h"
#include "enterprise/common/dml/client/remoting.h"
#include "enterprise/common/dml/client/subscription_dispatcher.h"
#include "enterprise/common/dml/view_options.h"
#include "enterprise/common/ipc/unit_codec.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/item_processor.h"
#include "enterprise/common/por/typed_access.h"
#include "enterprise/common/por/utils.h"
#include "testing/error_matchers.h"

namespace {

using ClientTesting::ViewManagerReply;
using ClientTesting::Waiter;
using IpcTesting::ScriptedAccessPoint;
using testing::ElementsAre;
using Testing::ErrorIs;
using testing::HasSubstr;
using Testing::IsSuccessError;
using testing::UnorderedElementsAre;

const Common::Location kCallSite = Common::SourceFile("client_post_office_test").At("Caller", 77);

std::map<std::string, const Por::View::Unit*> Properties(const Por::View::Unit& unit)
{
    struct Collector final : Por::ItemProcessor<const Por::View::Property>
    {
        std::map<std::string, const Por::View::Unit*> found;
        bool Process(const Por::View::Property& property) override
        {
            found[property.GetName().GetText()] = &property.GetValue();
            return false;
        }
    } collector;
    Por::Util::ForEachProperty(unit, collector);
    return collector.found;
}

std::vector<std::string> Names(const std::map<std::string, const Por::View::Unit*>& properties)
{
    std::vector<std::string> names;
    for (const auto& [name, unit] : properties)
        names.push_back(name);
    return names;
}

// The options unit of the "specification" of the first packet sent.
std::shared_ptr<const Por::View::Unit> SentOptions(const std::string& packet, const std::string& method)
{
    std::unique_ptr<Serialization::Deserializer> deserializer = IpcTesting::Parse(packet);
    deserializer->StartReadMetaInfo(Serialization::MetaInfo("request_ViewManager_" + method));
    deserializer->StartReadMetaInfo(Serialization::MetaInfo("specification", true));
    std::shared_ptr<const Por::View::Unit> options;
    for (const char* field : {"Pattern", "Options"}) {
        const Serialization::MetaInfo element(field, true);
        deserializer->StartReadMetaInfo(element);
        Binding::Detail::ReadUnit(*deserializer, options);
        deserializer->FinishReadMetaInfo(element);
    }
    return options;
}

// Records the label of each unit; throws on the label `failOn`.
class RecordingReportReader final : public Dml::ReportReader
{
public:
    explicit RecordingReportReader(std::string failOn = "") : m_failOn(std::move(failOn)) {}
    using Dml::ReportReader::Read;
    void Read(const Por::View::Unit& unit) override
    {
        const std::string label = IpcTesting::LabelOf(std::shared_ptr<const Por::View::Unit>(&unit, [](auto*) {}));
        seen.push_back(label);
        if (label == m_failOn)
            Common::ThrowError(Common::Error(0xFC0001, u"reader failed", Common::NoLocation));
    }
    std::vector<std::string> seen;

private:
    std::string m_failOn;
};

std::string Snapshot(const std::vector<std::string>& labels)
{
    std::string items = "<vector>";
    for (const std::string& label : labels)
        items += "<item>" + IpcTesting::UnitContent(label) + "</item>";
    return items + "</vector>";
}

std::shared_ptr<ScriptedAccessPoint> StaticViewAccessPoint(const std::vector<std::string>& labels)
{
    return std::make_shared<ScriptedAccessPoint>(
        ViewManagerReply("OpenStaticView", Common::Success, "<snapshot>" + Snapshot(labels) + "</snapshot>"),
        "reply_ViewManager_OpenStaticView");
}

TEST(CreateRemoteViewProvider, TheViewManagerVersionChoosesThePostOffice)
{
    for (uint32_t version : {1u, 2u, 0u}) {
        SCOPED_TRACE(version);
        auto accessPoint = StaticViewAccessPoint({});
        accessPoint->interfaceVersion = version;
        std::unique_ptr<Dml::PostOffice> provider = Dml::Client::CreateRemoteViewProvider(accessPoint);
        ASSERT_TRUE(provider);
        const bool channeled = dynamic_cast<Dml::Client::ChanneledRemotePostOffice*>(provider.get()) != nullptr;
        EXPECT_EQ(channeled, version != 1);
        EXPECT_TRUE(dynamic_cast<Dml::Client::RemotePostOffice*>(provider.get()));
    }
}

TEST(CreateRemoteViewProvider, AFailingVersionQueryOrNoAccessPointThrows)
{
    auto accessPoint = StaticViewAccessPoint({});
    accessPoint->versionFailure = Common::Error(0xAD0107, u"no such component", Common::NoLocation);
    EXPECT_THROW(
        try { (void)Dml::Client::CreateRemoteViewProvider(accessPoint); } catch (const Common::Error& error) {
            EXPECT_THAT(error, ErrorIs(0xAD0107));
            throw;
        },
        Common::Error);
    try {
        (void)Dml::Client::CreateRemoteViewProvider(nullptr);
        FAIL() << "no error raised";
    } catch (const Common::Error& error) {
        EXPECT_THAT(error, ErrorIs(0xFC0017));
        EXPECT_THAT(error, Testing::RaisedAt("enterprise/common/dml/client/remoting", "CreateRemoteViewProvider", 41));
        EXPECT_THAT(error, Testing::HasLineTag(0x507a66d9dcb06c18ull));
    }
}

TEST(RemotePostOffice, AStaticViewWithoutOptionsSendsTheDefaultLimitAndTheCaller)
{
    auto accessPoint = StaticViewAccessPoint({});
    Dml::Client::RemotePostOffice postOffice(accessPoint);
    auto reader = std::make_shared<RecordingReportReader>();
    Waiter waiter;
    const Dml::ViewSpec specification(Por::Construction::GetDefaultUnitFactory()->CreateComposite(), nullptr);
    std::shared_ptr<Async::Job> job = postOffice.OpenStaticView(Core::EntryPoint(kCallSite), specification, reader,
                                                                waiter.handler);
    waiter.completed.Wait();
    EXPECT_THAT(waiter.handler.Last(), IsSuccessError());
    EXPECT_TRUE(reader->seen.empty()) << "an empty snapshot calls the reader never";
    EXPECT_FALSE(specification.Options) << "the caller's specification is not changed";

    const auto options = SentOptions(accessPoint->sentPacket, "OpenStaticView");
    ASSERT_TRUE(options);
    const auto properties = Properties(*options);
    ASSERT_THAT(Names(properties), UnorderedElementsAre("EntryPoint", "LimitOptions"));
    EXPECT_EQ(Por::Util::GetUnitValue<unsigned int>(*properties.at("LimitOptions")), 2000u);
    const auto entryPoint = Properties(*properties.at("EntryPoint"));
    ASSERT_THAT(Names(entryPoint), UnorderedElementsAre("File", "ID", "Line"));
    EXPECT_EQ(Por::Util::GetUnitValue<unsigned long long>(*entryPoint.at("ID")), kCallSite.LineTag);
    EXPECT_EQ(Por::Util::GetUnitValue<std::u16string>(*entryPoint.at("File")), u"client_post_office_test");
    EXPECT_EQ(Por::Util::GetUnitValue<unsigned int>(*entryPoint.at("Line")), 77u);
}

TEST(RemotePostOffice, AGivenLimitStaysAndTheCallersEntryPointReplacesAGivenOne)
{
    const auto& factory = *Por::Construction::GetDefaultUnitFactory();
    std::unique_ptr<Por::Construction::Unit> options = factory.CreateComposite();
    Dml::SetLimitOptions(*options, 5, factory);
    Dml::SetEntryPoint(*options, Core::EntryPoint(Common::SourceFile("elsewhere").At("Other", 3)), factory);
    const Dml::ViewSpec specification(factory.CreateComposite(), std::move(options));

    auto accessPoint = StaticViewAccessPoint({});
    Dml::Client::RemotePostOffice postOffice(accessPoint);
    Waiter waiter;
    std::shared_ptr<Async::Job> job = postOffice.OpenStaticView(
        Core::EntryPoint(kCallSite), specification, std::make_shared<RecordingReportReader>(), waiter.handler);
    waiter.completed.Wait();
    const auto sentOptions = SentOptions(accessPoint->sentPacket, "OpenStaticView");
    const auto properties = Properties(*sentOptions);
    EXPECT_EQ(Por::Util::GetUnitValue<unsigned int>(*properties.at("LimitOptions")), 5u);
    EXPECT_EQ(Por::Util::GetUnitValue<unsigned int>(*Properties(*properties.at("EntryPoint")).at("Line")), 77u);
    EXPECT_EQ(Por::Util::GetUnitValue<unsigned int>(
                  *Properties(*Properties(*specification.Options).at("EntryPoint")).at("Line")),
              3u)
        << "the caller's options are not changed";
}

TEST(RemotePostOffice, OptionsOfAnotherKindThrowBeforeAnyCall)
{
    const auto& factory = *Por::Construction::GetDefaultUnitFactory();
    const Dml::ViewSpec specification(factory.CreateComposite(), factory.CreateString(u"not options"));
    auto accessPoint = StaticViewAccessPoint({});
    Dml::Client::RemotePostOffice postOffice(accessPoint);
    AsyncTest::RecordingHandler handler;
    EXPECT_THROW((void)postOffice.OpenStaticView(Core::EntryPoint(kCallSite), specification,
                                                 std::make_shared<RecordingReportReader>(), handler),
                 Common::Error);
    EXPECT_EQ(accessPoint->calls, 0);
    EXPECT_EQ(handler.calls.load(), 0);
}

TEST(RemotePostOffice, AViewWithoutAReaderIsAnImproperCall)
{
    auto accessPoint = StaticViewAccessPoint({"1"});
    Dml::Client::RemotePostOffice postOffice(accessPoint);
    AsyncTest::RecordingHandler handler;
    try {
        (void)postOffice.OpenStaticView(Core::EntryPoint(kCallSite), Dml::ViewSpec(), nullptr, handler);
        FAIL() << "no error raised";
    } catch (const Common::Error& error) {
        EXPECT_THAT(error,
                    testing::AllOf(ErrorIs(0xFC0031), Testing::HasText(u"DML: Unproper use. Missing ReportReader.")));
    }
    EXPECT_EQ(accessPoint->calls, 0);
    EXPECT_EQ(handler.calls.load(), 0);
}

TEST(RemotePostOffice, AReaderThrowingForOneUnitStillGetsTheRestAndTheViewSucceeds)
{
    auto accessPoint = StaticViewAccessPoint({"1", "2", "3"});
    Dml::Client::RemotePostOffice postOffice(accessPoint);
    auto reader = std::make_shared<RecordingReportReader>("2");
    Waiter waiter;
    std::shared_ptr<Async::Job> job = postOffice.OpenStaticView(Core::EntryPoint(kCallSite), Dml::ViewSpec(), reader,
                                                                waiter.handler);
    waiter.completed.Wait();
    EXPECT_THAT(reader->seen, ElementsAre("1", "2", "3"));
    EXPECT_THAT(waiter.handler.Last(), IsSuccessError());
}

TEST(RemotePostOffice, AFailedViewDeliversNothing)
{
    auto accessPoint = std::make_shared<ScriptedAccessPoint>(
        ViewManagerReply("OpenStaticView", Common::Error(0xFC0017, u"no view", Common::NoLocation)),
        "reply_ViewManager_OpenStaticView");
    Dml::Client::RemotePostOffice postOffice(accessPoint);
    auto reader = std::make_shared<RecordingReportReader>();
    Waiter waiter;
    std::shared_ptr<Async::Job> job = postOffice.OpenStaticView(Core::EntryPoint(kCallSite), Dml::ViewSpec(), reader,
                                                                waiter.handler);
    waiter.completed.Wait();
    EXPECT_THAT(waiter.handler.Last(), ErrorIs(0xFC0017));
    EXPECT_TRUE(reader->seen.empty());
}

TEST(RemotePostOffice, ADynamicViewDeliversItsSnapshotThenReplacesTheHeldSubscription)
{
    auto accessPoint = std::make_shared<ScriptedAccessPoint>(ViewManagerReply("CloseView", Common::Success),
                                                             "reply_ViewManager_CloseView");
    accessPoint->ReplyTo("request_ViewManager_OpenDynamicView",
                         ViewManagerReply("OpenDynamicView", Common::Success,
                                          "<viewID>31</viewID><snapshot>" + Snapshot({"x"}) + "</snapshot>"),
                         "reply_ViewManager_OpenDynamicView");
    Dml::Client::RemotePostOffice postOffice(accessPoint);
    auto reader = std::make_shared<RecordingReportReader>();
    std::unique_ptr<Dml::Subscription> holder = std::make_unique<Dml::Client::StandaloneRemoteSubscription>(accessPoint,
                                                                                                            30);
    Waiter waiter;
    std::shared_ptr<Async::Job> job = postOffice.OpenDynamicView(Core::EntryPoint(kCallSite), Dml::ViewSpec(), reader,
                                                                 holder, waiter.handler);
    waiter.completed.Wait();
    EXPECT_THAT(waiter.handler.Last(), IsSuccessError());
    EXPECT_THAT(reader->seen, ElementsAre("x"));
    EXPECT_THAT(accessPoint->Sent().back(), HasSubstr("<viewID>30</viewID>")) << "the old subscription was deleted";
    ASSERT_TRUE(holder);
    holder.reset();
    EXPECT_THAT(accessPoint->Sent().back(), HasSubstr("<request_ViewManager_CloseView><viewID>31</viewID>"));
}

} // namespace
