#include "enterprise/common/por/unit_printer.h"

#include <cinttypes>
#include <cstdio>

#include "core/common/guid.h"
#include "core/common/text_conversion.h"
#include "enterprise/common/por/trait_pairing.h"
#include "enterprise/common/por/value_type_index.h"

namespace Por::Util {

namespace {

// UTF-8 of a UTF-16 text; should the conversion fail, each unit's low byte.
std::string Narrow(const std::u16string& text)
{
    std::string utf8;
    if (Common::ConvertUtf16ToUtf8(utf8, text.c_str(), text.size()))
        return utf8;
    utf8.clear();
    for (char16_t unit : text) {
        if (unit == 0)
            break;
        utf8.push_back(static_cast<char>(unit & 0xFF));
    }
    return utf8;
}

void LineEnd(std::ostream& stream, bool newlines)
{
    if (newlines)
        stream << std::endl;
}

const char* TypeCode(bool)
{
    return "b";
}
const char* TypeCode(unsigned char)
{
    return "h";
}
const char* TypeCode(signed char)
{
    return "a";
}
const char* TypeCode(unsigned short)
{
    return "t";
}
const char* TypeCode(short)
{
    return "s";
}
const char* TypeCode(unsigned int)
{
    return "j";
}
const char* TypeCode(int)
{
    return "i";
}
const char* TypeCode(unsigned long long)
{
    return "y";
}
const char* TypeCode(long long)
{
    return "x";
}
const char* TypeCode(double)
{
    return "d";
}

template <typename T>
std::string Format(T value)
{
    char text[64];
    if constexpr (std::is_same_v<T, double>)
        std::snprintf(text, sizeof text, "%.16g", value);
    else if constexpr (std::is_same_v<T, bool>)
        std::snprintf(text, sizeof text, "%s", value ? "1" : "0");
    else if constexpr (std::is_signed_v<T> || std::is_same_v<T, unsigned char>)
        std::snprintf(text, sizeof text, "%lli", static_cast<long long>(value));
    else
        std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
    return text;
}

// " Code = <code> LineTag = <hex>[ Message = <text>]" of one record.
void PrintErrorDetails(const Common::Error& error, std::ostream& stream)
{
    char lineTag[32];
    std::snprintf(lineTag, sizeof lineTag, "%" PRIx64, error.GetLocation().LineTag);
    stream << " Code = " << error.GetCode() << " LineTag = " << lineTag;
    const std::u16string message = error.GetText();
    if (!message.empty())
        stream << " Message = " << Narrow(message);
}

class ValuePrinter
{
public:
    ValuePrinter(const View::Traits* traits, const std::string& prefix, bool newlines, std::ostream& stream)
        : m_traits(traits), m_prefix(prefix), m_newlines(newlines), m_stream(stream)
    {
    }

    void operator()(const View::NilValue&)
    {
        m_stream << " (NIL)";
        EndLine();
        PrintTraits();
    }
    template <typename T>
    void operator()(const View::ScalarValue<T>& value)
    {
        m_stream << " (" << TypeCode(T{}) << ") = " << Format(value.Get());
        EndLine();
        PrintTraits();
    }
    void operator()(const View::ComplexValue<BlobType>& value)
    {
        m_stream << " (Blob) Size = " << value.Get().size();
        EndLine();
        PrintTraits();
    }
    void operator()(const View::ComplexValue<GuidType>& value)
    {
        m_stream << " (Common::Guid) = " << Common::GuidToString(value.Get());
        EndLine();
        PrintTraits();
    }
    void operator()(const View::ComplexValue<std::u16string>& value)
    {
        m_stream << " (Common::String) = " << Narrow(value.Get());
        EndLine();
        PrintTraits();
    }
    void operator()(const View::ComplexValue<Common::Error>& value)
    {
        m_stream << " (Common::Error)";
        PrintErrorDetails(value.Get(), m_stream);
        EndLine();
        std::string prefix = m_prefix;
        for (Common::Error cause = value.Get().GetCause(); cause.GetCode() != 0; cause = cause.GetCause()) {
            prefix += "  ";
            m_stream << prefix << "(SubError)";
            PrintErrorDetails(cause, m_stream);
            EndLine();
        }
        PrintTraits();
    }
    void operator()(const View::ArrayValue& value)
    {
        m_stream << " (Array)";
        EndLine();
        PrintTraits();
        uint64_t index = 0;
        auto elements = ProcessorOf<const View::Unit>([&](const View::Unit& element) {
            char name[30];
            std::snprintf(name, sizeof name, "%llu", static_cast<unsigned long long>(index++));
            PrintNamedUnit(element, Common::FromUtf8(name), m_prefix + "  ", "", m_newlines, m_stream);
            return false;
        });
        value.ForEach(elements);
    }
    void operator()(const View::CompositeValue& value)
    {
        m_stream << " (Composite)";
        EndLine();
        PrintTraits();
        auto properties = ProcessorOf<const View::Property>([&](const View::Property& property) {
            PrintNamedUnit(property.GetValue(), property.GetName().ToUtf16(), m_prefix + "  ", "", m_newlines,
                           m_stream);
            return false;
        });
        value.ForEach(properties);
    }

private:
    void EndLine() { LineEnd(m_stream, m_newlines); }

    void PrintTraits()
    {
        if (!m_traits)
            return;
        const std::string prefix = m_prefix + "  ";
        auto traits = ProcessorOf<const View::Trait>([&](const View::Trait& trait) {
            const View::Unit& value = trait.GetValue();
            PrintNamedUnit(value, trait.GetName().ToUtf16(), prefix, "[", false, m_stream);
            const int kind = GetValueTypeIndex(value);
            if (kind == kArrayKind || kind == kCompositeKind)
                m_stream << prefix;
            m_stream << "]";
            LineEnd(m_stream, m_newlines);
            return false;
        });
        m_traits->ForEach(traits);
    }

    const View::Traits* m_traits;
    const std::string& m_prefix;
    bool m_newlines;
    std::ostream& m_stream;
};

} // namespace

void PrintUnit(const View::Unit& unit, const std::string& prefix, std::ostream& stream, bool newlines)
{
    PrintNamedUnit(unit, u"Root", prefix, "", newlines, stream);
}

void PrintNamedUnit(const View::Unit& unit, const std::u16string& name, const std::string& prefix,
                    const std::string& label, bool newlines, std::ostream& stream)
{
    stream << prefix << label << Narrow(name);
    ValuePrinter printer(HasTraits(unit) ? &unit.traits() : nullptr, prefix, newlines, stream);
    View::Detail::UnitVisitorAdaptor<ValuePrinter> adaptor(&printer);
    unit.Accept(adaptor);
}

} // namespace Por::Util
