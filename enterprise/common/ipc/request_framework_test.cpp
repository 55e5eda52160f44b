// The request framework: identity, packet elements of the call and the reply,
// transfer flags, in-out arguments and unit vectors, building failures.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/ipc/request_impl.h"
#include "enterprise/common/ipc/test_support/container_aware_serializer.h"
#include "enterprise/common/ipc/test_support/scripted_access_point.h"
#include "enterprise/common/ipc/test_support/test_units.h"
#include "enterprise/common/ipc/unit_codec.h"
#include "enterprise/serialize/serialization_errors.h"
#include "testing/error_matchers.h"

namespace {

using Binding::MethodIdentity;
using Binding::Detail::BuildRequest;
using Binding::Detail::RequestImpl;
using Binding::Detail::UnitPointer;
using IpcTesting::Content;
using IpcTesting::LabelsOf;
using IpcTesting::Packet;
using IpcTesting::ReadReply;
using IpcTesting::ResultElement;
using IpcTesting::Unit;
using IpcTesting::WrittenPacket;
using Testing::ErrorIs;
using Units = std::vector<UnitPointer>;

MethodIdentity TestIdentity()
{
    return MethodIdentity(900, 4, "Iface", "Method", 7, 3);
}

const std::string kOk = "<result></result>";

std::string Reply(const std::string& children)
{
    return Packet("<reply_Iface_Method>" + children + "</reply_Iface_Method>");
}

Common::Error SomeFailure()
{
    return Common::Error(0xFC0017, u"refused", Common::SourceFile("test").At("Peer", 1));
}

TEST(RequestIdentity, AnswersTheMethodIdentityAndKeepsProperties)
{
    uint32_t number = 0;
    std::unique_ptr<Binding::Request> request = BuildRequest<void(uint32_t)>(TestIdentity(), {"n"}, number);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->GetComponentId(), 900);
    EXPECT_EQ(request->GetMethodIndex(), 4);
    EXPECT_EQ(request->GetInterfaceVersion(), 7u);
    EXPECT_EQ(request->GetTargetVersion(), -1);
    EXPECT_TRUE(request->GetProperties().empty());

    request->SetProperty("a", u"1");
    request->SetProperty("b", u"2");
    request->SetProperty("a", u"3");
    auto copy = request->GetProperties();
    EXPECT_EQ(copy, (std::map<std::string, std::u16string>{{"a", u"3"}, {"b", u"2"}}));
    copy.clear();
    EXPECT_EQ(request->GetProperties().size(), 2u);
}

TEST(RequestIdentity, OffersItselfAsRequestBaseOnly)
{
    uint32_t number = 0;
    std::unique_ptr<Binding::Request> request = BuildRequest<void(uint32_t)>(TestIdentity(), {"n"}, number);
    void* found = request->Cast("PN7Binding6Detail11RequestBaseE");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(static_cast<Binding::Detail::RequestBase*>(found),
              dynamic_cast<Binding::Detail::RequestBase*>(request.get()));
    EXPECT_EQ(request->Cast("PN7Binding7RequestE"), nullptr);
    EXPECT_EQ(request->Cast(nullptr), nullptr);
}

TEST(RequestPacket, WritesTheArgumentsInOrderWithTheirBuildTimeValues)
{
    uint32_t inOut = 3;
    const uint32_t constant = 2;
    std::unique_ptr<Binding::Request> request = BuildRequest<void(uint32_t, const uint32_t&, uint32_t&)>(
        TestIdentity(), {"a", "b", "c"}, uint32_t{1}, constant, inOut);
    inOut = 99; // later changes are not sent
    EXPECT_EQ(WrittenPacket(*request), Packet("<request_Iface_Method><a>1</a><b>2</b><c>3</c></request_Iface_Method>"));
}

