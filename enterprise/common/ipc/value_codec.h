// How the values of request parameters and record fields travel in a packet.
//
// ValueCodec<T> writes a value as one whole element named by the caller's
// descriptor and reads it back from one:
//     static void Write(Serializer&, const MetaInfo& element, const T& value);
//     static void Read(Deserializer&, const MetaInfo& element, T& value);
//     static constexpr bool kReadBackByValue; // read back also when passed by value
// Read raises Common::Error when the element is missing or unreadable; what it
// stored before the failure stays.
//
// ItemCodec<T> writes one entry of a sequence as a whole "item" element and
// reads the content of an "item" that the sequence reader has entered:
//     static void WriteItem(Serializer&, const T& value);
//     static void ReadItem(Deserializer&, T& value);
// and a SerializeValue(Serializer&, const T&) found by argument-dependent
// lookup writes the content of a plain "item" for container-aware serializers.
//
// Sequences: a serializer that offers ContainerAwareSerializer gets the whole
// vector through a ValueIterator; otherwise the field element holds "vector"
// with one "item" per entry. Reading enters the field element and "vector"
// (not strict), clears the destination, then reads while the next child is an
// "item" without trait lists, appending a default entry for each before
// entering it (strict). An entry that fails ends the sequence; the entries read
// so far stay, the failed one included.
//
// Elements opened here are closed when a write or read fails too; a failure of
// that closing is traced at level 4 and dropped (WriteScope, ReadScope).
//
// Threading: stateless; the (de)serializer belongs to the calling thread.
#pragma once

#include <cstdint>
#include <type_traits>
#include <vector>

#include "enterprise/serialize/container_aware_serializer.h"
#include "enterprise/serialize/deserializer.h"
#include "enterprise/serialize/dynamic_caster.h"
#include "enterprise/serialize/meta_info.h"
#include "enterprise/serialize/serializer.h"

namespace Binding::Detail {

template <typename T>
struct ValueCodec;

template <typename T>
struct ItemCodec;

template <>
struct ValueCodec<uint32_t>
{
    static constexpr bool kReadBackByValue = false;
    static void Write(Serialization::Serializer& serializer, const Serialization::MetaInfo& element,
                      const uint32_t& value)
    {
        serializer.Write(element, value);
    }
    static void Read(Serialization::Deserializer& deserializer, const Serialization::MetaInfo& element, uint32_t& value)
    {
        uint32_t read = value; // a malformed number leaves the variable as it was
        deserializer.Read(element, read);
        value = read;
    }
};

template <typename T>
void WriteSequence(Serialization::Serializer& serializer, const Serialization::MetaInfo& element,
                   const std::vector<T>& entries)
{
    if (auto* facet = Common::DynamicCast<Serialization::ContainerAwareSerializer>(serializer)) {
        Serialization::ValueIterator<T> items(entries.begin(), entries.end());
        facet->WriteSequence(element, items);
        return;
    }
    Serialization::WriteScope field(serializer, element);
    Serialization::WriteScope vector(serializer, Serialization::MetaInfo(Serialization::kVectorTag));
    for (const T& entry : entries)
        ItemCodec<T>::WriteItem(serializer, entry);
}

template <typename T>
void ReadSequence(Serialization::Deserializer& deserializer, const Serialization::MetaInfo& element,
                  std::vector<T>& entries)
{
    Serialization::ReadScope field(deserializer, element);
    Serialization::ReadScope vector(deserializer, Serialization::MetaInfo(Serialization::kVectorTag));
    entries.clear();
    for (;;) {
        const Serialization::MetaInfo next = deserializer.GetCurrentMetaInfo();
        if (next.name != Serialization::kItemTag || next.primaryTraits || next.secondaryTraits)
            break;
        entries.emplace_back();
        Serialization::ReadScope item(deserializer, Serialization::MetaInfo(Serialization::kItemTag, true));
        ItemCodec<T>::ReadItem(deserializer, entries.back());
    }
}

template <typename T>
struct ValueCodec<std::vector<T>>
{
    static constexpr bool kReadBackByValue = false;
    static void Write(Serialization::Serializer& serializer, const Serialization::MetaInfo& element,
                      const std::vector<T>& value)
    {
        WriteSequence(serializer, element, value);
    }
    static void Read(Serialization::Deserializer& deserializer, const Serialization::MetaInfo& element,
                     std::vector<T>& value)
    {
        ReadSequence(deserializer, element, value);
    }
};

// A record written by its writer inside its own element and read by its
// reader: WriteFields(Serializer&, const T&) and ReadFields(Deserializer&, T&)
// (a record that is never read back has none: nullptr).
template <typename T, auto WriteFields, auto ReadFields = nullptr>
struct RecordCodec
{
    static constexpr bool kReadBackByValue = false;
    static void Write(Serialization::Serializer& serializer, const Serialization::MetaInfo& element, const T& value)
    {
        Serialization::WriteScope scope(serializer, element);
        WriteFields(serializer, value);
    }
    static void Read(Serialization::Deserializer& deserializer, const Serialization::MetaInfo& element, T& value)
    {
        static_assert(!std::is_null_pointer_v<decltype(ReadFields)>, "this record is never read back");
        Serialization::ReadScope scope(deserializer, element);
        ReadFields(deserializer, value);
    }
};

} // namespace Binding::Detail
