// The packets of one call on both sides: request elements split into their
// names, the reply element a request is answered by, and reply packets
// written by a peer and read back into the request.

#include "platform/ipc/request_packet.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/ipc/binding_test_support.h"
#include "platform/ipc/ipc_errors.h"
#include "testing/error_matchers.h"

namespace {

using Testing::ErrorIs;
using Testing::IsSuccessError;

std::string Text(const Ipc::Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

Ipc::Bytes B(const std::string& text)
{
    return Ipc::Bytes(text.begin(), text.end());
}

// A request that writes one empty element of the given name (none: nothing).
class ElementRequest final : public Binding::Request
{
public:
    explicit ElementRequest(std::string element) : m_element(std::move(element)) {}

    void SetProperty(const std::string&, const std::u16string&) override {}
    int64_t GetTargetVersion() override { return -1; }
    int GetComponentId() override { return 999; }
    int GetMethodIndex() override { return 1; }
    std::unique_ptr<Serialization::Deserializer> CreatePacketReader(unsigned) override { return nullptr; }
    std::map<std::string, std::u16string> GetProperties() override { return {}; }
    uint64_t GetInterfaceVersion() override { return 1; }
    void Write(Serialization::Serializer& serializer) override
    {
        if (m_element.empty())
            return;
        const Serialization::MetaInfo element(m_element);
        serializer.StartWriteMetaInfo(element);
        serializer.FinishWriteMetaInfo(element);
    }
    void Read(Serialization::Deserializer&) override {}

private:
    std::string m_element;
};

TEST(RequestElement, SplitsIntoInterfaceAndMethodAtTheFirstSeparator)
{
    struct Case
    {
        std::string element;
        bool split;
        std::string interfaceName;
        std::string methodName;
    };
    const Case cases[] = {
        {"request_ObjectManager_UpdateObject", true, "ObjectManager", "UpdateObject"},
        {"request_ViewManager_Open_Static_View", true, "ViewManager", "Open_Static_View"},
        {"request_I_M", true, "I", "M"},
        {"request_ObjectManager", false, "", ""},
        {"request__UpdateObject", false, "", ""},
        {"request_ObjectManager_", false, "", ""},
        {"request_", false, "", ""},
        {"request", false, "", ""},
        {"reply_ObjectManager_UpdateObject", false, "", ""},
        {"Request_ObjectManager_UpdateObject", false, "", ""},
        {"", false, "", ""},
    };
    for (const Case& c : cases) {
        std::string interfaceName;
        std::string methodName;
        EXPECT_EQ(Ipc::SplitRequestElement(c.element, interfaceName, methodName), c.split) << c.element;
        EXPECT_EQ(interfaceName, c.interfaceName) << c.element;
        EXPECT_EQ(methodName, c.methodName) << c.element;
        if (c.split) {
            EXPECT_EQ(Ipc::ReplyElement(interfaceName, methodName), "reply" + c.element.substr(7)) << c.element;
        }
    }
}

TEST(RequestPacket, IsWrittenWholeAndNamesTheReplyOfItsElement)
{
    const std::unique_ptr<Binding::Request> request = IpcTesting::MakeNumberRequest(7);
    Ipc::Bytes packet;
    std::string replyElement;
    ASSERT_THAT(Ipc::WriteRequestPacket(*request, packet, replyElement), IsSuccessError());
    EXPECT_EQ(Text(packet),
              "\xEF\xBB\xBF<XML_SERIALIZER><request_Test_Echo><v>7</v></request_Test_Echo></XML_SERIALIZER>");
    EXPECT_EQ(replyElement, "reply_Test_Echo");
}

TEST(RequestPacket, ARequestWhoseElementNamesNoMethodIsNotSent)
{
    for (const char* element : {"request_Echo", "request_", "reply_Test_Echo", "Test_Echo", ""}) {
        ElementRequest request(element);
        Ipc::Bytes packet;
        std::string replyElement = "untouched";
        EXPECT_THAT(Ipc::WriteRequestPacket(request, packet, replyElement), ErrorIs(Ipc::kMalformedFrame)) << element;
        EXPECT_EQ(replyElement, "untouched") << element;
    }
}

TEST(ReplyPacket, HoldsTheResultFirstAndThenWhatTheMethodReadsBack)
{
    Ipc::Bytes reply;
    const auto writeNumber = [](Serialization::Serializer& out) { out.Write(Serialization::MetaInfo("v"), 107u); };
    ASSERT_THAT(Ipc::WriteReplyPacket("reply_Test_Echo", Common::Success, writeNumber, reply), IsSuccessError());
    EXPECT_EQ(Text(reply),
              "\xEF\xBB\xBF<XML_SERIALIZER><reply_Test_Echo><result>AQ==</result><v>107</v></reply_Test_Echo>"
              "</XML_SERIALIZER>");

    uint32_t number = 0;
    const std::unique_ptr<Binding::Request> request = IpcTesting::MakeNumberRequest(7, &number);
    EXPECT_THAT(Ipc::ReadReplyPacket(*request, reply, "reply_Test_Echo"), IsSuccessError());
    EXPECT_EQ(number, 107u);
}

TEST(ReplyPacket, AFailedResultIsTheCallsOutcomeAndNothingIsReadBack)
{
    const Common::Error refused(0xFC0017, u"refused by peer", Common::SourceFile("peer").At("Echo", 3));
    Ipc::Bytes reply;
    ASSERT_THAT(Ipc::WriteReplyPacket("reply_Test_Echo", refused, nullptr, reply), IsSuccessError());

    uint32_t number = 5;
    const std::unique_ptr<Binding::Request> request = IpcTesting::MakeNumberRequest(7, &number);
    EXPECT_THAT(Ipc::ReadReplyPacket(*request, reply, "reply_Test_Echo"),
                ::testing::AllOf(ErrorIs(0xFC0017), Testing::HasText(u"refused by peer")));
    EXPECT_EQ(number, 5u);
}

TEST(ReplyPacket, AReplyOfAnotherElementOrNoPacketFailsTheCall)
{
    Ipc::Bytes reply;
    ASSERT_THAT(Ipc::WriteReplyPacket("reply_Test_Other", Common::Success, nullptr, reply), IsSuccessError());
    const std::unique_ptr<Binding::Request> request = IpcTesting::MakeNumberRequest(7);
    EXPECT_THAT(Ipc::ReadReplyPacket(*request, reply, "reply_Test_Echo"), ::testing::Not(IsSuccessError()));
    EXPECT_THAT(Ipc::ReadReplyPacket(*request, B("not xml"), "reply_Test_Echo"), ::testing::Not(IsSuccessError()));
}

TEST(ReplyPacket, AWriterThatFailsIsTheOutcomeAndLeavesTheReplyAsItWas)
{
    const Common::Error tooLarge(0xFC0099, u"too large", Common::SourceFile("peer").At("Write", 9));
    Ipc::Bytes reply = B("earlier");
    const auto failing = [&](Serialization::Serializer& out) {
        out.Write(Serialization::MetaInfo("v"), 1u);
        throw tooLarge;
    };
    EXPECT_THAT(Ipc::WriteReplyPacket("reply_Test_Echo", Common::Success, failing, reply), ErrorIs(0xFC0099));
    EXPECT_EQ(Text(reply), "earlier");
}

} // namespace
