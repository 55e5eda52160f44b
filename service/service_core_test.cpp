// The service core answering request packets over a store in a temporary
// folder, as both roads deliver them.

#include "service/service_core.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "core/common/error_text.h"
#include "core/common/text_conversion.h"
#include "core/xml/binary_xml_test_support.h"
#include "enterprise/common/dml/dml_errors.h"
#include "enterprise/common/por/typed_access.h"
#include "enterprise/common/por/unit_copier.h"
#include "enterprise/common/por/unit_diff.h"
#include "enterprise/common/por/unit_equality.h"
#include "enterprise/common/por/utils.h"
#include "enterprise/common/por/value_type_index.h"
#include "enterprise/serialize/serialization_errors.h"
#include "platform/ipc/ipc_errors.h"
#include "platform/ipc/local_transport.h"
#include "platform/ipc/reply_budget.h"
#include "service/request_packets_test_support.h"
#include "service/service_errors.h"
#include "service/service_test_support.h"
#include "service/store_errors.h"
#include "testing/error_matchers.h"

namespace {

using namespace ServiceTesting;
using ::testing::ElementsAre;
using Testing::ErrorIs;
using ::testing::HasSubstr;
using Testing::IsSuccessError;

constexpr int32_t kDml = 46;

class ServiceCoreTest : public MemoryFolder
{
protected:
    void SetUp() override { OpenCore(); }

    void OpenCore()
    {
        m_core.reset();
        std::unique_ptr<Service::Store> store;
        ASSERT_THAT(Service::Store::Open(PathOf("objects.db"), store), IsSuccessError());
        m_core = std::make_unique<Service::ServiceCore>(std::move(store));
    }

    Reply Send(const std::string& interfaceName, const std::string& method, const Ipc::Bytes& request,
               int32_t serviceCode = kDml)
    {
        Ipc::Bytes packet;
        const Common::Error transport = Ipc::InvokeHandler(*m_core, Ipc::CallContext{"", serviceCode}, request, packet);
        EXPECT_THAT(transport, IsSuccessError());
        return ReadReply(packet, interfaceName, method);
    }

    Common::Error Register(const UnitPtr& object, int32_t serviceCode = kDml)
    {
        return Send("ObjectManager", "RegisterObject",
                    RequestPacket("ObjectManager", "RegisterObject", {{"object", object}}), serviceCode)
            .result;
    }

    Common::Error Update(const UnitPtr& key, const UnitPtr& patch)
    {
        return Send("ObjectManager", "UpdateObject",
                    RequestPacket("ObjectManager", "UpdateObject", {{"objectId", key}, {"patch", patch}}))
            .result;
    }

    Common::Error Unregister(const UnitPtr& key)
    {
        return Send("ObjectManager", "UnregisterObject",
                    RequestPacket("ObjectManager", "UnregisterObject", {{"objectId", key}}))
            .result;
    }

    Reply View(const UnitPtr& pattern, const UnitPtr& options = nullptr, int32_t serviceCode = kDml)
    {
        return Send("ViewManager", "OpenStaticView", ViewPacket(pattern, options), serviceCode);
    }

    // The IDs of the objects a view answers, in order.
    std::vector<uint32_t> ViewIds(const UnitPtr& pattern, const UnitPtr& options = nullptr)
    {
        const Reply reply = View(pattern, options);
        EXPECT_THAT(reply.result, IsSuccessError());
        std::vector<uint32_t> ids;
        for (const UnitPtr& unit : reply.snapshot) {
            const Por::View::Property* id = Por::Util::FindConstProperty(*unit, Por::Name("ID"));
            ids.push_back(id ? Por::Util::GetUnitValue<unsigned int>(id->GetValue()) : 0);
        }
        return ids;
    }

    void RegisterGroup(std::initializer_list<uint32_t> ids, const std::u16string& group)
    {
        for (uint32_t id : ids)
            ASSERT_THAT(Register(MakeObject(id, group)), IsSuccessError());
    }

    static UnitPtr Everything() { return Factory().CreateNil(); }