TEST(RequestPacket, PacketReaderReadsWhatTheRequestWrites)
{
    uint32_t value = 42;
    std::unique_ptr<Binding::Request> request = BuildRequest<void(uint32_t&)>(TestIdentity(), {"v"}, value);
    std::unique_ptr<Serialization::Deserializer> reader = request->CreatePacketReader(5);
    ASSERT_TRUE(reader);
    reader->StartReadMetaInfo(Serialization::MetaInfo("request_Iface_Method"));
    EXPECT_EQ(reader->GetSubjectVersion(), 5u);
    uint32_t read = 0;
    reader->Read(Serialization::MetaInfo("v", true), read);
    EXPECT_EQ(read, 42u);
}

TEST(RequestReply, SuccessFillsInOutArgumentsOnly)
{
    uint32_t inOut = 1;
    uint32_t byValue = 2;
    const uint32_t constant = 3;
    std::unique_ptr<Binding::Request> request = BuildRequest<void(uint32_t, const uint32_t&, uint32_t&)>(
        TestIdentity(), {"a", "b", "c"}, byValue, constant, inOut);
    ReadReply(*request, Reply(kOk + "<c>30</c>"));
    EXPECT_EQ(inOut, 30u);
    EXPECT_EQ(byValue, 2u);
}

TEST(RequestReply, AFailedResultReadsNothingAndStillSucceeds)
{
    uint32_t inOut = 1;
    std::unique_ptr<Binding::Request> request = BuildRequest<void(uint32_t&)>(TestIdentity(), {"c"}, inOut);
    EXPECT_NO_THROW(ReadReply(*request, Reply(ResultElement(SomeFailure()) + "<c>30</c>")));
    EXPECT_EQ(inOut, 1u);
}

TEST(RequestReply, TheReplyElementIsFoundAfterOtherChildren)
{
    uint32_t inOut = 1;
    std::unique_ptr<Binding::Request> request = BuildRequest<void(uint32_t&)>(TestIdentity(), {"c"}, inOut);
    ReadReply(*request,
              Packet("<unrelated>x</unrelated><reply_Iface_Method><result>AQ==</result><c>5</c></reply_Iface_Method>"));
    EXPECT_EQ(inOut, 5u);
}

TEST(RequestReply, ResultMustBeTheFirstChild)
{
    uint32_t inOut = 1;
    std::unique_ptr<Binding::Request> request = BuildRequest<void(uint32_t&)>(TestIdentity(), {"c"}, inOut);
    try {
        ReadReply(*request, Reply("<other>1</other>" + kOk + "<c>5</c>"));
        FAIL() << "a reply that does not start with result was read";
    } catch (const Common::Error& error) {
        EXPECT_THAT(error, ErrorIs(SerializationErrors::kInconsistentMeta));
    }
    EXPECT_EQ(inOut, 1u);
    EXPECT_THROW(ReadReply(*request, Packet("<other/>")), Common::Error);
}

TEST(RequestReply, AMissingResultElementSkipsTheOneExaminedInItsPlace)
{
    // The strict lookup of "a" examines "b" and moves past it, so "b" examines
    // "c", and "c" finds nothing left; no failure leaves Read.
    uint32_t a = 1;
    uint32_t b = 2;
    uint32_t c = 3;
    std::unique_ptr<Binding::Request> request = BuildRequest<void(uint32_t&, uint32_t&, uint32_t&)>(
        TestIdentity(), {"a", "b", "c"}, a, b, c);
    EXPECT_NO_THROW(ReadReply(*request, Reply(kOk + "<b>20</b><c>30</c>")));
    EXPECT_EQ(a, 1u);
    EXPECT_EQ(b, 2u);
    EXPECT_EQ(c, 3u);
}

TEST(RequestReply, AFailedResultReadIsDroppedAndTheNextIsRead)
{
    Units units{Unit("old")};
    uint32_t number = 2;
    std::unique_ptr<Binding::Request> request = BuildRequest<void(Units&, uint32_t&)>(
        TestIdentity(), {"units", "number"}, units, number);
    EXPECT_NO_THROW(ReadReply(*request,
                              Reply(kOk + "<units><vector><item>" + IpcTesting::kCorruptUnitContent +
                                    "</item></vector></units><number>20</number>")));
    EXPECT_THAT(LabelsOf(units), ::testing::ElementsAre("(null)"));
    EXPECT_EQ(number, 20u);
}

