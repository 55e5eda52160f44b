// Units for tests of the request framework and the interface stubs: String
// units made by the default in-memory factory, named by their text, and the
// packet text that the serialization bridge writes for them.
//
// Threading: none.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/common/text_conversion.h"
#include "enterprise/common/ipc/unit_codec.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/typed_access.h"
#include "enterprise/serialize/xml_packet_serializer.h"

namespace IpcTesting {

// A String unit with `label` as its text.
inline std::shared_ptr<const Por::View::Unit> Unit(const std::string& label)
{
    return std::shared_ptr<const Por::View::Unit>(
        Por::Construction::GetDefaultUnitFactory()->CreateString(Common::FromUtf8(label.c_str())));
}

// The text of a String unit; "(null)" for none.
inline std::string LabelOf(const std::shared_ptr<const Por::View::Unit>& unit)
{
    if (!unit)
        return "(null)";
    return Common::ToUtf8(Por::Util::GetUnitValue<std::u16string>(*unit).c_str());
}

inline std::vector<std::string> LabelsOf(const std::vector<std::shared_ptr<const Por::View::Unit>>& units)
{
    std::vector<std::string> labels;
    for (const auto& unit : units)
        labels.push_back(LabelOf(unit));
    return labels;
}

// The elements the bridge writes for `unit` inside its element: "is_empty"
// and, for a unit, "value".
inline std::string UnitContent(const std::shared_ptr<const Por::View::Unit>& unit)
{
    std::unique_ptr<Serialization::Serializer> serializer = Serialization::CreateXMLPacketSerializer(2, -1);
    Binding::Detail::WriteUnit(*serializer, unit);
    std::vector<unsigned char> bytes;
    serializer->GetData(bytes);
    const std::string packet(bytes.begin(), bytes.end());
    const std::string head = "\xEF\xBB\xBF<XML_SERIALIZER>";
    const std::string tail = "</XML_SERIALIZER>";
    return packet.substr(head.size(), packet.size() - head.size() - tail.size());
}

inline std::string UnitContent(const std::string& label)
{
    return UnitContent(Unit(label));
}

// A "value" that is no binary unit form (55 58: corrupted at position 1).
inline const std::string kCorruptUnitContent = "<is_empty>0</is_empty><value>VVg=</value>";
inline const std::string kNoUnitContent = "<is_empty>1</is_empty>";

} // namespace IpcTesting