    std::unique_ptr<Service::ServiceCore> m_core;
};

UnitPtr DeleteByPatternRecord(const UnitPtr& pattern, const UnitPtr& options,
                              const char16_t* operationClass = u"Dml::Operation::DeleteByPattern")
{
    PorTesting::Make m(Factory());
    Common::Guid guid{};
    EXPECT_TRUE(Common::GenerateGuid(guid, 0));
    auto record = m.Composite(
        m.Prop("ID", m.With(m.Guid(guid), kPrimaryKey, m.Nil())),
        m.Prop("Options", options ? Por::Util::CopyUnit(*options, Factory()) : m.With(m.Nil(), "Nil", m.Nil())),
        m.Prop("Pattern", Por::Util::CopyUnit(*pattern, Factory())));
    record = m.With(std::move(record), "Is", m.String(u"Dml::Operation::Definition"));
    return m.With(std::move(record), "Is", m.String(operationClass));
}

UnitPtr CounterValueOf(const Reply& reply)
{
    EXPECT_EQ(reply.snapshot.size(), 1u);
    if (reply.snapshot.size() != 1 || !reply.snapshot[0])
        return nullptr;
    const Por::View::Property* value = Por::Util::FindConstProperty(*reply.snapshot[0], Por::Name("CounterValue"));
    return value ? UnitPtr(reply.snapshot[0], &value->GetValue()) : nullptr;
}

// Objects: registration, key views, updates by diff, removal.

TEST_F(ServiceCoreTest, RegisteredObjectsAreFoundByTheirKeyPattern)
{
    RegisterGroup({1, 2, 3}, u"g");
    const Reply reply = View(KeyPattern(2), LimitOptions(2000));
    ASSERT_THAT(reply.result, IsSuccessError());
    ASSERT_EQ(reply.snapshot.size(), 1u);
    EXPECT_TRUE(Por::Util::UnitsEqual(*reply.snapshot[0], *MakeObject(2, u"g")));
    EXPECT_TRUE(View(KeyPattern(4)).snapshot.empty());
}

TEST_F(ServiceCoreTest, UpdateByDiffMakesTheObjectEqualToTheNewOne)
{
    RegisterGroup({1, 2, 3}, u"g");
    const UnitPtr old = MakeObject(2, u"g", 5);
    const UnitPtr updated = MakeObject(2, u"h", 9);
    ASSERT_THAT(Update(Key(2), Por::Util::MakeDiff(*old, *updated, Factory())), IsSuccessError());
    const Reply reply = View(KeyPattern(2));
    ASSERT_EQ(reply.snapshot.size(), 1u);
    EXPECT_TRUE(Por::Util::UnitsEqual(*reply.snapshot[0], *updated));
    EXPECT_THAT(ViewIds(GroupPattern(u"g")), ElementsAre(1, 3));
}

TEST_F(ServiceCoreTest, UpdateKeepsTheObjectsPlaceAndAnEmptyDiffChangesNothing)
{
    RegisterGroup({1, 2, 3}, u"g");
    ASSERT_THAT(Update(Key(1), Por::Util::MakeDiff(*MakeObject(1, u"g"), *MakeObject(1, u"g", 4), Factory())),
                IsSuccessError());
    EXPECT_THAT(ViewIds(GroupPattern(u"g")), ElementsAre(1, 2, 3));
    ASSERT_THAT(Update(Key(3), Por::Util::MakeDiff(*MakeObject(3, u"g"), *MakeObject(3, u"g"), Factory())),
                IsSuccessError());
    EXPECT_TRUE(Por::Util::UnitsEqual(*View(KeyPattern(3)).snapshot.at(0), *MakeObject(3, u"g")));
}

TEST_F(ServiceCoreTest, KeysCompareByValueWithTheirOwnTraitsIgnored)
{
    RegisterGroup({7}, u"g");
    PorTesting::Make m(Factory());
    const UnitPtr bare = m.DWord(7);
    const UnitPtr decorated = m.With(m.With(m.DWord(7), "Extra", m.Byte(1)), kObjectId, m.Nil());
    const UnitPtr patch = Por::Util::MakeDiff(*MakeObject(7, u"g"), *MakeObject(7, u"g", 1), Factory());
    EXPECT_THAT(Update(bare, patch), IsSuccessError());
    EXPECT_THAT(View(decorated).snapshot, ::testing::SizeIs(1));
    EXPECT_THAT(Unregister(bare), IsSuccessError());
    EXPECT_TRUE(View(KeyPattern(7)).snapshot.empty());
}

TEST_F(ServiceCoreTest, UpdateThatChangesTheKeyKeepsKeysUnique)
{
    RegisterGroup({1, 2}, u"g");
    const UnitPtr moveOnto2 = Por::Util::MakeDiff(*MakeObject(1, u"g"), *MakeObject(2, u"g"), Factory());
    EXPECT_THAT(Update(Key(1), moveOnto2), ErrorIs(Service::kObjectExists));
    const UnitPtr moveTo5 = Por::Util::MakeDiff(*MakeObject(1, u"g"), *MakeObject(5, u"g"), Factory());
    ASSERT_THAT(Update(Key(1), moveTo5), IsSuccessError());
    EXPECT_THAT(ViewIds(GroupPattern(u"g")), ElementsAre(5, 2));
}

TEST_F(ServiceCoreTest, ObjectManagerFailuresAreAnsweredInTheResult)
{
    RegisterGroup({1}, u"g");
    PorTesting::Make m(Factory());
    const UnitPtr keyless = m.Composite(m.Prop("Group", m.String(u"g")));
    const UnitPtr unmarkedPatch = MakeObject(1, u"x");
    struct Case
    {
        const char* what;
        Common::Error result;
        unsigned code;
    };
    const Case cases[] = {
        {"object without a key", Register(keyless), Dml::DML_ERROR_NO_OBJECT_KEY},
        {"second register of a key", Register(MakeObject(1, u"other")), Service::kObjectExists},
        {"update of an unknown key",
         Update(Key(9), Por::Util::MakeDiff(*MakeObject(9, u"g"), *MakeObject(9, u"h"), Factory())),
         Service::kObjectNotFound},
        {"patch without PackedDiff", Update(Key(1), unmarkedPatch), ServiceErrors::kPatchDoesNotFit},
        {"unregister of an unknown key", Unregister(Key(9)), Service::kObjectNotFound},
        {"register without an object", Register(nullptr), ServiceErrors::kRequestRefused},
    };
    for (const Case& c : cases)
        EXPECT_THAT(c.result, ErrorIs(c.code)) << c.what;
    EXPECT_THAT(Register(keyless), Testing::HasText(u"DML: Object identification cannot be found."));
    EXPECT_TRUE(Por::Util::UnitsEqual(*View(KeyPattern(1)).snapshot.at(0), *MakeObject(1, u"g")));
}

TEST_F(ServiceCoreTest, ServiceCodesSeeOnlyTheirOwnObjects)
{
    ASSERT_THAT(Register(MakeObject(1, u"g"), 33), IsSuccessError());
    EXPECT_TRUE(View(KeyPattern(1), nullptr, kDml).snapshot.empty());
    EXPECT_EQ(View(KeyPattern(1), nullptr, 33).snapshot.size(), 1u);
    EXPECT_THAT(Register(MakeObject(1, u"g"), kDml), IsSuccessError());
}

TEST_F(ServiceCoreTest, TheStoreSurvivesARestart)
{
    RegisterGroup({1, 2, 3}, u"g");
    OpenCore();
    EXPECT_THAT(ViewIds(GroupPattern(u"g")), ElementsAre(1, 2, 3));
}

// Views: patterns, limits, counters.

TEST_F(ServiceCoreTest, OtherPatternsGoThroughTheMatcherInStoreOrderUpToTheLimit)
{
    RegisterGroup({5, 1, 4}, u"a");
    RegisterGroup({2, 3}, u"b");
    RegisterGroup({6}, u"a");
    EXPECT_THAT(ViewIds(GroupPattern(u"a")), ElementsAre(5, 1, 4, 6));
    EXPECT_THAT(ViewIds(GroupPattern(u"a"), LimitOptions(2)), ElementsAre(5, 1));
    EXPECT_THAT(ViewIds(GroupPattern(u"a"), LimitOptions(0)), ElementsAre());
    EXPECT_THAT(ViewIds(KeyPattern(3), LimitOptions(0)), ElementsAre());
    PorTesting::Make m(Factory());
    EXPECT_THAT(ViewIds(m.Nil()), ElementsAre(5, 1, 4, 2, 3, 6)); // a bare Nil matches everything
}

TEST_F(ServiceCoreTest, ACounterCountsEveryMatchWhateverTheLimit)
{
    RegisterGroup({1, 2, 3}, u"a");
    RegisterGroup({4}, u"b");
    struct Case
    {
        UnitPtr pattern;
        uint32_t limit;
        uint32_t count;
    };
    const Case cases[] = {{GroupPattern(u"a"), 2, 3},
                          {GroupPattern(u"a"), 2000, 3},
                          {GroupPattern(u"c"), 2, 0},
                          {KeyPattern(4), 0, 1},
                          {KeyPattern(5), 1, 0}};
    for (const Case& c : cases) {
        const Reply reply = View(c.pattern, LimitOptions(c.limit, true));
        ASSERT_THAT(reply.result, IsSuccessError());
        const UnitPtr value = CounterValueOf(reply);
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(Por::Util::GetValueTypeIndex(*value), static_cast<int>(Por::ValueKind::DWord));
        EXPECT_EQ(Por::Util::GetUnitValue<unsigned int>(*value, 0u), c.count);
    }
}

TEST_F(ServiceCoreTest, BadViewSpecificationsAreRefusedClearly)
{
    RegisterGroup({1}, u"a");
    PorTesting::Make m(Factory());
    const UnitPtr qwordLimit = m.Composite(m.Prop("LimitOptions", m.QWord(2)));
    const UnitPtr entryPoint = m.Composite(
        m.Prop("EntryPoint",
               m.Composite(m.Prop("File", m.String(u"f")), m.Prop("ID", m.QWord(1)), m.Prop("Line", m.DWord(3)))),
        m.Prop("LimitOptions", m.DWord(5)));
    const Reply wrongKind = View(GroupPattern(u"a"), qwordLimit);
    EXPECT_THAT(wrongKind.result, ErrorIs(ServiceErrors::kRequestRefused));
    EXPECT_THAT(Common::ToUtf8(Common::FormatError(wrongKind.result).c_str()), HasSubstr("LimitOptions"));
    EXPECT_FALSE(wrongKind.hasSnapshot);
    EXPECT_THAT(View(nullptr).result, ErrorIs(ServiceErrors::kRequestRefused));
    EXPECT_THAT(View(GroupPattern(u"a"), m.String(u"options")).result, ErrorIs(ServiceErrors::kRequestRefused));
    EXPECT_THAT(View(m.With(Por::Util::CopyUnit(*GroupPattern(u"a"), Factory()), "NoSuchOperator", m.Nil())).result,
                ErrorIs(0xFA000E));
    EXPECT_THAT(ViewIds(GroupPattern(u"a"), entryPoint), ElementsAre(1));
}

// Operation records.

TEST_F(ServiceCoreTest, ADeleteByPatternRecordRemovesUpToItsLimitInStoreOrder)
{
    RegisterGroup({1, 2}, u"a");
    RegisterGroup({3}, u"b");
    RegisterGroup({4}, u"a");
    ASSERT_THAT(Register(DeleteByPatternRecord(GroupPattern(u"a"), LimitOptions(2))), IsSuccessError());
    EXPECT_THAT(ViewIds(Everything()), ElementsAre(3, 4));
    ASSERT_THAT(Register(DeleteByPatternRecord(GroupPattern(u"a"), nullptr)), IsSuccessError());
    EXPECT_THAT(ViewIds(Everything()), ElementsAre(3));
    ASSERT_THAT(Register(DeleteByPatternRecord(KeyPattern(3), LimitOptions(100))), IsSuccessError());
    EXPECT_THAT(ViewIds(Everything()), ElementsAre());
}

TEST_F(ServiceCoreTest, OtherOperationRecordsAreRefusedAndNothingIsStored)
{
    RegisterGroup({1}, u"a");
    const UnitPtr record = DeleteByPatternRecord(GroupPattern(u"a"), nullptr, u"Dml::Operation::UpdateByPattern");
    EXPECT_THAT(Register(record), ErrorIs(ServiceErrors::kRequestRefused));
    EXPECT_THAT(ViewIds(Everything()), ElementsAre(1));
}

// Packets: layout, dispatch, malformed requests.

TEST_F(ServiceCoreTest, ResultComesFirstAndReadBackParametersFollowInOrder)
{
    RegisterGroup({1}, u"a");
    Ipc::Bytes packet;
    ASSERT_THAT(Ipc::InvokeHandler(*m_core, {"", kDml}, ViewPacket(GroupPattern(u"a"), nullptr), packet),
                IsSuccessError());
    const std::string text(packet.begin(), packet.end());
    EXPECT_EQ(text.rfind("\xEF\xBB\xBF<XML_SERIALIZER><reply_ViewManager_OpenStaticView><result>", 0), 0u) << text;
    EXPECT_THAT(text, HasSubstr("</result><snapshot><vector><item><is_empty>"));
    EXPECT_THAT(ReadReply(packet, "ViewManager", "OpenStaticView").readBack, ElementsAre("snapshot"));

    const Reply update = Send("ObjectManager", "UpdateObject",
                              RequestPacket("ObjectManager", "UpdateObject",
                                            {{"objectId", Key(1)}, {"patch", Por::Util::MakeEmptyDiff(Factory())}}));
    EXPECT_THAT(update.result, ::testing::Not(IsSuccessError())); // an EmptyDiff without PackedDiff
    EXPECT_THAT(update.readBack, ElementsAre());
}

TEST_F(ServiceCoreTest, ObjectManagerRepliesAnswerTheirParametersBack)
{
    const Reply reply = Send("ObjectManager", "RegisterObject",
                             RequestPacket("ObjectManager", "RegisterObject", {{"object", MakeObject(1, u"a")}}));
    ASSERT_THAT(reply.result, IsSuccessError());
    EXPECT_THAT(reply.readBack, ElementsAre("object"));
}

TEST_F(ServiceCoreTest, MethodsTheToolNeverUsesAnswerNotSupported)
{
    const char* const methods[] = {"OpenDynamicView", "AcquireUpdates",   "CloseView",      "Subscribe",
                                   "AddInterest",     "ReadSubscription", "RemoveInterest", "Unsubscribe"};
    for (const char* method : methods) {
        const Reply reply = Send("ViewManager", method, RequestPacket("ViewManager", method, {}));
        EXPECT_THAT(reply.result, ErrorIs(Ipc::kNotSupported)) << method;
        EXPECT_THAT(reply.result, Testing::HasText(u"IPC: The request is not supported by this service."));
    }
    EXPECT_THAT(Send("Registry", "Drop", RequestPacket("Registry", "Drop", {})).result, ErrorIs(Ipc::kNotSupported));
}

TEST_F(ServiceCoreTest, MalformedArgumentsGetTheDeserializersError)
{
    RegisterGroup({1}, u"a");
    const std::string corrupt = "\xEF\xBB\xBF<XML_SERIALIZER><request_ObjectManager_UnregisterObject><objectId>"
                                "<is_empty>0</is_empty><value>AAECAwQ=</value></objectId>"
                                "</request_ObjectManager_UnregisterObject></XML_SERIALIZER>";
    EXPECT_THAT(Send("ObjectManager", "RegisterObject", RequestPacket("ObjectManager", "RegisterObject", {})).result,
                ErrorIs(SerializationErrors::kInconsistentMeta));
    EXPECT_THAT(Send("ObjectManager", "UnregisterObject", B(corrupt)).result, ::testing::Not(IsSuccessError()));
    EXPECT_THAT(ViewIds(GroupPattern(u"a")), ElementsAre(1));
}

TEST_F(ServiceCoreTest, APacketWithoutARequestFailsTheCall)
{
    const std::string packets[] = {
        "\xEF\xBB\xBF<XML_SERIALIZER><reply_ObjectManager_RegisterObject/></XML_SERIALIZER>",
        "\xEF\xBB\xBF<XML_SERIALIZER><request_ObjectManager/></XML_SERIALIZER>",
        "\xEF\xBB\xBF<XML_SERIALIZER></XML_SERIALIZER>",
    };
    for (const std::string& packet : packets) {
        Ipc::Bytes reply;
        EXPECT_THAT(Ipc::InvokeHandler(*m_core, {"", kDml}, B(packet), reply), ::testing::Not(IsSuccessError()))
            << packet;
        EXPECT_TRUE(reply.empty());
    }
}

// A request in the binary XML form: the packet's root holding one empty
// element of the given name, which can hold any bytes.
Ipc::Bytes BinaryRequest(const std::string& name)
{
    using namespace BinaryXmlTest;
    const std::string noText = Value2("");
    const std::string end = Varint(0);
    return B(Header(2) + Define(1, "XML_SERIALIZER") + end + noText + Define(2, name) + end + noText + end + noText +
             end);
}

TEST_F(ServiceCoreTest, ARequestNameNoReplyNameCanHoldFailsTheCallAndTheServiceGoesOn)
{
    const Reply binary = Send("ViewManager", "Subscribe", BinaryRequest("request_ViewManager_Subscribe"));
    EXPECT_THAT(binary.result, ErrorIs(Ipc::kNotSupported)); // the binary form itself is served

    const std::string names[] = {
        std::string("request_ViewManager_Sub\0scribe", 31),
        std::string("request_View\0Manager_Subscribe", 31),
        "request_View<Manager_Subscribe",
        "request_ViewManager_Sub&scribe",
        "request_ViewManager_Sub scribe",
        "request_ViewManager_Subscrib\xC3\xA9",
        "request_ObjectManager_RegisterObject\x01",
        std::string("\0request_ObjectManager_RegisterObject", 37),
        "reply_ObjectManager_<RegisterObject",
    };
    for (const std::string& name : names) {
        Ipc::Bytes reply;
        EXPECT_THAT(Ipc::InvokeHandler(*m_core, {"", kDml}, BinaryRequest(name), reply),
                    ErrorIs(ServiceErrors::kRequestRefused))
            << ::testing::PrintToString(name);
        EXPECT_TRUE(reply.empty());
    }
    EXPECT_THAT(Register(MakeObject(1, u"a")), IsSuccessError());
    EXPECT_THAT(ViewIds(GroupPattern(u"a")), ElementsAre(1));
}

// Requests handed over: let go before the store's work, answered as lent ones.

// While it lives, every store connection opened gets its statements watched:
// a statement run while a watched request is being answered counts as
// unreleased unless that request is already empty with no memory of its own.
class ReleasedRequestWatch
{
public:
    ReleasedRequestWatch()
    {
        s_active = this;
        sqlite3_auto_extension(reinterpret_cast<void (*)()>(&Attach));
    }
    ~ReleasedRequestWatch()
    {
        sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(&Attach));
        s_active = nullptr;
    }
    ReleasedRequestWatch(const ReleasedRequestWatch&) = delete;
    ReleasedRequestWatch& operator=(const ReleasedRequestWatch&) = delete;

