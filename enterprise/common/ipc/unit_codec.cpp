#include "enterprise/common/ipc/unit_codec.h"

#include "enterprise/common/por/unit_serialization.h"

namespace Binding::Detail {

void WriteUnit(Serialization::Serializer& serializer, const UnitPointer& unit)
{
    Por::Serialization::SerializeUnit(serializer, unit.get());
}

void ReadUnit(Serialization::Deserializer& deserializer, UnitPointer& unit)
{
    std::unique_ptr<Por::Construction::Unit> read = Por::Serialization::DeserializeUnit(deserializer);
    unit = std::move(read);
}

} // namespace Binding::Detail
