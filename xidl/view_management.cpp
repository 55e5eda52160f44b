#include "xidl/view_management.h"

#include <utility>

#include "core/common/error.h"

namespace Dml {

namespace {

using Serialization::Deserializer;
using Serialization::MetaInfo;
using Serialization::Serializer;
using UnitCodec = Binding::Detail::ValueCodec<Binding::Detail::UnitPointer>;
using ViewManagement::RecordKind;

// Runs one field reader; a Common::Error leaves the field as it was.
template <typename ReadField>
void ReadGuarded(ReadField&& readField)
{
    try {
        readField();
    } catch (const Common::Error&) {
        // The field keeps its value; the next field follows.
    }
}

void ReadNumberField(Deserializer& deserializer, const char* name, uint32_t& field)
{
    ReadGuarded([&] { Binding::Detail::ValueCodec<uint32_t>::Read(deserializer, MetaInfo(name), field); });
}

void ReadUnitField(Deserializer& deserializer, const char* name, Binding::Detail::UnitPointer& field)
{
    ReadGuarded([&] { UnitCodec::Read(deserializer, MetaInfo(name), field); });
}

template <typename T>
void ReadSequenceField(Deserializer& deserializer, const char* name, std::vector<T>& field)
{
    ReadGuarded([&] { Binding::Detail::ReadSequence(deserializer, MetaInfo(name), field); });
}

// Writes a record nested in another record or a sequence: its trait list,
// and version 2 with the nested context unless that context is set already.
template <typename WriteFields>
void WriteNestedRecord(Serializer& serializer, const char* name, RecordKind kind, WriteFields&& writeFields)
{
    MetaInfo element(name);
    element.primaryTraits = ViewManagement::RecordTraits(kind);
    if (serializer.GetContext() != ViewManagement::kNestedRecordContext)
        element.version = 2;
    Serialization::ContextScope context(serializer, ViewManagement::kNestedRecordContext);
    Serialization::WriteScope scope(serializer, element);
    writeFields();
}

std::shared_ptr<Serialization::MetaInfoTraitList> MakeTraits(const char* className)
{
    return std::make_shared<Serialization::MetaInfoTraitList>(
        Serialization::MetaInfoTraitList{{"Is", "StringValue", className}});
}

} // namespace

ViewSpec::ViewSpec(std::unique_ptr<Por::Construction::Unit> pattern, std::unique_ptr<Por::Construction::Unit> options)
    : Pattern(std::move(pattern)), Options(std::move(options))
{
}

Serializer& SerializeViewSpec(Serializer& serializer, const ViewSpec& spec)
{
    UnitCodec::Write(serializer, MetaInfo("Pattern"), spec.Pattern);
    UnitCodec::Write(serializer, MetaInfo("Options"), spec.Options);
    return serializer;
}

Deserializer& DeserializeViewSpec(Deserializer& deserializer, ViewSpec& spec)
{
    UnitCodec::Read(deserializer, MetaInfo("Pattern"), spec.Pattern);
    UnitCodec::Read(deserializer, MetaInfo("Options"), spec.Options);
    return deserializer;
}

namespace ViewManagement {

const std::shared_ptr<Serialization::MetaInfoTraitList>& RecordTraits(RecordKind kind)
{
    static const std::shared_ptr<Serialization::MetaInfoTraitList> traits[] = {
        MakeTraits("Dml::ViewSpec"),
        MakeTraits("Dml::ViewManagement::TopicID"),
        MakeTraits("Dml::ViewManagement::Subscription"),
        MakeTraits("Dml::ViewManagement::SubscriptionSpec"),
        MakeTraits("Dml::ViewManagement::TopicSpec"),
        MakeTraits("Dml::ViewManagement::ViewUpdate"),
        MakeTraits("Dml::ViewManagement::SubscriptionContent"),
        MakeTraits("Dml::ViewManagement::Topic"),
    };
    return traits[static_cast<size_t>(kind)];
}

Serializer& SerializeTopicID(Serializer& serializer, const TopicID& topicId)
{
    serializer.Write(MetaInfo("Subscriber"), topicId.Subscriber);
    serializer.Write(MetaInfo("Interest"), topicId.Interest);
    return serializer;
}

Deserializer& DeserializeTopicID(Deserializer& deserializer, TopicID& topicId)
{
    ReadNumberField(deserializer, "Subscriber", topicId.Subscriber);
    ReadNumberField(deserializer, "Interest", topicId.Interest);
    return deserializer;
}

Serializer& SerializeSubscription(Serializer& serializer, const Subscription& subscription)
{
    serializer.Write(MetaInfo("ID"), subscription.ID);
    return serializer;
}

Deserializer& DeserializeSubscription(Deserializer& deserializer, Subscription& subscription)
{
    ReadNumberField(deserializer, "ID", subscription.ID);
    return deserializer;
}

Serializer& SerializeSubscriptionSpec(Serializer& serializer, const SubscriptionSpec&)
{
    return serializer;
}

Serializer& SerializeTopicSpec(Serializer& serializer, const TopicSpec& spec)
{
    serializer.Write(MetaInfo("Subscription"), spec.Subscription);
    WriteNestedRecord(serializer, "Interest", RecordKind::ViewSpec,
                      [&] { SerializeViewSpec(serializer, spec.Interest); });
    return serializer;
}

Serializer& SerializeViewUpdate(Serializer& serializer, const ViewUpdate& update)
{
    serializer.Write(MetaInfo("Type"), update.Type);
    UnitCodec::Write(serializer, MetaInfo("Key"), update.Key);
    UnitCodec::Write(serializer, MetaInfo("PackedUpdate"), update.PackedUpdate);
    return serializer;
}

Deserializer& DeserializeViewUpdate(Deserializer& deserializer, ViewUpdate& update)
{
    ReadNumberField(deserializer, "Type", update.Type);
    ReadUnitField(deserializer, "Key", update.Key);
    ReadUnitField(deserializer, "PackedUpdate", update.PackedUpdate);
    return deserializer;
}

void WriteViewUpdateItem(Serializer& serializer, const ViewUpdate& update)
{
    WriteNestedRecord(serializer, Serialization::kItemTag, RecordKind::ViewUpdate,
                      [&] { SerializeViewUpdate(serializer, update); });
}

Serializer& SerializeSubscriptionContent(Serializer& serializer, const SubscriptionContent& content)
{
    Binding::Detail::WriteSequence(serializer, MetaInfo("TopicUpdates"), content.TopicUpdates);
    return serializer;
}

Deserializer& DeserializeSubscriptionContent(Deserializer& deserializer, SubscriptionContent& content)
{
    ReadSequenceField(deserializer, "TopicUpdates", content.TopicUpdates);
    return deserializer;
}

Serializer& SerializeTopic(Serializer& serializer, const Topic& topic)
{
    WriteNestedRecord(serializer, "ID", RecordKind::TopicID, [&] { SerializeTopicID(serializer, topic.ID); });
    Binding::Detail::WriteSequence(serializer, MetaInfo("Content"), topic.Content);
    return serializer;
}

Deserializer& DeserializeTopic(Deserializer& deserializer, Topic& topic)
{
    ReadGuarded([&] {
        Serialization::ReadScope scope(deserializer, MetaInfo("ID"));
        DeserializeTopicID(deserializer, topic.ID);
    });
    ReadSequenceField(deserializer, "Content", topic.Content);
    return deserializer;
}

} // namespace ViewManagement

} // namespace Dml
