// Units as request parameters, record fields and sequence entries: a unit
// (std::shared_ptr<const Por::View::Unit>, which may be empty) travels through
// the object model's serialization bridge inside the element that holds it,
// as "is_empty" and, for a unit that is present, its binary form as "value".
//
// A unit passed by value is still read back from the reply (into a copy that
// is dropped), so its element is consumed in order.
//
// Threading: stateless; the (de)serializer belongs to the calling thread.
#pragma once

#include <memory>

#include "enterprise/common/ipc/value_codec.h"
#include "enterprise/common/por/unit.h"

namespace Binding::Detail {

using UnitPointer = std::shared_ptr<const Por::View::Unit>;

// Writes the unit into the current element.
void WriteUnit(Serialization::Serializer& serializer, const UnitPointer& unit);
// Reads a unit from the current element into `unit` (empty for no unit); on a
// failure `unit` is left as it was.
void ReadUnit(Serialization::Deserializer& deserializer, UnitPointer& unit);

template <>
struct ValueCodec<UnitPointer>
{
    static constexpr bool kReadBackByValue = true;
    static void Write(Serialization::Serializer& serializer, const Serialization::MetaInfo& element,
                      const UnitPointer& unit)
    {
        Serialization::WriteScope scope(serializer, element);
        WriteUnit(serializer, unit);
    }
    static void Read(Serialization::Deserializer& deserializer, const Serialization::MetaInfo& element,
                     UnitPointer& unit)
    {
        Serialization::ReadScope scope(deserializer, element);
        ReadUnit(deserializer, unit);
    }
};

template <>
struct ItemCodec<UnitPointer>
{
    static void WriteItem(Serialization::Serializer& serializer, const UnitPointer& unit)
    {
        ValueCodec<UnitPointer>::Write(serializer, Serialization::MetaInfo(Serialization::kItemTag), unit);
    }
    static void ReadItem(Serialization::Deserializer& deserializer, UnitPointer& unit) { ReadUnit(deserializer, unit); }
};

} // namespace Binding::Detail

namespace Por::View {

// The content of a unit "item" for container-aware serializers
// (Serialization::ValueIterator finds it by argument-dependent lookup).
inline void SerializeValue(::Serialization::Serializer& serializer, const std::shared_ptr<const Unit>& unit)
{
    Binding::Detail::WriteUnit(serializer, unit);
}

} // namespace Por::View
