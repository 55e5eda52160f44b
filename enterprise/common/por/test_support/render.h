// A one-line text of a unit for test expectations:
//     Nil <EmptyDiff, PackedDiff>
//     {b: DWord 3, c: DWord 4 <Added>} <PackedDiff>
//     [DWord 1, String "x" <T=Byte 2>] <FullElementCopy>
// Kinds by their names, values after them; a Composite as {name: unit, ...} in
// its order, an Array as [unit, ...]; traits in the set's order inside < >, a
// Nil-valued trait by its name alone.
//
// Threading: test thread only.
#pragma once

#include <cstdio>
#include <string>

#include "core/common/guid.h"
#include "core/common/text_conversion.h"
#include "enterprise/common/por/unit.h"
#include "enterprise/common/por/value_type_index.h"

namespace PorTesting {

std::string Render(const Por::View::Unit& unit);

namespace Detail {

struct ValueRenderer
{
    std::string text;

    void operator()(const Por::View::NilValue&) { text = "Nil"; }
    template <typename T>
    void operator()(const Por::View::ScalarValue<T>& value)
    {
        text = Kind(value) + " " + Number(value.Get());
    }
    void operator()(const Por::View::ComplexValue<Por::BlobType>& value)
    {
        text = "Blob";
        for (unsigned char byte : value.Get()) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02X", byte);
            text += hex;
        }
    }
    void operator()(const Por::View::ComplexValue<Por::GuidType>& value)
    {
        text = "Guid " + Common::GuidToString(value.Get());
    }
    void operator()(const Por::View::ComplexValue<std::u16string>& value)
    {
        text = "String \"" + Common::ToUtf8(value.Get().c_str()) + "\"";
    }
    void operator()(const Por::View::ComplexValue<Common::Error>& value)
    {
        char code[16];
        std::snprintf(code, sizeof code, "0x%X", value.Get().GetCode());
        text = std::string("Error ") + code;
    }
    void operator()(const Por::View::ArrayValue& value)
    {
        text = "[";
        auto each = Por::ProcessorOf<const Por::View::Unit>([&](const Por::View::Unit& element) {
            text += (text.size() > 1 ? ", " : "") + Render(element);
            return false;
        });
        value.ForEach(each);
        text += "]";
    }
    void operator()(const Por::View::CompositeValue& value)
    {
        text = "{";
        auto each = Por::ProcessorOf<const Por::View::Property>([&](const Por::View::Property& property) {
            text += (text.size() > 1 ? ", " : "") + std::string(property.GetName().GetText()) + ": " +
                Render(property.GetValue());
            return false;
        });
        value.ForEach(each);
        text += "}";
    }

    template <typename V>
    static std::string Kind(const V& value)
    {
        Por::Util::GetValueTypeIndexVisitor index;
        index(value);
        return Por::kValueKindNames[index.GetIndex()];
    }
    static std::string Number(bool value) { return value ? "true" : "false"; }
    static std::string Number(double value)
    {
        char text[32];
        std::snprintf(text, sizeof text, "%g", value);
        return text;
    }
    template <typename T>
    static std::string Number(T value)
    {
        return std::to_string(value);
    }
};

} // namespace Detail

inline std::string Render(const Por::View::Unit& unit)
{
    Detail::ValueRenderer renderer;
    Por::View::Detail::UnitVisitorAdaptor<Detail::ValueRenderer> adaptor(&renderer);
    unit.Accept(adaptor);
    std::string traits;
    auto each = Por::ProcessorOf<const Por::View::Trait>([&](const Por::View::Trait& trait) {
        traits += traits.empty() ? " <" : ", ";
        traits += trait.GetName().GetText();
        if (Por::Util::GetValueTypeIndex(trait.GetValue()) != 0 || Render(trait.GetValue()) != "Nil")
            traits += "=" + Render(trait.GetValue());
        return false;
    });
    unit.traits().ForEach(each);
    return renderer.text + (traits.empty() ? "" : traits + ">");
}

} // namespace PorTesting