    // Watches `request` until Stop, counting afresh.
    void Watch(const Ipc::Bytes& request)
    {
        m_statements = 0;
        m_unreleased = 0;
        m_request = &request;
    }
    void Stop() { m_request = nullptr; }
    int Statements() const { return m_statements; }
    int Unreleased() const { return m_unreleased; }

private:
    static int Attach(sqlite3* db, const char**, const sqlite3_api_routines*)
    {
        sqlite3_trace_v2(db, SQLITE_TRACE_STMT, &OnStatement, nullptr);
        return SQLITE_OK;
    }

    static int OnStatement(unsigned, void*, void*, void*)
    {
        ReleasedRequestWatch* const watch = s_active;
        const Ipc::Bytes* const request = watch ? watch->m_request.load() : nullptr;
        if (request) {
            ++watch->m_statements;
            if (!request->empty() || request->capacity() != 0)
                ++watch->m_unreleased;
        }
        return 0;
    }

    static inline std::atomic<ReleasedRequestWatch*> s_active{nullptr};
    std::atomic<const Ipc::Bytes*> m_request{nullptr};
    std::atomic<int> m_statements{0};
    std::atomic<int> m_unreleased{0};
};

TEST_F(ServiceCoreTest, AHandedOverRequestIsReleasedBeforeTheStoreWorksOnIt)
{
    RegisterGroup({1, 2}, u"g");
    RegisterGroup({3}, u"h");
    ReleasedRequestWatch watch;
    OpenCore(); // a store whose connections are watched
    struct Case
    {
        const char* interfaceName;
        const char* method;
        Ipc::Bytes packet;
    };
    const Case cases[] = {
        {"ObjectManager", "RegisterObject",
         RequestPacket("ObjectManager", "RegisterObject", {{"object", MakeObject(4, u"g")}})},
        {"ObjectManager", "UpdateObject",
         RequestPacket("ObjectManager", "UpdateObject",
                       {{"objectId", Key(1)},
                        {"patch", Por::Util::MakeDiff(*MakeObject(1, u"g"), *MakeObject(1, u"g", 6), Factory())}})},
        {"ObjectManager", "UnregisterObject",
         RequestPacket("ObjectManager", "UnregisterObject", {{"objectId", Key(2)}})},
        {"ObjectManager", "RegisterObject",
         RequestPacket("ObjectManager", "RegisterObject",
                       {{"object", DeleteByPatternRecord(GroupPattern(u"h"), nullptr)}})},
        {"ViewManager", "OpenStaticView", ViewPacket(GroupPattern(u"g"), nullptr)},
    };
    for (const Case& c : cases) {
        Ipc::Bytes request = c.packet;
        Ipc::Bytes reply;
        watch.Watch(request);
        const Common::Error call = Ipc::InvokeHandlerOwned(*m_core, {"", kDml}, request, reply);
        watch.Stop();
        ASSERT_THAT(call, IsSuccessError()) << c.method;
        EXPECT_THAT(ReadReply(reply, c.interfaceName, c.method).result, IsSuccessError()) << c.method;
        EXPECT_GT(watch.Statements(), 0) << c.method;
        EXPECT_EQ(watch.Unreleased(), 0) << c.method << ": the store worked while the request was held";
    }
    EXPECT_THAT(ViewIds(GroupPattern(u"g")), ElementsAre(1, 4));
    EXPECT_THAT(ViewIds(GroupPattern(u"h")), ElementsAre());
}

