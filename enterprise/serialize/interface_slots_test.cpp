// The serializer and deserializer interfaces are called by closed libraries
// through their virtual tables: each table below is written in its binary
// order.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "enterprise/serialize/deserializer.h"
#include "enterprise/serialize/dynamic_caster.h"
#include "enterprise/serialize/serializer.h"
#include "testing/vtable_slot.h"

namespace {

using Serialization::Deserializer;
using Serialization::MetaInfo;
using Serialization::Serializer;
using Serialization::SharedData;
using Testing::kDestructorPair;
using Testing::SlotOrderMismatches;
using Testing::TableSize;
using Testing::VirtualSlot;
using Testing::VirtualSlotOf;

template <typename Value>
size_t WriteSlot()
{
    return VirtualSlotOf<Serializer, void(const MetaInfo&, Value)>(&Serializer::Write);
}

template <typename Value>
size_t ReadSlot()
{
    return VirtualSlotOf<Deserializer, void(const MetaInfo&, Value&)>(&Deserializer::Read);
}

TEST(SerializationInterfaceSlots, LookupInterfaceKeepsItsTableOrder)
{
    EXPECT_EQ(
        SlotOrderMismatches({{"~DynamicCaster", kDestructorPair}, {"Cast", VirtualSlot(&Common::DynamicCaster::Cast)}}),
        "");
    EXPECT_EQ(TableSize<Common::DynamicCaster>(), 3u);
    EXPECT_EQ(VirtualSlot(&Common::DynamicCasterImpl::Cast), 2u);
    EXPECT_EQ(TableSize<Common::DynamicCasterImpl>(), 3u);
}

TEST(SerializationInterfaceSlots, SerializerKeepsItsTableOrder)
{
    EXPECT_EQ(SlotOrderMismatches({
                  {"~Serializer", kDestructorPair},
                  {"Cast", VirtualSlotOf<Serializer, void*(const char*)>(&Serializer::Cast)},
                  {"Write(bool)", WriteSlot<bool>()},
                  {"Write(char)", WriteSlot<char>()},
                  {"Write(Guid)", WriteSlot<const Common::Guid&>()},
                  {"Write(Error)", WriteSlot<const Common::Error&>()},
                  {"Write(u16string)", WriteSlot<const std::u16string&>()},
                  {"Write(uint32_t)", WriteSlot<const uint32_t&>()},
                  {"Write(double)", WriteSlot<const double&>()},
                  {"Write(uint64_t)", WriteSlot<const uint64_t&>()},
                  {"Write(int32_t)", WriteSlot<const int32_t&>()},
                  {"Write(int64_t)", WriteSlot<const int64_t&>()},
                  {"Write(string)", WriteSlot<const std::string&>()},
                  {"Write(int16_t)", WriteSlot<const int16_t&>()},
                  {"Write(uint16_t)", WriteSlot<const uint16_t&>()},
                  {"Write(bytes)", WriteSlot<const std::vector<unsigned char>&>()},
                  {"Write(SharedData)", WriteSlot<const SharedData&>()},
                  {"GetData", VirtualSlot(&Serializer::GetData)},
                  {"GetSharedData", VirtualSlot(&Serializer::GetSharedData)},
                  {"GetCurrentMetaInfo", VirtualSlot(&Serializer::GetCurrentMetaInfo)},
                  {"StartWriteMetaInfo", VirtualSlot(&Serializer::StartWriteMetaInfo)},
                  {"FinishWriteMetaInfo", VirtualSlot(&Serializer::FinishWriteMetaInfo)},
                  {"SetContext", VirtualSlot(&Serializer::SetContext)},
                  {"GetContext", VirtualSlot(&Serializer::GetContext)},
              }),
              "");
    EXPECT_EQ(TableSize<Serializer>(), 25u);
}

TEST(SerializationInterfaceSlots, DeserializerKeepsItsTableOrder)
{
    EXPECT_EQ(SlotOrderMismatches({
                  {"~Deserializer", kDestructorPair},
                  {"Cast", VirtualSlotOf<Deserializer, void*(const char*)>(&Deserializer::Cast)},
                  {"Read(bool)", ReadSlot<bool>()},
                  {"Read(char)", ReadSlot<char>()},
                  {"Read(Guid)", ReadSlot<Common::Guid>()},
                  {"Read(Error)", ReadSlot<Common::Error>()},
                  {"Read(u16string)", ReadSlot<std::u16string>()},
                  {"Read(uint32_t)", ReadSlot<uint32_t>()},
                  {"Read(double)", ReadSlot<double>()},
                  {"Read(uint64_t)", ReadSlot<uint64_t>()},
                  {"Read(int32_t)", ReadSlot<int32_t>()},
                  {"Read(int64_t)", ReadSlot<int64_t>()},
                  {"Read(string)", ReadSlot<std::string>()},
                  {"Read(int16_t)", ReadSlot<int16_t>()},
                  {"Read(uint16_t)", ReadSlot<uint16_t>()},
                  {"Read(bytes)", ReadSlot<std::vector<unsigned char>>()},
                  {"Read(SharedData)", ReadSlot<SharedData>()},
                  {"GetCurrentMetaInfo", VirtualSlot(&Deserializer::GetCurrentMetaInfo)},
                  {"StartReadMetaInfo", VirtualSlot(&Deserializer::StartReadMetaInfo)},
                  {"FinishReadMetaInfo", VirtualSlot(&Deserializer::FinishReadMetaInfo)},
                  {"GetSubjectVersion", VirtualSlot(&Deserializer::GetSubjectVersion)},
              }),
              "");
    EXPECT_EQ(TableSize<Deserializer>(), 22u);
}

TEST(SerializationInterfaceSlots, ContainerIteratorKeepsItsTableOrder)
{
    using Serialization::ContainerIterator;
    EXPECT_EQ(SlotOrderMismatches({
                  {"~ContainerIterator", kDestructorPair},
                  {"HasCurrent", VirtualSlot(&ContainerIterator::HasCurrent)},
                  {"Next", VirtualSlot(&ContainerIterator::Next)},
                  {"SerializeCurrent", VirtualSlot(&ContainerIterator::SerializeCurrent)},
              }),
              "");
    EXPECT_EQ(TableSize<ContainerIterator>(), 5u);
}

} // namespace