struct FlagCase
{
    uint32_t flag;
    bool written;
    bool read;
    std::vector<unsigned> assertionLines;
};

TEST(RequestTransferFlags, DecideWritingAndReadingBack)
{
    const FlagCase cases[] = {
        {0, true, true, {}},           {1, true, false, {}},
        {2, false, true, {}},          {3, true, true, {}},
        {4, false, false, {313, 395}}, {5, false, false, {313}},
        {6, false, false, {395}},      {7, false, false, {313, 395}},
        {8, false, false, {}},         {0xFFFFFFFF, false, false, {}},
    };
    for (const FlagCase& flagCase : cases) {
        SCOPED_TRACE("flag " + std::to_string(flagCase.flag));
        AsyncTest::AssertionCapture assertions;
        uint32_t value = 7;
        std::unique_ptr<Binding::Request> request = BuildRequest<void(uint32_t&)>(
            TestIdentity(), {Binding::Detail::ParameterName("v", flagCase.flag)}, value);
        const std::string written = Content(WrittenPacket(*request));
        EXPECT_EQ(written,
                  flagCase.written ? "<request_Iface_Method><v>7</v></request_Iface_Method>"
                                   : "<request_Iface_Method></request_Iface_Method>");
        ReadReply(*request, Reply(kOk + "<v>8</v>"));
        EXPECT_EQ(value, flagCase.read ? 8u : 7u);

        std::vector<std::string> expected;
        for (unsigned line : flagCase.assertionLines)
            expected.push_back("Assertion failed: !\"Value is not encryptable but encyption was requested\", file "
                               "enterprise/common/ipc/utils, line " +
                               std::to_string(line));
        EXPECT_EQ(assertions.Reports(), expected);
    }
}

TEST(RequestUnits, UnitsByValueAreWrittenAndTheirReplyElementsDropped)
{
    UnitPointer key = Unit("key");
    std::unique_ptr<Binding::Request> request = BuildRequest<void(UnitPointer, UnitPointer)>(
        TestIdentity(), {"objectId", "patch"}, key, UnitPointer());
    EXPECT_EQ(Content(WrittenPacket(*request)),
              "<request_Iface_Method><objectId>" + IpcTesting::UnitContent(key) +
                  "</objectId><patch><is_empty>1</is_empty></patch></request_Iface_Method>");
    EXPECT_EQ(key.use_count(), 3); // the value and the second copy share the caller's unit
    EXPECT_NO_THROW(ReadReply(*request,
                              Reply(kOk + "<objectId>" + IpcTesting::UnitContent("x") + "</objectId><patch>" +
                                    IpcTesting::kCorruptUnitContent + "</patch>")));
    EXPECT_EQ(IpcTesting::LabelOf(key), "key");
}

class UnitVectorReply : public ::testing::Test
{
protected:
    Units snapshot{Unit("old1"), Unit("old2")};
    std::unique_ptr<Binding::Request> request = BuildRequest<void(const uint32_t&, Units&)>(
        TestIdentity(), {"spec", "snapshot"}, uint32_t{0}, snapshot);

    static std::string Item(const std::string& label)
    {
        return "<item>" + (label == "corrupt" ? IpcTesting::kCorruptUnitContent : IpcTesting::UnitContent(label)) +
            "</item>";
    }
    void Read(const std::string& snapshotChildren)
    {
        ASSERT_NO_THROW(ReadReply(*request, Reply(kOk + "<snapshot>" + snapshotChildren + "</snapshot>")));
    }
};

TEST_F(UnitVectorReply, WritesAVectorOfItemsWithoutVersionOrTraits)
{
    EXPECT_EQ(Content(WrittenPacket(*request)),
              "<request_Iface_Method><spec>0</spec><snapshot><vector>" + Item("old1") + Item("old2") +
                  "</vector></snapshot></request_Iface_Method>");
    Units none;
    auto empty = BuildRequest<void(Units&)>(TestIdentity(), {"snapshot"}, none);
    EXPECT_EQ(Content(WrittenPacket(*empty)),
              "<request_Iface_Method><snapshot><vector></vector></snapshot></request_Iface_Method>");
}