// A request's call result and reply.
struct Answer
{
    Common::Error call;
    Ipc::Bytes reply;
};

TEST_F(ServiceCoreTest, ARequestLentHandedOverOrStartedOnTheLocalRoadGetsTheSameAnswer)
{
    RegisterGroup({1}, u"g");
    const std::string corrupt = "\xEF\xBB\xBF<XML_SERIALIZER><request_ObjectManager_UnregisterObject><objectId>"
                                "<is_empty>0</is_empty><value>AAECAwQ=</value></objectId>"
                                "</request_ObjectManager_UnregisterObject></XML_SERIALIZER>";
    const UnitPtr unknownPatch = Por::Util::MakeDiff(*MakeObject(9, u"g"), *MakeObject(9, u"h"), Factory());
    const Ipc::Bytes packets[] = {
        ViewPacket(GroupPattern(u"g"), nullptr),
        ViewPacket(GroupPattern(u"g"), LimitOptions(1, true)),
        ViewPacket(nullptr, nullptr),
        RequestPacket("ObjectManager", "RegisterObject", {{"object", MakeObject(1, u"other")}}),
        RequestPacket("ObjectManager", "RegisterObject", {}),
        RequestPacket(
            "ObjectManager", "RegisterObject",
            {{"object", DeleteByPatternRecord(GroupPattern(u"g"), nullptr, u"Dml::Operation::UpdateByPattern")}}),
        RequestPacket("ObjectManager", "UpdateObject", {{"objectId", Key(9)}, {"patch", unknownPatch}}),
        RequestPacket("ObjectManager", "UnregisterObject", {{"objectId", Key(9)}}),
        B(corrupt),
        RequestPacket("ViewManager", "Subscribe", {}),
        B("\xEF\xBB\xBF<XML_SERIALIZER><request_ObjectManager/></XML_SERIALIZER>"),
        B("\xEF\xBB\xBF<XML_SERIALIZER></XML_SERIALIZER>"),
        BinaryRequest("request_View<Manager_Subscribe"),
    };
    Ipc::LocalTransport road(*m_core, Ipc::CallContext{"", kDml});
    for (const Ipc::Bytes& packet : packets) {
        const std::string what = ::testing::PrintToString(std::string(packet.begin(), packet.end()));
        Answer lent;
        lent.call = Ipc::InvokeHandler(*m_core, {"", kDml}, packet, lent.reply);

        Ipc::Bytes request = packet;
        Answer handedOver;
        handedOver.call = Ipc::InvokeHandlerOwned(*m_core, {"", kDml}, request, handedOver.reply);

        std::promise<Answer> done;
        road.Start(packet, [&done](const Common::Error& result, Ipc::Bytes&& reply) {
            done.set_value(Answer{result, std::move(reply)});
        });
        std::future<Answer> outcome = done.get_future();
        ASSERT_EQ(outcome.wait_for(std::chrono::seconds(20)), std::future_status::ready) << what;
        const Answer started = outcome.get();
        const Answer* const others[] = {&handedOver, &started};

        for (const Answer* other : others) {
            if (lent.call.IsSuccess()) {
                EXPECT_THAT(other->call, IsSuccessError()) << what;
            } else {
                EXPECT_THAT(other->call,
                            ::testing::AllOf(ErrorIs(lent.call.GetCode()), Testing::HasText(lent.call.GetText()),
                                             Testing::HasLineTag(lent.call.GetLocation().LineTag)))
                    << what;
            }
            EXPECT_EQ(other->reply, lent.reply) << what;
        }
    }
    EXPECT_THAT(ViewIds(GroupPattern(u"g")), ElementsAre(1));
}

