#include "enterprise/common/por/unit_serialization.h"

#include <vector>

#include "enterprise/common/por/blob_walking_route.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/serialize/dynamic_caster.h"
#include "enterprise/serialize/xml_packet_deserializer.h"
#include "enterprise/serialize/xml_packet_serializer.h"

namespace Por::Serialization {

using ::Serialization::Deserializer;
using ::Serialization::MetaInfo;
using ::Serialization::Serializer;

const MetaInfo kIsEmptyMetaInfo("is_empty");
const MetaInfo kValueMetaInfo("value");

Serializer& SerializeUnit(Serializer& serializer, const View::Unit* unit)
{
    if (auto* facet = Common::DynamicCast<PorAwareSerializer>(serializer))
        return facet->WriteUnit(MetaInfo(), unit);
    serializer.Write(kIsEmptyMetaInfo, unit == nullptr);
    if (!unit)
        return serializer;
    // The XML packet takes the form piece by piece as its Base64 text: the
    // form itself is never held.
    if (auto* packet = dynamic_cast<::Serialization::XMLPacketSerializer*>(&serializer)) {
        const uint64_t size = Util::MeasureBinaryUnit(*unit);
        packet->WriteBytes(kValueMetaInfo, size, [unit](::Serialization::XMLPacketSerializer::ByteSink& sink) {
            struct ToSink final : Util::BinaryDataConsumer
            {
                explicit ToSink(::Serialization::XMLPacketSerializer::ByteSink& sink) : sink(sink) {}
                void Write(const void* bytes, uint32_t length) override { sink.Write(bytes, length); }
                ::Serialization::XMLPacketSerializer::ByteSink& sink;
            } consumer(sink);
            Util::WriteBinaryUnit(*unit, consumer);
        });
        return serializer;
    }
    std::vector<unsigned char> bytes;
    Util::WriteBinaryUnit(*unit, bytes);
    serializer.Write(kValueMetaInfo, bytes);
    return serializer;
}

Serializer& SerializeUnit(Serializer& serializer, const std::shared_ptr<const View::Unit>& unit)
{
    return SerializeUnit(serializer, unit.get());
}

std::unique_ptr<Construction::Unit> DeserializeUnit(Deserializer& deserializer)
{
    std::unique_ptr<Construction::Unit> unit;
    if (auto* facet = Common::DynamicCast<PorAwareDeserializer>(deserializer)) {
        facet->ReadUnit(MetaInfo(), unit);
        return unit;
    }
    bool isEmpty = true;
    deserializer.Read(kIsEmptyMetaInfo, isEmpty);
    if (isEmpty)
        return unit;
    // The XML packet hands the form over as it decodes the Base64 text: the
    // form itself is never held.
    if (auto* packet = dynamic_cast<::Serialization::XMLPacketDeserializer*>(&deserializer)) {
        packet->ReadBytes(kValueMetaInfo, [&unit](::Serialization::ByteSource& source) {
            unit = Util::ReadBinaryUnit(source, *Construction::GetDefaultUnitFactory());
        });
        return unit;
    }
    std::vector<unsigned char> bytes;
    deserializer.Read(kValueMetaInfo, bytes);
    return Util::ReadBinaryUnit(bytes, *Construction::GetDefaultUnitFactory());
}

Deserializer& DeserializeUnit(Deserializer& deserializer, std::shared_ptr<Construction::Unit>& unit)
{
    unit = DeserializeUnit(deserializer); // assigned only once the unit is read
    return deserializer;
}

} // namespace Por::Serialization
