#include "enterprise/common/ipc/test_support/fake_units.h"

namespace Binding::Detail {

void WriteUnit(Serialization::Serializer& serializer, const UnitPointer& unit)
{
    serializer.Write(Serialization::MetaInfo("is_empty"), unit == nullptr);
    if (!unit)
        return;
    const std::string& label = IpcTesting::LabelOf(unit);
    serializer.Write(Serialization::MetaInfo("value"), std::vector<unsigned char>(label.begin(), label.end()));
}

void ReadUnit(Serialization::Deserializer& deserializer, UnitPointer& unit)
{
    bool empty = true;
    deserializer.Read(Serialization::MetaInfo("is_empty"), empty);
    if (empty) {
        unit.reset();
        return;
    }
    std::vector<unsigned char> bytes;
    deserializer.Read(Serialization::MetaInfo("value"), bytes);
    const std::string label(bytes.begin(), bytes.end());
    if (label == "corrupt")
        throw Common::Error(0xFA0021, u"POR: corrupted unit", Common::SourceFile("fake_units").At("ReadUnit", 1));
    unit = label.empty() ? nullptr : IpcTesting::Unit(label);
}

} // namespace Binding::Detail