TEST(ServiceCoreOpening, AStoreThatCannotBeOpenedIsTheResultAndIsTriedAgain)
{
    int openings = 0;
    Service::ServiceCore core([&openings](std::unique_ptr<Service::Store>&) {
        ++openings;
        return Service::MakeStoreFailure("no store here", Common::NoLocation);
    });
    for (int i = 0; i < 2; ++i) {
        Ipc::Bytes packet;
        ASSERT_THAT(Ipc::InvokeHandler(core, {"", kDml}, ViewPacket(GroupPattern(u"a"), nullptr), packet),
                    IsSuccessError());
        EXPECT_THAT(ReadReply(packet, "ViewManager", "OpenStaticView").result, ErrorIs(Service::kStoreFailed));
    }
    EXPECT_EQ(openings, 2);
}

// Replies: each takes its share of the reply budget before it is built.

TEST_F(ServiceCoreTest, AViewsShareCoversItsReplyAndItsObjectsAndTheReplyIsWrittenIntoItsRoomAtOnce)
{
    const size_t sizes[] = {10, 70000, 1500000, 3000000};
    for (uint32_t i = 0; i < std::size(sizes); ++i)
        ASSERT_THAT(Register(MakeLargeObject(i, u"large", sizes[i])), IsSuccessError());
    struct Case
    {
        UnitPtr pattern;
        size_t objects;
    };
    const Case cases[] = {{GroupPattern(u"large"), 4}, {KeyPattern(3), 1}, {GroupPattern(u"none"), 0}};
    for (const Case& c : cases) {
        Ipc::ReplyBudget budget(size_t{1} << 30);
        Ipc::ReplyLease lease(budget);
        Ipc::Bytes packet;
        ASSERT_THAT(Ipc::InvokeHandler(*m_core, {"", kDml, &lease}, ViewPacket(c.pattern, nullptr), packet),
                    IsSuccessError());
        const Reply reply = ReadReply(packet, "ViewManager", "OpenStaticView");
        ASSERT_THAT(reply.result, IsSuccessError());
        EXPECT_EQ(reply.snapshot.size(), c.objects);
        // The share holds the reply and the objects it is written from (as
        // large as their stored forms, 3/4 of their Base64 text).
        EXPECT_GE(lease.GetBytes(), packet.size());
        EXPECT_LE(lease.GetBytes(), packet.size() * 2 + 8192);
        EXPECT_EQ(budget.GetBytesInUse(), lease.GetBytes());
        EXPECT_LE(packet.capacity(), packet.size() + 65536) << "the reply grew past the room it took";
    }
}

