// Fuzz target of the packet deserializer over both input forms (text XML and
// binary XML behind "BXML"): every element of whatever loads is entered,
// read as each value type and left again. Raised Common::Error values are
// expected; crashes, sanitizer reports and leaks are not.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "enterprise/serialize/xml_packet_deserializer.h"

namespace {

using Serialization::Deserializer;
using Serialization::MetaInfo;

template <typename T>
void TryRead(Deserializer& deserializer, const MetaInfo& meta)
{
    T value{};
    try {
        deserializer.Read(meta, value);
    } catch (const Common::Error&) {
    }
}

void ReadEveryType(Deserializer& deserializer, const MetaInfo& meta)
{
    TryRead<bool>(deserializer, meta);
    TryRead<char>(deserializer, meta);
    TryRead<Common::Guid>(deserializer, meta);
    TryRead<Common::Error>(deserializer, meta);
    TryRead<std::u16string>(deserializer, meta);
    TryRead<uint32_t>(deserializer, meta);
    TryRead<double>(deserializer, meta);
    TryRead<uint64_t>(deserializer, meta);
    TryRead<int32_t>(deserializer, meta);
    TryRead<int64_t>(deserializer, meta);
    TryRead<std::string>(deserializer, meta);
    TryRead<int16_t>(deserializer, meta);
    TryRead<uint16_t>(deserializer, meta);
    TryRead<std::vector<unsigned char>>(deserializer, meta);
    TryRead<Serialization::SharedData>(deserializer, meta);
}

// Enters each child of the current element in turn, reads its own text as
// every type, walks its children and leaves it.
void Walk(Deserializer& deserializer)
{
    for (;;) {
        const MetaInfo next = deserializer.GetCurrentMetaInfo();
        if (next.name.empty())
            return;
        try {
            deserializer.StartReadMetaInfo(next);
        } catch (const Common::Error&) {
            std::abort(); // the element the cursor names is always found
        }
        try {
            (void)deserializer.GetSubjectVersion();
        } catch (const Common::Error&) {
            std::abort(); // inside an element there is always a version
        }
        ReadEveryType(deserializer, MetaInfo());
        Walk(deserializer);
        try {
            deserializer.FinishReadMetaInfo(next);
        } catch (const Common::Error&) {
            std::abort(); // leaving the element just entered never fails
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Serialization::XMLPacketDeserializer deserializer(data, size, 1);
    Walk(deserializer);
    // Lookups past the end, by search and in strict order, on the walked tree.
    ReadEveryType(deserializer, MetaInfo("XML_SERIALIZER"));
    ReadEveryType(deserializer, MetaInfo("a", true));
    try {
        deserializer.FinishReadMetaInfo(MetaInfo("XML_SERIALIZER"));
    } catch (const Common::Error&) {
    }
    ReadEveryType(deserializer, MetaInfo("a"));
    return 0;
}
