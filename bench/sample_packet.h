// The sample packet of the serialization benchmarks: one element "records"
// holding a "vector" of composite "item" elements, each written by
// WriteSampleRecord and read by ReadSampleRecord. The writer and reader
// benchmarks share it, so a reader walks exactly what the writer produced.
//
// Layout of one item (children in this order):
//   <id>GUID</id> <name>8-bit text</name> <title>UTF-16 text</title>
//   <count>uint32</count> <size>uint64</size> <offset>int64</offset>
//   <ratio>double</ratio> <enabled>bool</enabled> <data>Base64 of 48 bytes</data>
// The item element has version 2; "records" carries one trait.
//
// Threading: free functions without shared state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/common/guid.h"
#include "enterprise/serialize/deserializer.h"
#include "enterprise/serialize/serializer.h"

namespace Bench {

struct SampleRecord
{
    Common::Guid id;
    std::string name;
    std::u16string title;
    uint32_t count;
    uint64_t size;
    int64_t offset;
    double ratio;
    bool enabled;
    std::vector<unsigned char> data;
};

inline constexpr size_t kSampleRecordCount = 2000;

// Deterministic records (the same for every call with the same count).
std::vector<SampleRecord> MakeSampleRecords(size_t count = kSampleRecordCount);

// One record as an element "item".
void WriteSampleRecord(Serialization::Serializer& serializer, const SampleRecord& record);
// One record read back from the element "item" that comes next.
void ReadSampleRecord(Serialization::Deserializer& deserializer, SampleRecord& record);

// The whole sample: "records" / "vector" / one "item" per record.
void WriteSamplePacket(Serialization::Serializer& serializer, const std::vector<SampleRecord>& records);

// Reads the whole sample into `records` (one record per "item").
void ReadSamplePacket(Serialization::Deserializer& deserializer, std::vector<SampleRecord>& records);

// The finished packet bytes of WriteSamplePacket over MakeSampleRecords(count).
std::vector<unsigned char> BuildSamplePacket(size_t count = kSampleRecordCount);

} // namespace Bench
