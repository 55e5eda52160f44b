#include "enterprise/common/por/parser/unit_construction_format.h"

#include <cstdio>
#include <iostream>
#include <map>
#include <string>
#include <string_view>

#include "core/common/error.h"
#include "core/common/error_text.h"
#include "core/common/location.h"
#include "core/common/message_format.h"
#include "core/common/text_conversion.h"
#include "enterprise/common/por/building_depth.h"
#include "enterprise/common/por/parser/unit_construction_parser.h"
#include "enterprise/common/por/trait_pairing.h"
#include "enterprise/common/por/unit_constructor.h"
#include "enterprise/common/por/utils.h"
#include "enterprise/common/por/value_type_index.h"

namespace Utils {

namespace {

using Por::Util::UnitConstructor;

constexpr Common::SourceFile kSource("enterprise/common/por/parser/unit_construction_format", 0x569432cb932bb1d9);

const std::u16string kUnknownStatementTemplate = u"Statement '{0}' is unknown.";

// Everything written to it is dropped: it has no stream buffer.
std::ostream g_silentStream(nullptr);

using StatementHandler = UnitConstructor (*)(UnitConstructionParser& parser, UnitConstructor constructor,
                                             std::ostream& trace);

// What a statement does to the nesting of the unit being built.
enum class Nesting
{
    Value,
    Named,
    End,
};

struct Statement
{
    StatementHandler handler;
    Nesting nesting;
};

void Echo(std::ostream& trace, const char* text)
{
    trace << text;
    trace.flush();
}

// The silent stream has no buffer: echoes that must be formatted first are
// formatted only for a stream that keeps them.
bool Tracing(const std::ostream& trace)
{
    return trace.rdbuf() != nullptr;
}

// The low bytes of `text` up to its first U+0000.
std::string LowBytes(const std::u16string& text)
{
    std::string bytes;
    for (char16_t unit : text) {
        if (unit == 0)
            break;
        bytes += static_cast<char>(unit & 0xFF);
    }
    return bytes;
}

bool ArgumentPresent(const UnitConstructionParser& parser)
{
    return parser.GetInput() != u')';
}

Por::Name NameOf(const std::u16string& text)
{
    std::string utf8;
    (void)Common::ConvertUtf16ToUtf8(utf8, text.c_str(), Common::kWholeText); // never fails; stops at U+0000
    return Por::Name(utf8);
}

UnitConstructor ReadComposite(UnitConstructionParser&, UnitConstructor constructor, std::ostream& trace)
{
    Echo(trace, ".Composite()");
    return constructor.Composite();
}

UnitConstructor ReadArray(UnitConstructionParser&, UnitConstructor constructor, std::ostream& trace)
{
    Echo(trace, ".Array()");
    return constructor.Array();
}

UnitConstructor ReadNil(UnitConstructionParser&, UnitConstructor constructor, std::ostream& trace)
{
    Echo(trace, ".Nil()");
    return constructor.Nil();
}

UnitConstructor ReadEnd(UnitConstructionParser&, UnitConstructor constructor, std::ostream& trace)
{
    Echo(trace, ".End()");
    return constructor.End();
}

template <const char* Echoed>
std::string QuotedEcho(const std::u16string& text)
{
    return std::string(Echoed) + "\"" + LowBytes(text) + "\")";
}

constexpr char kPropertyEcho[] = ".Property(";
constexpr char kTraitEcho[] = ".Trait(";
constexpr char kStringEcho[] = ".String(";

// Property and Trait: the quoted name first, then the echo.
template <const char* Echoed, UnitConstructor (UnitConstructor::*Open)(const Por::Name&) const>
UnitConstructor ReadNamed(UnitConstructionParser& parser, UnitConstructor constructor, std::ostream& trace)
{
    const std::u16string name = parser.TakeQuotedText();
    if (Tracing(trace))
        Echo(trace, QuotedEcho<Echoed>(name).c_str());
    return (constructor.*Open)(NameOf(name));
}

UnitConstructor ReadString(UnitConstructionParser& parser, UnitConstructor constructor, std::ostream& trace)
{
    const std::u16string text = parser.TakeQuotedText();
    if (Tracing(trace))
        Echo(trace, QuotedEcho<kStringEcho>(text).c_str());
    return constructor.String(text);
}

UnitConstructor ReadGuid(UnitConstructionParser& parser, UnitConstructor constructor, std::ostream& trace)
{
    Echo(trace, ".Guid('undefined')");
    return constructor.Guid(parser.TakeGuid());
}

UnitConstructor ReadBoolean(UnitConstructionParser& parser, UnitConstructor constructor, std::ostream& trace)
{
    Echo(trace, ".Boolean('undefined')");
    const bool value = ArgumentPresent(parser) && parser.TakeToken() != u"false";
    return constructor.Boolean(value);
}

// Word, SWord, Byte, SByte: echo first, then the argument if present.
template <typename T, bool Signed>
T ReadSmallNumber(UnitConstructionParser& parser, std::ostream& trace, const char* echo)
{
    Echo(trace, echo);
    if (!ArgumentPresent(parser))
        return 0;
    return static_cast<T>(Signed ? parser.TakeSQwordValue() : parser.TakeQwordValue());
}

UnitConstructor ReadWord(UnitConstructionParser& parser, UnitConstructor constructor, std::ostream& trace)
{
    return constructor.Word(ReadSmallNumber<unsigned short, false>(parser, trace, ".Word('undefined')"));
}

UnitConstructor ReadSWord(UnitConstructionParser& parser, UnitConstructor constructor, std::ostream& trace)
{
    return constructor.SWord(ReadSmallNumber<short, true>(parser, trace, ".SWord('undefined')"));
}

UnitConstructor ReadByte(UnitConstructionParser& parser, UnitConstructor constructor, std::ostream& trace)
{
    return constructor.Byte(ReadSmallNumber<unsigned char, false>(parser, trace, ".Byte('undefined')"));
}

UnitConstructor ReadSByte(UnitConstructionParser& parser, UnitConstructor constructor, std::ostream& trace)
{
    return constructor.SByte(ReadSmallNumber<signed char, true>(parser, trace, ".SByte('undefined')"));
}

// DWord, SDWord, QWord, SQWord: the argument first, then the echo of the value.
template <typename T, bool Signed>
T ReadLargeNumber(UnitConstructionParser& parser, std::ostream& trace, const char* echo, const char* absentEcho)
{
    if (!ArgumentPresent(parser)) {
        Echo(trace, absentEcho);
        return 0;
    }
    const T value = static_cast<T>(Signed ? parser.TakeSQwordValue() : parser.TakeQwordValue());
    if (Tracing(trace))
        Echo(trace, (echo + std::to_string(value) + ")").c_str());
    return value;
}

UnitConstructor ReadDWord(UnitConstructionParser& parser, UnitConstructor constructor, std::ostream& trace)
{
    return constructor.DWord(ReadLargeNumber<unsigned int, false>(parser, trace, ".Dword(", ".DWord(0)"));
}

UnitConstructor ReadSDWord(UnitConstructionParser& parser, UnitConstructor constructor, std::ostream& trace)
{
    return constructor.SDWord(ReadLargeNumber<int, true>(parser, trace, ".SDword(", ".SDWord(0)"));
}

UnitConstructor ReadQWord(UnitConstructionParser& parser, UnitConstructor constructor, std::ostream& trace)
{
    return constructor.QWord(ReadLargeNumber<unsigned long long, false>(parser, trace, ".QWord(", ".QWord(0)"));
}

UnitConstructor ReadSQWord(UnitConstructionParser& parser, UnitConstructor constructor, std::ostream& trace)
{
    return constructor.SQWord(ReadLargeNumber<long long, true>(parser, trace, ".SQWord(", ".SQWord(0)"));
}

const std::map<std::u16string, Statement, std::less<>> g_statements = {
    {u"Composite", {&ReadComposite, Nesting::Value}},
    {u"Property", {&ReadNamed<kPropertyEcho, &UnitConstructor::Property>, Nesting::Named}},
    {u"Trait", {&ReadNamed<kTraitEcho, &UnitConstructor::Trait>, Nesting::Named}},
    {u"Guid", {&ReadGuid, Nesting::Value}},
    {u"String", {&ReadString, Nesting::Value}},
    {u"End", {&ReadEnd, Nesting::End}},
    {u"Nil", {&ReadNil, Nesting::Value}},
    {u"Boolean", {&ReadBoolean, Nesting::Value}},
    {u"Array", {&ReadArray, Nesting::Value}},
    {u"DWord", {&ReadDWord, Nesting::Value}},
    {u"SDWord", {&ReadSDWord, Nesting::Value}},
    {u"QWord", {&ReadQWord, Nesting::Value}},
    {u"SQWord", {&ReadSQWord, Nesting::Value}},
    {u"SWord", {&ReadSWord, Nesting::Value}},
    {u"Word", {&ReadWord, Nesting::Value}},
    {u"SByte", {&ReadSByte, Nesting::Value}},
    {u"Byte", {&ReadByte, Nesting::Value}},
};

const Statement& GetStatement(std::u16string_view name)
{
    const auto found = g_statements.find(name);
    if (found == g_statements.end()) {
        const std::u16string text = Common::FormatMessageWithArgument(kUnknownStatementTemplate, std::u16string(name));
        Common::ThrowError(Common::Error(6, text.c_str(), kSource.At("GetStatement", 86)));
    }
    return found->second;
}

void TrackNesting(Por::Util::BuildingDepth& depth, Nesting nesting)
{
    bool fits = true;
    switch (nesting) {
    case Nesting::Value:
        fits = depth.Value();
        break;
    case Nesting::Named:
        fits = depth.OpenNamed();
        break;
    case Nesting::End:
        depth.Close();
        break;
    }
    if (!fits)
        Common::ThrowError(Common::Error(9, "The unit is nested too deeply.", kSource.At("Read", __LINE__)));
}

} // namespace

std::unique_ptr<Por::Construction::Unit> UnitConstructionFormat::Read(DataReader& reader,
                                                                      const Por::Construction::UnitFactory& factory)
{
    ReadProgress progress;
    return Read(reader, factory, progress);
}

std::unique_ptr<Por::Construction::Unit>
UnitConstructionFormat::Read(DataReader& reader, const Por::Construction::UnitFactory& factory, ReadProgress& progress)
{
    progress = ReadProgress();
    std::vector<char> bytes;
    reader.ReadData(bytes);
    std::u16string text(bytes.size(), u'\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]));
    UnitConstructionParser parser(text);
    std::ostream& trace = m_trace ? std::cout : g_silentStream;
    UnitConstructor constructor(factory);
    Por::Util::BuildingDepth depth(kMaxNotationDepth);
    Echo(trace, "Interpret trace: ");
    for (;;) {
        parser.SkipBlanks();
        if (parser.AtEnd()) {
            trace << trace.widen('\n');
            trace.flush();
            std::unique_ptr<Por::Construction::Unit> unit = constructor.GetUnit();
            if (m_postProcessor)
                return m_postProcessor->Process(std::move(unit), factory);
            return unit;
        }
        if (parser.GetInput() == u'.')
            parser.Skip();
        const size_t open = parser.GetNext([](char16_t c) { return c == u'('; });
        const Statement& statement = GetStatement(parser.View(parser.GetPosition(), open));
        parser.MoveTo(open + 1);
        TrackNesting(depth, statement.nesting);
        constructor = statement.handler(parser, constructor, trace);
        parser.Skip(); // the closing character, whatever it is
        ++progress.statements;
        progress.open = depth.GetOpen();
    }
}

namespace {

const std::u16string kIndentation = u"  ";

// The text of one unit at one depth, as the notation lays it out.
class UnitConstructionTextFormat final : public Por::ItemProcessor<const Por::View::Trait>,
                                         public Por::ItemProcessor<const Por::View::Property>,
                                         public Por::ItemProcessor<const Por::View::Unit>
{
public:
    UnitConstructionTextFormat(const Por::View::Unit& unit, int depth) : m_unit(unit), m_depth(depth) {}

    const std::u16string& GetText()
    {
        if (!m_done) {
            m_done = true;
            Por::View::Detail::UnitVisitorAdaptor<UnitConstructionTextFormat> adaptor(this);
            m_unit.Accept(adaptor);
            WriteTraits();
            if (m_itemsWritten)
                Indent(m_depth);
            m_out += u".End()";
        }
        return m_out;
    }

    void operator()(const Por::View::NilValue&) { m_out += u".Nil()"; }
    void operator()(const Por::View::ScalarValue<bool>& value)
    {
        m_out += value.Get() ? u".Boolean(true)" : u".Boolean(false)";
    }
    template <typename T>
    void operator()(const Por::View::ScalarValue<T>& value)
    {
        char number[30];
        if constexpr (std::is_signed_v<T>)
            std::snprintf(number, sizeof number, "%lli", static_cast<long long>(value.Get()));
        else
            std::snprintf(number, sizeof number, "%llu", static_cast<unsigned long long>(value.Get()));
        Statement(value, number);
    }
    void operator()(const Por::View::ScalarValue<double>& value)
    {
        char number[64];
        std::snprintf(number, sizeof number, "%.16g", value.Get());
        Statement(value, number);
    }
    void operator()(const Por::View::ComplexValue<Por::BlobType>&) { m_out += u".Blob()"; }
    void operator()(const Por::View::ComplexValue<Por::GuidType>& value)
    {
        Statement(value, Common::GuidToString(value.Get()).c_str());
    }
    void operator()(const Por::View::ComplexValue<std::u16string>& value)
    {
        m_out += u".String(\"" + value.Get() + u"\")";
    }
    void operator()(const Por::View::ComplexValue<Common::Error>& value)
    {
        m_out += u".Error(" + Common::FormatError(value.Get()) + u")";
    }
    void operator()(const Por::View::ArrayValue& value)
    {
        m_out += u".Array()";
        WriteTraits();
        if (!value.IsEmpty()) {
            StartMembers();
            value.ForEach(static_cast<Por::ItemProcessor<const Por::View::Unit>&>(*this));
        }
    }
    void operator()(const Por::View::CompositeValue& value)
    {
        m_out += u".Composite()";
        WriteTraits();
        if (Por::Util::HasProperties(m_unit)) {
            StartMembers();
            value.ForEach(static_cast<Por::ItemProcessor<const Por::View::Property>&>(*this));
        }
    }

    bool Process(const Por::View::Trait& trait) override
    {
        Member(u".Trait(\"" + Common::FromUtf8(trait.GetName().GetText()) + u"\")", trait.GetValue());
        return false;
    }
    bool Process(const Por::View::Property& property) override
    {
        Member(u".Property(\"" + Common::FromUtf8(property.GetName().GetText()) + u"\")", property.GetValue());
        return false;
    }
    bool Process(const Por::View::Unit& element) override
    {
        Member(std::u16string(), element);
        return false;
    }

private:
    template <typename V>
    void Statement(const V& value, const char* argument)
    {
        Por::Util::GetValueTypeIndexVisitor kind;
        kind(value);
        m_out += u"." + Common::FromUtf8(Por::kValueKindNames[kind.GetIndex()]) + u"(" + Common::FromUtf8(argument) +
            u")";
    }
    void Indent(int depth)
    {
        for (int i = 0; i < depth; ++i)
            m_out += kIndentation;
    }
    void StartMembers()
    {
        m_itemsWritten = true;
        if (!m_lineBroken) {
            m_out += u"\n";
            m_lineBroken = true;
        }
    }
    void WriteTraits()
    {
        if (!m_traitsPending || !Por::Util::HasTraits(m_unit))
            return;
        m_traitsPending = false;
        StartMembers();
        m_unit.traits().ForEach(static_cast<Por::ItemProcessor<const Por::View::Trait>&>(*this));
    }
    void Member(const std::u16string& head, const Por::View::Unit& value)
    {
        Indent(m_depth + 1);
        m_out += head;
        UnitConstructionTextFormat member(value, m_depth + 1);
        m_out += member.GetText();
        m_out += u"\n";
    }

    const Por::View::Unit& m_unit;
    int m_depth;
    bool m_done = false;
    bool m_itemsWritten = false;
    bool m_lineBroken = false;
    bool m_traitsPending = true;
    std::u16string m_out;
};

} // namespace

void UnitConstructionFormat::Write(const Por::View::Unit& unit, DataWriter& writer)
{
    UnitConstructionTextFormat root(unit, 0);
    const std::u16string& text = root.GetText();
    std::vector<char> bytes(text.size() * 2);
    for (size_t i = 0; i < text.size(); ++i) {
        bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
    writer.WriteData(bytes);
}

} // namespace Utils
