// The view-management records that the "ViewManager" interface carries, with
// their writers and readers for the body of a request or reply packet.
//
// A writer writes the record's fields, in declaration order, inside the
// element the caller opened for the whole record; each field is an element
// named as the field. Numbers are decimal text, units go through the unit
// codec ("is_empty", "value"), sequences are "vector" with one "item" per
// entry. A record nested in another record or in a sequence (TopicSpec's
// Interest, Topic's ID, every ViewUpdate item) carries its trait list (one
// trait "Is" of type "StringValue" naming the record's class) and, unless the
// serializer's context already is kNestedRecordContext, version 2, with the
// context set to kNestedRecordContext for its inside and restored after it.
// Writers raise the serializer's errors (closing failures are traced at level
// 4 and dropped).
//
// A reader (all but DeserializeViewSpec, which a service uses) reads each
// field in its own guard and never raises a Common::Error: a missing or
// malformed field keeps its value and the next field follows. Fields are
// looked up by name (any order); sequence entries must follow one another as
// "item" children, and the first failing entry ends the sequence (entries
// read so far stay, the failed one included).
//
// Threading: plain values; copies share their units. Readers and writers use
// the caller's (de)serializer on the caller's thread; the trait lists are
// built once and only read.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "enterprise/common/ipc/unit_codec.h"
#include "enterprise/common/por/unit.h"

namespace Dml {

struct ViewSpec
{
    std::shared_ptr<const Por::View::Unit> Pattern;
    std::shared_ptr<const Por::View::Unit> Options;

    ViewSpec() = default;
    // Takes both units over, pattern first.
    ViewSpec(std::unique_ptr<Por::Construction::Unit> pattern, std::unique_ptr<Por::Construction::Unit> options);
};

Serialization::Serializer& SerializeViewSpec(Serialization::Serializer& serializer, const ViewSpec& spec);
// The reader of a service that answers a view: unlike the readers below, it
// raises the deserializer's error of a missing or malformed field (the fields
// read before it stay).
Serialization::Deserializer& DeserializeViewSpec(Serialization::Deserializer& deserializer, ViewSpec& spec);

namespace ViewManagement {

// The serializer context inside a nested record.
inline void* const kNestedRecordContext = reinterpret_cast<void*>(uintptr_t{2});

struct TopicID
{
    uint32_t Subscriber = 0;
    uint32_t Interest = 0;
};

struct Subscription
{
    uint32_t ID = 0;
};

struct SubscriptionSpec
{
};

struct TopicSpec
{
    uint32_t Subscription = 0; // a subscriber ID
    ViewSpec Interest;
};

// Types 0, 1 and 2 are delivered to the update reader; a default update has
// Type 3 (its "Type" was never read) and is never delivered.
enum UpdateType : uint32_t
{
    UPDATE_TYPE_0 = 0,
    UPDATE_TYPE_1 = 1,
    UPDATE_TYPE_2 = 2,
    UPDATE_TYPE_NOT_READ = 3,
};

struct ViewUpdate
{
    uint32_t Type = UPDATE_TYPE_NOT_READ;
    std::shared_ptr<const Por::View::Unit> Key;
    std::shared_ptr<const Por::View::Unit> PackedUpdate;
};

struct SubscriptionContent
{
    std::vector<ViewUpdate> TopicUpdates;
};

struct Topic
{
    TopicID ID;
    std::vector<std::shared_ptr<const Por::View::Unit>> Content;
};

// The trait list of each record: one trait "Is", type "StringValue", the
// record's class name ("Dml::ViewSpec", "Dml::ViewManagement::TopicID", ...).
enum class RecordKind
{
    ViewSpec,
    TopicID,
    Subscription,
    SubscriptionSpec,
    TopicSpec,
    ViewUpdate,
    SubscriptionContent,
    Topic,
};
const std::shared_ptr<Serialization::MetaInfoTraitList>& RecordTraits(RecordKind kind);

Serialization::Serializer& SerializeTopicID(Serialization::Serializer& serializer, const TopicID& topicId);
Serialization::Deserializer& DeserializeTopicID(Serialization::Deserializer& deserializer, TopicID& topicId);
Serialization::Serializer& SerializeSubscription(Serialization::Serializer& serializer,
                                                 const Subscription& subscription);
Serialization::Deserializer& DeserializeSubscription(Serialization::Deserializer& deserializer,
                                                     Subscription& subscription);
Serialization::Serializer& SerializeSubscriptionSpec(Serialization::Serializer& serializer,
                                                     const SubscriptionSpec& spec);
Serialization::Serializer& SerializeTopicSpec(Serialization::Serializer& serializer, const TopicSpec& spec);
Serialization::Serializer& SerializeViewUpdate(Serialization::Serializer& serializer, const ViewUpdate& update);
Serialization::Deserializer& DeserializeViewUpdate(Serialization::Deserializer& deserializer, ViewUpdate& update);
Serialization::Serializer& SerializeSubscriptionContent(Serialization::Serializer& serializer,
                                                        const SubscriptionContent& content);
Serialization::Deserializer& DeserializeSubscriptionContent(Serialization::Deserializer& deserializer,
                                                            SubscriptionContent& content);
Serialization::Serializer& SerializeTopic(Serialization::Serializer& serializer, const Topic& topic);
Serialization::Deserializer& DeserializeTopic(Serialization::Deserializer& deserializer, Topic& topic);

// Writes `update` as one "item" of a sequence, nested.
void WriteViewUpdateItem(Serialization::Serializer& serializer, const ViewUpdate& update);

// The content of a plain "item" for container-aware serializers.
inline void SerializeValue(Serialization::Serializer& serializer, const ViewUpdate& update)
{
    SerializeViewUpdate(serializer, update);
}

} // namespace ViewManagement

} // namespace Dml

