#include "bench/sample_packet.h"

#include <memory>

#include "enterprise/serialize/xml_packet_serializer.h"

namespace Bench {

namespace {

// A small deterministic generator, so that every build writes the same bytes.
uint64_t Mix(uint64_t& state)
{
    state += 0x9E3779B97F4A7C15ull;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

const std::shared_ptr<Serialization::MetaInfoTraitList> kRecordsTraits =
    std::make_shared<Serialization::MetaInfoTraitList>(
        Serialization::MetaInfoTraitList{{"Is", "StringValue", "Bench::SampleRecord"}});

} // namespace

std::vector<SampleRecord> MakeSampleRecords(size_t count)
{
    std::vector<SampleRecord> records(count);
    uint64_t state = 1;
    for (size_t i = 0; i < count; ++i) {
        SampleRecord& r = records[i];
        uint64_t a = Mix(state);
        uint64_t b = Mix(state);
        r.id.first = static_cast<uint32_t>(a);
        r.id.second = static_cast<uint16_t>(a >> 32);
        r.id.third = static_cast<uint16_t>(a >> 48);
        for (int k = 0; k < 8; ++k)
            r.id.last[k] = static_cast<uint8_t>(b >> (8 * k));
        r.name = "record-" + std::to_string(i) + " of the sample set";
        r.title = u"Sample title \u00E9\u4E2D " + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
            (i % 7 == 0 ? u"\nsecond line" : u" <tag> & more");
        r.count = static_cast<uint32_t>(Mix(state));
        r.size = Mix(state);
        r.offset = static_cast<int64_t>(Mix(state));
        r.ratio = static_cast<double>(Mix(state) % 1000000) / 7.0;
        r.enabled = (i & 1) != 0;
        r.data.resize(48);
        for (unsigned char& byte : r.data)
            byte = static_cast<unsigned char>(Mix(state));
    }
    return records;
}

void WriteSampleRecord(Serialization::Serializer& serializer, const SampleRecord& record)
{
    using Serialization::MetaInfo;
    MetaInfo item(Serialization::kItemTag);
    item.version = 2;
    Serialization::WriteScope scope(serializer, item);
    serializer.Write(MetaInfo("id"), record.id);
    serializer.Write(MetaInfo("name"), record.name);
    serializer.Write(MetaInfo("title"), record.title);
    serializer.Write(MetaInfo("count"), record.count);
    serializer.Write(MetaInfo("size"), record.size);
    serializer.Write(MetaInfo("offset"), record.offset);
    serializer.Write(MetaInfo("ratio"), record.ratio);
    serializer.Write(MetaInfo("enabled"), record.enabled);
    serializer.Write(MetaInfo("data"), record.data);
}

void ReadSampleRecord(Serialization::Deserializer& deserializer, SampleRecord& record)
{
    using Serialization::MetaInfo;
    Serialization::ReadScope scope(deserializer, MetaInfo(Serialization::kItemTag));
    deserializer.Read(MetaInfo("id"), record.id);
    deserializer.Read(MetaInfo("name"), record.name);
    deserializer.Read(MetaInfo("title"), record.title);
    deserializer.Read(MetaInfo("count"), record.count);
    deserializer.Read(MetaInfo("size"), record.size);
    deserializer.Read(MetaInfo("offset"), record.offset);
    deserializer.Read(MetaInfo("ratio"), record.ratio);
    deserializer.Read(MetaInfo("enabled"), record.enabled);
    deserializer.Read(MetaInfo("data"), record.data);
}

void ReadSamplePacket(Serialization::Deserializer& deserializer, std::vector<SampleRecord>& records)
{
    using Serialization::MetaInfo;
    Serialization::ReadScope recordsScope(deserializer, MetaInfo("records"));
    Serialization::ReadScope vectorScope(deserializer, MetaInfo(Serialization::kVectorTag));
    records.clear();
    while (deserializer.GetCurrentMetaInfo().name == Serialization::kItemTag) {
        records.emplace_back();
        ReadSampleRecord(deserializer, records.back());
    }
}

void WriteSamplePacket(Serialization::Serializer& serializer, const std::vector<SampleRecord>& records)
{
    Serialization::MetaInfo outer("records");
    outer.primaryTraits = kRecordsTraits;
    Serialization::WriteScope recordsScope(serializer, outer);
    Serialization::WriteScope vectorScope(serializer, Serialization::MetaInfo(Serialization::kVectorTag));
    for (const SampleRecord& record : records)
        WriteSampleRecord(serializer, record);
}

std::vector<unsigned char> BuildSamplePacket(size_t count)
{
    std::vector<SampleRecord> records = MakeSampleRecords(count);
    Serialization::XMLPacketSerializer serializer(2, 0);
    WriteSamplePacket(serializer, records);
    std::vector<unsigned char> packet;
    serializer.GetData(packet);
    return packet;
}

} // namespace Bench