TEST_F(UnitVectorReply, AContainerAwareSerializerGetsTheWholeVector)
{
    IpcTesting::ContainerAwareTestSerializer serializer;
    request->Write(serializer);
    EXPECT_EQ(serializer.sequences, std::vector<std::string>{"snapshot"});
    std::vector<unsigned char> bytes;
    serializer.GetData(bytes);
    EXPECT_EQ(Content(std::string(bytes.begin(), bytes.end())),
              "<request_Iface_Method><spec>0</spec><snapshot>" + Item("old1") + Item("old2") +
                  "</snapshot></request_Iface_Method>");
}

TEST_F(UnitVectorReply, ReadsItemsUntilAnotherElement)
{
    Read("<vector>" + Item("a") + Item("b") + Item("c") + "<other/>" + Item("d") + "</vector>");
    EXPECT_THAT(LabelsOf(snapshot), ::testing::ElementsAre("a", "b", "c"));
}

TEST_F(UnitVectorReply, AnEmptyItemIsANullUnit)
{
    Read("<vector><item><is_empty>1</is_empty></item>" + Item("b") + "</vector>");
    EXPECT_THAT(LabelsOf(snapshot), ::testing::ElementsAre("(null)", "b"));
}

TEST_F(UnitVectorReply, ACorruptItemEndsTheVectorWithAnEmptyEntry)
{
    Read("<vector>" + Item("a") + Item("corrupt") + Item("c") + "</vector>");
    EXPECT_THAT(LabelsOf(snapshot), ::testing::ElementsAre("a", "(null)"));
}

TEST_F(UnitVectorReply, AnEmptyVectorClearsTheDestination)
{
    Read("<vector></vector>");
    EXPECT_TRUE(snapshot.empty());
}

TEST_F(UnitVectorReply, WithoutAVectorTheDestinationIsUntouched)
{
    Read("<other/>");
    EXPECT_THAT(LabelsOf(snapshot), ::testing::ElementsAre("old1", "old2"));
    ASSERT_NO_THROW(ReadReply(*request, Reply(kOk)));
    EXPECT_THAT(LabelsOf(snapshot), ::testing::ElementsAre("old1", "old2"));
}

TEST_F(UnitVectorReply, AFailedResultLeavesTheVectorUntouched)
{
    ASSERT_NO_THROW(ReadReply(
        *request, Reply(ResultElement(SomeFailure()) + "<snapshot><vector>" + Item("a") + "</vector></snapshot>")));
    EXPECT_THAT(LabelsOf(snapshot), ::testing::ElementsAre("old1", "old2"));
}

// A parameter type whose copy raises a Common::Error, as a failing builder step.
struct Refusing
{
    Refusing() = default;
    Refusing(const Refusing&) { throw Common::Error(0xFC0031, u"no copy", Common::SourceFile("test").At("Copy", 1)); }
};

} // namespace

namespace Binding::Detail {
template <>
struct ValueCodec<Refusing>
{
    static constexpr bool kReadBackByValue = false;
    static void Write(Serialization::Serializer&, const Serialization::MetaInfo&, const Refusing&) {}
    static void Read(Serialization::Deserializer&, const Serialization::MetaInfo&, Refusing&) {}
};
} // namespace Binding::Detail

namespace {

TEST(RequestBuilding, AnErrorWhileBuildingIsTracedAtLevelOneAndGivesNoRequest)
{
    AsyncTest::TraceCapture traces;
    const Refusing refusing;
    EXPECT_EQ((BuildRequest<void(const Refusing&)>(TestIdentity(), {"r"}, refusing)), nullptr);
    const auto traced = traces.Entries();
    ASSERT_EQ(traced.size(), 1u);
    EXPECT_EQ(traced[0].level, 1);
    EXPECT_THAT(traced[0].error, ErrorIs(0xFC0031));
}

} // namespace
