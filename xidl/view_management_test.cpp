// The view-management records: their elements as request arguments and when
// nested, their lenient readers, and the strict reader of a view's
// specification.

#include "xidl/view_management.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "enterprise/common/ipc/request_impl.h"
#include "enterprise/common/ipc/test_support/container_aware_serializer.h"
#include "enterprise/common/ipc/test_support/scripted_access_point.h"
#include "enterprise/common/ipc/test_support/test_units.h"

namespace {

using Binding::Detail::BuildRequest;
using Dml::ViewSpec;
using IpcTesting::Content;
using IpcTesting::LabelsOf;
using IpcTesting::Packet;
using IpcTesting::Unit;
using namespace Dml::ViewManagement;

const Binding::MethodIdentity kIdentity(271, 6, "ViewManager", "AddInterest", 2, 2);

const std::string kUnitA = "<is_empty>0</is_empty><value>VQ0CAAAAYQBF</value>"; // String "a"
const std::string kNoUnit = "<is_empty>1</is_empty>";
const std::string kViewSpecTrait = "<traits><trait  name=\"Is\" type=\"StringValue\">Dml::ViewSpec</trait></traits>";

ViewSpec Spec(const char* pattern)
{
    ViewSpec spec;
    spec.Pattern = Unit(pattern);
    return spec;
}

// Writes `write` into a fresh packet serializer with context `context`; the
// packet content, and the context found afterwards in `after`.
template <typename Write>
std::string Written(void* context, void*& after, Write write)
{
    std::unique_ptr<Serialization::Serializer> serializer = Serialization::CreateXMLPacketSerializer(2, -1);
    serializer->SetContext(context);
    write(*serializer);
    after = serializer->GetContext();
    std::vector<unsigned char> bytes;
    serializer->GetData(bytes);
    return Content(std::string(bytes.begin(), bytes.end()));
}

// Reads a record with `read` from inside element "r" of the packet content.
template <typename Read>
void ReadFrom(const std::string& content, Read read)
{
    std::unique_ptr<Serialization::Deserializer> deserializer = IpcTesting::Parse(Packet("<r>" + content + "</r>"));
    deserializer->StartReadMetaInfo(Serialization::MetaInfo("r"));
    read(*deserializer);
}

TEST(ViewSpecRecord, AsAnArgumentCarriesPatternAndOptionsOnly)
{
    const ViewSpec spec = Spec("a");
    auto request = BuildRequest<void(const ViewSpec&)>(kIdentity, {"specification"}, spec);
    EXPECT_EQ(Content(IpcTesting::WrittenPacket(*request)),
              "<request_ViewManager_AddInterest><specification><Pattern>" + kUnitA + "</Pattern><Options>" + kNoUnit +
                  "</Options></specification></request_ViewManager_AddInterest>");
}

TEST(ViewSpecRecord, ReadsBackWhatItsWriterWrote)
{
    ViewSpec written = Spec("a");
    written.Options = Unit("o");
    void* after = nullptr;
    const std::string fields = Written(nullptr, after, [&](auto& s) { Dml::SerializeViewSpec(s, written); });

    ViewSpec read;
    ReadFrom(fields, [&](auto& d) { Dml::DeserializeViewSpec(d, read); });
    EXPECT_EQ(IpcTesting::LabelOf(read.Pattern), "a");
    EXPECT_EQ(IpcTesting::LabelOf(read.Options), "o");
}

TEST(ViewSpecRecord, AMissingOrMalformedFieldIsRaisedAndTheFieldsBeforeItStay)
{
    const std::string noOptions = "<Pattern>" + kUnitA + "</Pattern>";
    const std::string badOptions = noOptions + "<Options><is_empty>0</is_empty><value>VVg=</value></Options>";
    for (const std::string& fields : {noOptions, badOptions}) {
        ViewSpec read;
        read.Options = Unit("old");
        EXPECT_THROW(ReadFrom(fields, [&](auto& d) { Dml::DeserializeViewSpec(d, read); }), Common::Error) << fields;
        EXPECT_EQ(IpcTesting::LabelOf(read.Pattern), "a") << fields;
        EXPECT_EQ(IpcTesting::LabelOf(read.Options), "old") << fields;
    }
}

TEST(TopicSpecRecord, NestsItsInterestWithVersionAndTraitOutsideTheNestedContext)
{
    TopicSpec topicSpec;
    topicSpec.Subscription = 5;
    topicSpec.Interest = Spec("a");
    const std::string fields = "<Pattern>" + kUnitA + "</Pattern><Options>" + kNoUnit + "</Options>";

    void* after = nullptr;
    void* const other = reinterpret_cast<void*>(uintptr_t{7});
    EXPECT_EQ(Written(other, after, [&](auto& s) { SerializeTopicSpec(s, topicSpec); }),
              "<Subscription>5</Subscription><Interest version=\"2\">" + fields + kViewSpecTrait + "</Interest>");
    EXPECT_EQ(after, other);

    EXPECT_EQ(Written(kNestedRecordContext, after, [&](auto& s) { SerializeTopicSpec(s, topicSpec); }),
              "<Subscription>5</Subscription><Interest>" + fields + kViewSpecTrait + "</Interest>");
    EXPECT_EQ(after, kNestedRecordContext);
}

TEST(TopicSpecRecord, AsTheSpecOfAddInterestCarriesNoTraitOfItsOwn)
{
    TopicSpec topicSpec;
    topicSpec.Interest = Spec("a");
    Topic topic;
    topic.ID = {3, 4};
    auto request = BuildRequest<void(const TopicSpec&, Topic&)>(kIdentity, {"spec", "topic"}, topicSpec, topic);
    EXPECT_EQ(Content(IpcTesting::WrittenPacket(*request)),
              "<request_ViewManager_AddInterest><spec><Subscription>0</Subscription><Interest version=\"2\">"
              "<Pattern>" +
                  kUnitA + "</Pattern><Options>" + kNoUnit + "</Options>" + kViewSpecTrait +
                  "</Interest></spec><topic><ID version=\"2\"><Subscriber>3</Subscriber><Interest>4</Interest>"
                  "<traits><trait  name=\"Is\" type=\"StringValue\">Dml::ViewManagement::TopicID</trait></traits>"
                  "</ID><Content><vector></vector></Content></topic></request_ViewManager_AddInterest>");
}

TEST(ViewUpdateSequence, ItemsAreNestedRecordsWhileUnitItemsArePlain)
{
    ViewUpdate update;
    update.Type = 1;
    update.Key = Unit("a");
    std::vector<ViewUpdate> updates{update, ViewUpdate()};
    void* after = nullptr;
    const std::string item = "<traits><trait  name=\"Is\" type=\"StringValue\">Dml::ViewManagement::ViewUpdate"
                             "</trait></traits></item>";
    EXPECT_EQ(Written(nullptr, after,
                      [&](auto& s) {
                          Binding::Detail::ValueCodec<std::vector<ViewUpdate>>::Write(
                              s, Serialization::MetaInfo("updates"), updates);
                      }),
              "<updates><vector><item version=\"2\"><Type>1</Type><Key>" + kUnitA + "</Key><PackedUpdate>" + kNoUnit +
                  "</PackedUpdate>" + item + "<item version=\"2\"><Type>3</Type><Key>" + kNoUnit +
                  "</Key><PackedUpdate>" + kNoUnit + "</PackedUpdate>" + item + "</vector></updates>");
    EXPECT_EQ(after, nullptr);
}

TEST(ViewUpdateSequence, AContainerAwareSerializerGetsPlainItems)
{
    ViewUpdate update;
    update.Type = 2;
    IpcTesting::ContainerAwareTestSerializer serializer;
    Binding::Detail::ValueCodec<std::vector<ViewUpdate>>::Write(serializer, Serialization::MetaInfo("updates"),
                                                                std::vector<ViewUpdate>{update});
    EXPECT_EQ(serializer.sequences, std::vector<std::string>{"updates"});
    std::vector<unsigned char> bytes;
    serializer.GetData(bytes);
    EXPECT_EQ(Content(std::string(bytes.begin(), bytes.end())),
              "<updates><item><Type>2</Type><Key>" + kNoUnit + "</Key><PackedUpdate>" + kNoUnit +
                  "</PackedUpdate></item></updates>");
    EXPECT_EQ(serializer.GetContext(), nullptr);
}

TEST(RecordReaders, TopicIdFieldsAreFoundInAnyOrder)
{
    TopicID topicId{1, 2};
    ReadFrom("<Interest>20</Interest><Subscriber>10</Subscriber>", [&](auto& d) { DeserializeTopicID(d, topicId); });
    EXPECT_EQ(topicId.Subscriber, 10u);
    EXPECT_EQ(topicId.Interest, 20u);
}

TEST(RecordReaders, MissingFieldsKeepTheirValues)
{
    Subscription subscription{9};
    ReadFrom("<Other>1</Other>", [&](auto& d) { DeserializeSubscription(d, subscription); });
    EXPECT_EQ(subscription.ID, 9u);

    SubscriptionContent content;
    content.TopicUpdates.resize(2);
    ReadFrom("", [&](auto& d) { DeserializeSubscriptionContent(d, content); });
    EXPECT_EQ(content.TopicUpdates.size(), 2u);
    ReadFrom("<TopicUpdates><vector></vector></TopicUpdates>",
             [&](auto& d) { DeserializeSubscriptionContent(d, content); });
    EXPECT_TRUE(content.TopicUpdates.empty());
}

TEST(RecordReaders, AViewUpdateWithoutTypeIsNeverDeliverableAndABadKeyStaysEmpty)
{
    SubscriptionContent content;
    ReadFrom("<TopicUpdates><vector>"
             "<item version=\"2\"><Key>" +
                 kUnitA +
                 "</Key></item>"
                 "<item><Type>0</Type><Key><is_empty>0</is_empty><value>VVg=</value></Key></item>"
                 "<item><Type>2</Type></item>"
                 "</vector></TopicUpdates>",
             [&](auto& d) { DeserializeSubscriptionContent(d, content); });
    ASSERT_EQ(content.TopicUpdates.size(), 3u);
    EXPECT_EQ(content.TopicUpdates[0].Type, UPDATE_TYPE_NOT_READ);
    EXPECT_EQ(content.TopicUpdates[1].Type, 0u);
    EXPECT_EQ(content.TopicUpdates[1].Key, nullptr);
    EXPECT_EQ(content.TopicUpdates[2].Type, 2u);
    EXPECT_EQ(content.TopicUpdates[2].Key, nullptr);
}

TEST(RecordReaders, ACorruptContentItemEndsTheSequenceWithoutAnException)
{
    Topic topic;
    topic.Content = {Unit("old")};
    const std::string item = "<item>" + kUnitA + "</item>";
    EXPECT_NO_THROW(ReadFrom("<ID><Subscriber>1</Subscriber><Interest>2</Interest></ID><Content><vector>" + item +
                                 "<item><is_empty>0</is_empty><value>VVg=</value></item>" + item +
                                 "</vector></Content>",
                             [&](auto& d) { DeserializeTopic(d, topic); }));
    EXPECT_THAT(LabelsOf(topic.Content), ::testing::ElementsAre("a", "(null)"));
    EXPECT_EQ(topic.ID.Subscriber, 1u);
    EXPECT_EQ(topic.ID.Interest, 2u);
}

} // namespace