TEST_F(ServiceCoreTest, ObjectManagerRepliesTakeAShareOfWhatTheyAnswerBack)
{
    Ipc::ReplyBudget budget(size_t{1} << 30);
    Ipc::ReplyLease lease(budget);
    Ipc::Bytes packet;
    ASSERT_THAT(Ipc::InvokeHandler(*m_core, {"", kDml, &lease},
                                   RequestPacket("ObjectManager", "RegisterObject",
                                                 {{"object", MakeLargeObject(1, u"large", 1000000)}}),
                                   packet),
                IsSuccessError());
    EXPECT_THAT(ReadReply(packet, "ObjectManager", "RegisterObject").result, IsSuccessError());
    EXPECT_GE(lease.GetBytes(), packet.size());
    EXPECT_LE(lease.GetBytes(), packet.size() + 8192);
}

class ServiceCoreThreads : public ServiceCoreTest
{
};

TEST_F(ServiceCoreThreads, ConcurrentRequestsAllLand)
{
    constexpr uint32_t kThreads = 8;
    constexpr uint32_t kEach = 25;
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < kThreads; ++t)
        threads.emplace_back([this, t] {
            for (uint32_t i = 0; i < kEach; ++i) {
                Ipc::Bytes packet;
                EXPECT_THAT(Ipc::InvokeHandler(*m_core, {"", kDml},
                                               RequestPacket("ObjectManager", "RegisterObject",
                                                             {{"object", MakeObject(t * kEach + i, u"a")}}),
                                               packet),
                            IsSuccessError());
                EXPECT_THAT(ReadReply(packet, "ObjectManager", "RegisterObject").result, IsSuccessError());
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    const UnitPtr value = CounterValueOf(View(GroupPattern(u"a"), LimitOptions(1, true)));
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(Por::Util::GetUnitValue<unsigned int>(*value, 0u), kThreads * kEach);
}

// Another process holds the store's write lock (a transaction begun with
// BEGIN IMMEDIATE) from Hold until Release.
class ForeignWriter
{
public:
    explicit ForeignWriter(const std::string& path)
    {
        int held[2];
        int release[2];
        if (pipe(held) != 0 || pipe(release) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            close(held[0]);
            close(release[1]);
            sqlite3* db = nullptr;
            if (sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
                sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
                _exit(10);
            const char byte = 1;
            if (write(held[1], &byte, 1) != 1)
                _exit(11);
            char wait;
            (void)!read(release[0], &wait, 1); // until the parent closes its end
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            sqlite3_close(db);
            _exit(0);
        }
        close(held[1]);
        close(release[0]);
        m_release = release[1];
        char byte = 0;
        m_holding = m_pid > 0 && read(held[0], &byte, 1) == 1;
        close(held[0]);
    }
    ~ForeignWriter() { Release(); }

    bool Holding() const { return m_holding; }
    // Ends the other process's transaction; true when it ended cleanly.
    bool Release()
    {
        if (m_release >= 0)
            close(m_release);
        m_release = -1;
        if (m_pid <= 0)
            return false;
        int status = 0;
        const bool ended = waitpid(m_pid, &status, 0) == m_pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        m_pid = 0;
        return ended;
    }

private:
    pid_t m_pid = 0;
    int m_release = -1;
    bool m_holding = false;
};

TEST_F(ServiceCoreThreads, AViewAnswersAtOnceWhileAWriteWaitsForAnotherProcesssLock)
{
    RegisterGroup({1, 2}, u"g");
    std::unique_ptr<Service::Store> store;
    ASSERT_THAT(Service::Store::Open(PathOf("objects.db"), store), IsSuccessError());
    Service::Store& served = *store;
    m_core = std::make_unique<Service::ServiceCore>(std::move(store));

    ForeignWriter other(PathOf("objects.db"));
    ASSERT_TRUE(other.Holding());
    auto write = std::async(std::launch::async, [this] { return Register(MakeObject(3, u"g")); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (served.PendingWrites() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_EQ(served.PendingWrites(), 1u);

    auto view = std::async(std::launch::async, [this] { return ViewIds(GroupPattern(u"g")); });
    const bool answered = view.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    EXPECT_EQ(write.wait_for(std::chrono::seconds(0)), std::future_status::timeout) << "the write did not wait";
    ASSERT_TRUE(other.Release());
    ASSERT_TRUE(answered) << "the view waited for the write";
    EXPECT_THAT(view.get(), ElementsAre(1, 2));
    EXPECT_THAT(write.get(), IsSuccessError());
    EXPECT_THAT(ViewIds(GroupPattern(u"g")), ElementsAre(1, 2, 3));
}

TEST_F(ServiceCoreThreads, AViewWaitsForItsShareBeforeItReadsAndOneLargerThanTheBudgetRunsAlone)
{
    ASSERT_THAT(Register(MakeLargeObject(1, u"large", 2000000)), IsSuccessError());
    Ipc::ReplyBudget budget(65536); // far less than the view needs
    Ipc::ReplyLease held(budget);
    held.Take(1);
    Reply reply;
    std::thread view([&] {
        Ipc::ReplyLease lease(budget);
        Ipc::Bytes packet;
        EXPECT_THAT(
            Ipc::InvokeHandler(*m_core, {"", kDml, &lease}, ViewPacket(GroupPattern(u"large"), nullptr), packet),
            IsSuccessError());
        reply = ReadReply(packet, "ViewManager", "OpenStaticView");
    });
    while (budget.GetWaiting() == 0)
        std::this_thread::yield();
    // Meanwhile the object goes: the view was located before it waited and
    // reads in the snapshot it located in, or the object would be gone.
    EXPECT_THAT(Unregister(Key(1)), IsSuccessError());
    held.Release();
    view.join();
    ASSERT_THAT(reply.result, IsSuccessError());
    EXPECT_EQ(reply.snapshot.size(), 1u);
    EXPECT_EQ(budget.GetBytesInUse(), 0u);
}

} // namespace