namespace Binding::Detail {

template <>
struct ItemCodec<Dml::ViewManagement::ViewUpdate>
{
    static void WriteItem(Serialization::Serializer& serializer, const Dml::ViewManagement::ViewUpdate& update)
    {
        Dml::ViewManagement::WriteViewUpdateItem(serializer, update);
    }
    static void ReadItem(Serialization::Deserializer& deserializer, Dml::ViewManagement::ViewUpdate& update)
    {
        Dml::ViewManagement::DeserializeViewUpdate(deserializer, update);
    }
};

// Records as request parameters: written inside the parameter's element,
// without trait or version.
template <>
struct ValueCodec<Dml::ViewSpec> : RecordCodec<Dml::ViewSpec, Dml::SerializeViewSpec, Dml::DeserializeViewSpec>
{
};
template <>
struct ValueCodec<Dml::ViewManagement::TopicID>
    : RecordCodec<Dml::ViewManagement::TopicID, Dml::ViewManagement::SerializeTopicID,
                  Dml::ViewManagement::DeserializeTopicID>
{
};
template <>
struct ValueCodec<Dml::ViewManagement::Subscription>
    : RecordCodec<Dml::ViewManagement::Subscription, Dml::ViewManagement::SerializeSubscription,
                  Dml::ViewManagement::DeserializeSubscription>
{
};
template <>
struct ValueCodec<Dml::ViewManagement::SubscriptionSpec>
    : RecordCodec<Dml::ViewManagement::SubscriptionSpec, Dml::ViewManagement::SerializeSubscriptionSpec>
{
};
template <>
struct ValueCodec<Dml::ViewManagement::TopicSpec>
    : RecordCodec<Dml::ViewManagement::TopicSpec, Dml::ViewManagement::SerializeTopicSpec>
{
};
template <>
struct ValueCodec<Dml::ViewManagement::SubscriptionContent>
    : RecordCodec<Dml::ViewManagement::SubscriptionContent, Dml::ViewManagement::SerializeSubscriptionContent,
                  Dml::ViewManagement::DeserializeSubscriptionContent>
{
};
template <>
struct ValueCodec<Dml::ViewManagement::Topic>
    : RecordCodec<Dml::ViewManagement::Topic, Dml::ViewManagement::SerializeTopic,
                  Dml::ViewManagement::DeserializeTopic>
{
};

} // namespace Binding::Detail
