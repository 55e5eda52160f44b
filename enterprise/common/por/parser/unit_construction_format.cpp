#include "enterprise/common/por/parser/unit_construction_format.h"

#include <charconv>
#include <cstdio>
#include <cstring>
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
#include "enterprise/common/por/unit_accumulator.h"
#include "enterprise/common/por/utils.h"
#include "enterprise/common/por/value_type_index.h"

namespace Utils {

namespace {

using Por::Util::UnitAccumulator;

constexpr Common::SourceFile kSource("enterprise/common/por/parser/unit_construction_format", 0x569432cb932bb1d9);

const std::u16string kUnknownStatementTemplate = u"Statement '{0}' is unknown.";

// Everything written to it is dropped: it has no stream buffer.
std::ostream g_silentStream(nullptr);

enum class StatementKind
{
    Composite,
    Property,
    Trait,
    Guid,
    String,
    End,
    Nil,
    Boolean,
    Array,
    DWord,
    SDWord,
    QWord,
    SQWord,
    SWord,
    Word,
    SByte,
    Byte,
};

// What a statement does to the nesting of the unit being built.
enum class Nesting
{
    Value,
    Named,
    End,
};

struct Statement
{
    std::string_view name;
    StatementKind kind;
    Nesting nesting;
};

// The statement table: names compared exactly, as read.
constexpr Statement kComposite{"Composite", StatementKind::Composite, Nesting::Value};
constexpr Statement kProperty{"Property", StatementKind::Property, Nesting::Named};
constexpr Statement kTrait{"Trait", StatementKind::Trait, Nesting::Named};
constexpr Statement kGuid{"Guid", StatementKind::Guid, Nesting::Value};
constexpr Statement kString{"String", StatementKind::String, Nesting::Value};
constexpr Statement kEnd{"End", StatementKind::End, Nesting::End};
constexpr Statement kNil{"Nil", StatementKind::Nil, Nesting::Value};
constexpr Statement kBoolean{"Boolean", StatementKind::Boolean, Nesting::Value};
constexpr Statement kArray{"Array", StatementKind::Array, Nesting::Value};
constexpr Statement kDWord{"DWord", StatementKind::DWord, Nesting::Value};
constexpr Statement kSDWord{"SDWord", StatementKind::SDWord, Nesting::Value};
constexpr Statement kQWord{"QWord", StatementKind::QWord, Nesting::Value};
constexpr Statement kSQWord{"SQWord", StatementKind::SQWord, Nesting::Value};
constexpr Statement kSWord{"SWord", StatementKind::SWord, Nesting::Value};
constexpr Statement kWord{"Word", StatementKind::Word, Nesting::Value};
constexpr Statement kSByte{"SByte", StatementKind::SByte, Nesting::Value};
constexpr Statement kByte{"Byte", StatementKind::Byte, Nesting::Value};

// The statement named exactly `name`, or null. Names of one length differ in
// their first two characters.
const Statement* FindStatement(std::string_view name) noexcept
{
    auto is = [name](const Statement& statement) {
        return std::memcmp(name.data(), statement.name.data(), name.size()) == 0;
    };
    const Statement* candidate = nullptr;
    switch (name.size()) {
    case 3:
        candidate = name[0] == 'E' ? &kEnd : &kNil;
        break;
    case 4:
        candidate = name[0] == 'G' ? &kGuid : name[0] == 'W' ? &kWord : &kByte;
        break;
    case 5:
        switch (name[0]) {
        case 'T':
            candidate = &kTrait;
            break;
        case 'A':
            candidate = &kArray;
            break;
        case 'D':
            candidate = &kDWord;
            break;
        case 'Q':
            candidate = &kQWord;
            break;
        default:
            candidate = name[1] == 'W' ? &kSWord : &kSByte;
            break;
        }
        break;
    case 6:
        candidate = name[1] == 't' ? &kString : name[1] == 'D' ? &kSDWord : &kSQWord;
        break;
    case 7:
        candidate = &kBoolean;
        break;
    case 8:
        candidate = &kProperty;
        break;
    case 9:
        candidate = &kComposite;
        break;
    default:
        return nullptr;
    }
    return is(*candidate) ? candidate : nullptr;
}

const Statement& GetStatement(std::string_view name)
{
    if (const Statement* statement = FindStatement(name))
        return *statement;
    const std::u16string text = Common::FormatMessageWithArgument(kUnknownStatementTemplate, WidenBytes(name));
    Common::ThrowError(Common::Error(6, text.c_str(), kSource.At("GetStatement", 86)));
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

// The characters of `text` up to its first U+0000.
std::string_view UpToNul(std::string_view text)
{
    if (text.empty()) // an empty view may have no data at all
        return text;
    const void* nul = std::memchr(text.data(), '\0', text.size());
    return nul ? text.substr(0, static_cast<size_t>(static_cast<const char*>(nul) - text.data())) : text;
}

// The input of a read, in the room the thread's last read left behind (up to
// kKeptBytesLimit bytes of it), so that a read after a read does not take
// fresh memory for its input.
constexpr size_t kKeptBytesLimit = size_t{4} << 20;
thread_local std::vector<char> t_keptBytes;

struct KeptBytes
{
    KeptBytes() noexcept { bytes.swap(t_keptBytes); }
    ~KeptBytes()
    {
        bytes.clear();
        if (bytes.capacity() <= kKeptBytesLimit && bytes.capacity() > t_keptBytes.capacity())
            bytes.swap(t_keptBytes);
    }
    KeptBytes(const KeptBytes&) = delete;
    KeptBytes& operator=(const KeptBytes&) = delete;

    std::vector<char> bytes;
};

// One read: the cursor, the accumulator the statements drive and the trace.
// Each statement handler echoes and reads its argument in the order the
// trace shows, then hands one event to the accumulator.
class NotationRead
{
public:
    NotationRead(const std::vector<char>& bytes, const Por::Construction::UnitFactory& factory, std::ostream& trace,
                 ReadProgress& progress)
        : m_parser(bytes.data(), bytes.size()), m_accumulator(factory), m_trace(trace),
          m_tracing(trace.rdbuf() != nullptr), m_progress(progress)
    {
    }

    std::unique_ptr<Por::Construction::Unit> Run()
    {
        Por::Util::BuildingDepth depth(kMaxNotationDepth);
        EchoAlways("Interpret trace: ");
        for (;;) {
            m_parser.SkipBlanks();
            if (m_parser.AtEnd()) {
                m_trace << m_trace.widen('\n');
                m_trace.flush();
                return m_accumulator.TakeUnit();
            }
            if (m_parser.GetInput() == '.')
                m_parser.Skip();
            const size_t open = m_parser.GetNext('(');
            const Statement& statement = GetStatement(m_parser.View(m_parser.GetPosition(), open));
            m_parser.MoveTo(open + 1);
            TrackNesting(depth, statement.nesting);
            Handle(statement.kind);
            m_parser.Skip(); // the closing character, whatever it is
            ++m_progress.statements;
            m_progress.open = depth.GetOpen();
        }
    }

private:
    void Handle(StatementKind kind)
    {
        switch (kind) {
        case StatementKind::Composite:
            Echo(".Composite()");
            return m_accumulator.Composite();
        case StatementKind::Array:
            Echo(".Array()");
            return m_accumulator.Array();
        case StatementKind::Nil:
            Echo(".Nil()");
            return m_accumulator.Nil();
        case StatementKind::End:
            Echo(".End()");
            return m_accumulator.End();
        case StatementKind::Property:
            return m_accumulator.Property(QuotedName(".Property("));
        case StatementKind::Trait:
            return m_accumulator.Trait(QuotedName(".Trait("));
        case StatementKind::String: {
            const std::string_view text = m_parser.TakeQuotedText();
            EchoQuoted(".String(", text);
            WidenBytes(text, m_string);
            return m_accumulator.TakeString(m_string);
        }
        case StatementKind::Guid:
            Echo(".Guid('undefined')");
            return m_accumulator.Guid(m_parser.TakeGuid());
        case StatementKind::Boolean: {
            Echo(".Boolean('undefined')");
            const bool value = ArgumentPresent() && m_parser.TakeToken() != "false";
            return m_accumulator.Boolean(value);
        }
        case StatementKind::Word:
            return m_accumulator.Word(SmallNumber<unsigned short, false>(".Word('undefined')"));
        case StatementKind::SWord:
            return m_accumulator.SWord(SmallNumber<short, true>(".SWord('undefined')"));
        case StatementKind::Byte:
            return m_accumulator.Byte(SmallNumber<unsigned char, false>(".Byte('undefined')"));
        case StatementKind::SByte:
            return m_accumulator.SByte(SmallNumber<signed char, true>(".SByte('undefined')"));
        case StatementKind::DWord:
            return m_accumulator.DWord(LargeNumber<unsigned int, false>(".Dword(", ".DWord(0)"));
        case StatementKind::SDWord:
            return m_accumulator.SDWord(LargeNumber<int, true>(".SDword(", ".SDWord(0)"));
        case StatementKind::QWord:
            return m_accumulator.QWord(LargeNumber<unsigned long long, false>(".QWord(", ".QWord(0)"));
        case StatementKind::SQWord:
            return m_accumulator.SQWord(LargeNumber<long long, true>(".SQWord(", ".SQWord(0)"));
        }
    }

    bool ArgumentPresent() const { return m_parser.GetInput() != ')'; }

    // Every echo is flushed on its own.
    void EchoAlways(std::string_view text)
    {
        m_trace.write(text.data(), static_cast<std::streamsize>(text.size()));
        m_trace.flush();
    }
    void Echo(std::string_view text)
    {
        if (m_tracing)
            EchoAlways(text);
    }
    // `opening`, the text's characters up to its first U+0000 in double
    // quotes, and ")", written straight from the input.
    void EchoQuoted(std::string_view opening, std::string_view text)
    {
        if (!m_tracing)
            return;
        const std::string_view shown = UpToNul(text);
        m_trace.write(opening.data(), static_cast<std::streamsize>(opening.size()));
        m_trace.put('"');
        m_trace.write(shown.data(), static_cast<std::streamsize>(shown.size()));
        m_trace.write("\")", 2);
        m_trace.flush();
    }

    // Property and Trait: the quoted name first, then the echo. The name is
    // the UTF-8 form of its characters up to the first U+0000.
    Por::Name QuotedName(std::string_view opening)
    {
        const std::string_view text = m_parser.TakeQuotedText();
        EchoQuoted(opening, text);
        const std::string_view characters = UpToNul(text);
        m_name.resize(2 * characters.size()); // room for every character beyond U+007F
        char* out = m_name.data();
        for (const char byte : characters) {
            const auto c = static_cast<unsigned char>(byte);
            if (c < 0x80) {
                *out++ = static_cast<char>(c);
            } else {
                *out++ = static_cast<char>(0xC0 | (c >> 6));
                *out++ = static_cast<char>(0x80 | (c & 0x3F));
            }
        }
        return Por::Name(std::string_view(m_name.data(), static_cast<size_t>(out - m_name.data())));
    }

    // Word, SWord, Byte, SByte: echo first, then the argument if present.
    template <typename T, bool Signed>
    T SmallNumber(std::string_view echo)
    {
        Echo(echo);
        if (!ArgumentPresent())
            return 0;
        return static_cast<T>(Signed ? m_parser.TakeSQwordValue() : m_parser.TakeQwordValue());
    }

    // DWord, SDWord, QWord, SQWord: the argument first, then the echo of the value.
    template <typename T, bool Signed>
    T LargeNumber(std::string_view echo, std::string_view absentEcho)
    {
        if (!ArgumentPresent()) {
            Echo(absentEcho);
            return 0;
        }
        const T value = static_cast<T>(Signed ? m_parser.TakeSQwordValue() : m_parser.TakeQwordValue());
        if (m_tracing) {
            char text[48];
            std::memcpy(text, echo.data(), echo.size());
            char* end = std::to_chars(text + echo.size(), text + sizeof text - 1, value).ptr;
            *end++ = ')';
            EchoAlways(std::string_view(text, static_cast<size_t>(end - text)));
        }
        return value;
    }

    UnitConstructionParser m_parser;
    UnitAccumulator m_accumulator;
    std::ostream& m_trace;
    const bool m_tracing;    // the silent stream has no buffer: nothing is formatted for it
    std::string m_name;      // the last name read, room kept for the next
    std::u16string m_string; // the last string read, taken over by its unit
    ReadProgress& m_progress;
};

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
    std::unique_ptr<Por::Construction::Unit> unit;
    {
        KeptBytes bytes;
        reader.ReadData(bytes.bytes);
        NotationRead read(bytes.bytes, factory, m_trace ? std::cout : g_silentStream, progress);
        unit = read.Run();
    }
    if (m_postProcessor)
        return m_postProcessor->Process(std::move(unit), factory);
    return unit;
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
