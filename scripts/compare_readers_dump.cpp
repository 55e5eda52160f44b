// What the readers of outside bytes make of each input, printed so that two
// builds of the repository can be compared line by line (scripts/compare_readers
// builds this file against both and compares their output). It compiles
// against the tree and value types of either build.
//
//   compare_readers_dump MODE FILE...
//
// MODE:
//   xml          load_xml_document: result, line, column, the whole tree (every
//                unit of every text in hex); then the packet deserializer's
//                reading of every element as every value type
//   notation     the text notation reader: its trace, the unit (its binary form
//                in hex and the XML packet that carries it) or the error
//   unit-form    the binary unit form reader: the unit written back, or the error
//   events       building events as the accumulator fuzz target reads them
//   base64       the memory file of an element whose text is the input, one
//                unit per byte
//
// An error is printed as code, text and function; its line follows on a line
// of its own (lines of raising sites without a published line move when
// their file is edited).
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "core/common/guid.h"
#include "core/common/text_conversion.h"
#include "core/file/buf_ifile.h"
#include "core/xml/xml_document.h"
#include "enterprise/common/por/blob_walking_route.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/parser/unit_construction_format.h"
#include "enterprise/common/por/unit_accumulator.h"
#include "enterprise/common/por/unit_serialization.h"
#include "enterprise/serialize/memory_file.h"
#include "enterprise/serialize/xml_packet_deserializer.h"
#include "enterprise/serialize/xml_packet_serializer.h"

// The accumulator fuzz target's reading of bytes as events (StartUnit, Event),
// so that the events mode reads its inputs exactly as the target does.
#include "enterprise/common/por/unit_accumulator_fuzz.cpp"

namespace {

std::string Hex(const void* data, size_t size)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0xF];
    }
    return out;
}

std::string Units(const std::u16string& text)
{
    std::string out;
    char unit[8];
    for (const char16_t c : text) {
        std::snprintf(unit, sizeof unit, "%04x", static_cast<unsigned>(c));
        out += unit;
    }
    return out;
}

// The units of a tree text, whichever type the build keeps it in.
template <typename Text>
std::u16string TextUnits(const Text& text)
{
    if constexpr (requires { text.str(); })
        return text.str();
    else
        return std::u16string(text.begin(), text.end());
}

std::string Describe(const Common::Error& error)
{
    const Common::Location location = error.GetLocation();
    std::ostringstream out;
    out << "error " << std::hex << error.GetCode() << std::dec << " \"" << Common::ToUtf8(error.GetText().c_str())
        << "\" in " << (location.function ? location.function : "") << "\n  line " << location.line;
    return out.str();
}

void DumpTree(const xml_tag& tag, std::string& out, int depth)
{
    out.append(static_cast<size_t>(depth) * 2, ' ');
    out += "<" + std::string(std::string_view(tag.name)) + ">";
    for (const auto& [name, value] : tag.attributes)
        out += " @" + std::string(std::string_view(name)) + "=" + Units(TextUnits(value));
    out += "\n";
    for (size_t i = 0; i < tag.Text.size(); ++i) {
        out.append(static_cast<size_t>(depth) * 2 + 1, ' ');
        out += "[" + Units(TextUnits(tag.Text[i])) + "]\n";
        if (i < tag.children.size())
            DumpTree(*tag.children[i], out, depth + 1);
    }
}

template <typename T>
std::string ValueText(const T& value)
{
    std::ostringstream out;
    if constexpr (std::is_same_v<T, std::u16string>)
        out << Units(value);
    else if constexpr (std::is_same_v<T, std::string>)
        out << Hex(value.data(), value.size());
    else if constexpr (std::is_same_v<T, std::vector<unsigned char>>)
        out << Hex(value.data(), value.size());
    else if constexpr (std::is_same_v<T, Serialization::SharedData>)
        out << Hex(value.data.get(), value.size);
    else if constexpr (std::is_same_v<T, Common::Guid>)
        out << Common::GuidToString(value);
    else if constexpr (std::is_same_v<T, Common::Error>)
        out << value.GetCode() << " " << Common::ToUtf8(value.GetText().c_str());
    else if constexpr (std::is_same_v<T, double>)
        out << Hex(&value, sizeof value);
    else
        out << static_cast<long long>(value);
    return out.str();
}

template <typename T>
void ReadAs(Serialization::Deserializer& deserializer, const Serialization::MetaInfo& meta, const char* type,
            std::string& out)
{
    T value{};
    out += "    ";
    out += type;
    try {
        deserializer.Read(meta, value);
        out += " " + ValueText(value) + "\n";
    } catch (const Common::Error& error) {
        out += " " + Describe(error) + "\n";
    }
}

void ReadEveryType(Serialization::Deserializer& d, const Serialization::MetaInfo& meta, std::string& out)
{
    ReadAs<bool>(d, meta, "bool", out);
    ReadAs<char>(d, meta, "char", out);
    ReadAs<Common::Guid>(d, meta, "guid", out);
    ReadAs<Common::Error>(d, meta, "error", out);
    ReadAs<std::u16string>(d, meta, "u16", out);
    ReadAs<uint32_t>(d, meta, "u32", out);
    ReadAs<double>(d, meta, "double", out);
    ReadAs<uint64_t>(d, meta, "u64", out);
    ReadAs<int32_t>(d, meta, "i32", out);
    ReadAs<int64_t>(d, meta, "i64", out);
    ReadAs<std::string>(d, meta, "narrow", out);
    ReadAs<int16_t>(d, meta, "i16", out);
    ReadAs<uint16_t>(d, meta, "u16n", out);
    ReadAs<std::vector<unsigned char>>(d, meta, "bytes", out);
    ReadAs<Serialization::SharedData>(d, meta, "shared", out);
}

void WalkPacket(Serialization::Deserializer& deserializer, std::string& out, int depth)
{
    if (depth > 200)
        return;
    for (;;) {
        const Serialization::MetaInfo next = deserializer.GetCurrentMetaInfo();
        if (next.name.empty())
            return;
        out += "  element " + next.name + "\n";
        deserializer.StartReadMetaInfo(next);
        ReadEveryType(deserializer, Serialization::MetaInfo(), out);
        WalkPacket(deserializer, out, depth + 1);
        deserializer.FinishReadMetaInfo(next);
    }
}

std::string DumpXml(const std::string& bytes)
{
    std::string out;
    {
        buf_ifile<char> source(bytes.data(), bytes.size());
        xml_tag* root = nullptr;
        int32_t line = 0;
        int32_t column = 0;
        bool result = false;
        try {
            result = load_xml_document(root, source, line, column);
        } catch (const Common::Error& error) {
            out += "load " + Describe(error) + "\n";
        }
        out += "load " + std::string(result ? "true" : "false") + " " + std::to_string(line) + ":" +
            std::to_string(column) + "\n";
        if (root != nullptr)
            DumpTree(*root, out, 0);
        free_xml_tag(root);
        delete root;
    }
    try {
        Serialization::XMLPacketDeserializer deserializer(bytes.data(), bytes.size(), 0);
        WalkPacket(deserializer, out, 0);
    } catch (const Common::Error& error) {
        out += "packet " + Describe(error) + "\n";
    }
    return out;
}

std::string DumpUnit(const Por::View::Unit& unit)
{
    std::string out;
    std::vector<unsigned char> form;
    Por::Util::WriteBinaryUnit(unit, form);
    out += "form " + Hex(form.data(), form.size()) + "\n";
    Serialization::XMLPacketSerializer serializer(2, 0);
    const Serialization::MetaInfo element("u");
    serializer.StartWriteMetaInfo(element);
    (void)Por::Serialization::SerializeUnit(serializer, &unit);
    serializer.FinishWriteMetaInfo(element);
    std::vector<unsigned char> packet;
    serializer.GetData(packet);
    out += "packet " + Hex(packet.data(), packet.size()) + "\n";
    return out;
}

class BytesReader final : public Utils::DataReader
{
public:
    explicit BytesReader(const std::string& bytes) : m_bytes(bytes) {}
    void ReadData(std::vector<char>& bytes) override { bytes.assign(m_bytes.begin(), m_bytes.end()); }

private:
    const std::string& m_bytes;
};

std::string DumpNotation(const std::string& bytes)
{
    std::string out;
    const Por::Construction::InMemoryUnitFactory factory;
    std::ostringstream trace;
    std::streambuf* const kept = std::cout.rdbuf(trace.rdbuf());
    std::unique_ptr<Por::Construction::Unit> unit;
    std::string failure;
    try {
        BytesReader reader(bytes);
        Utils::UnitConstructionFormat format;
        unit = format.Read(reader, factory);
    } catch (const Common::Error& error) {
        failure = Describe(error);
    }
    std::cout.rdbuf(kept);
    out += "trace " + Hex(trace.str().data(), trace.str().size()) + "\n";
    if (!failure.empty())
        out += failure + "\n";
    else if (unit)
        out += DumpUnit(*unit);
    else
        out += "no unit\n";
    return out;
}

std::string DumpUnitForm(const std::string& bytes)
{
    const Por::Construction::InMemoryUnitFactory factory;
    try {
        const std::vector<unsigned char> form(bytes.begin(), bytes.end());
        const std::unique_ptr<Por::Construction::Unit> unit = Por::Util::ReadBinaryUnit(form, factory);
        return unit ? DumpUnit(*unit) : std::string("no unit\n");
    } catch (const Common::Error& error) {
        return Describe(error) + "\n";
    }
}

std::string DumpEvents(const std::string& bytes)
{
    if (bytes.empty())
        return "no events\n";
    const Por::Construction::InMemoryUnitFactory factory;
    try {
        Por::Util::UnitAccumulator accumulator(StartUnit(factory, static_cast<uint8_t>(bytes[0])), factory);
        for (size_t i = 1; i < bytes.size(); ++i)
            Event(accumulator, static_cast<uint8_t>(bytes[i]));
        const std::unique_ptr<Por::Construction::Unit> unit = accumulator.TakeUnit();
        return unit ? DumpUnit(*unit) : std::string("no unit\n");
    } catch (const Common::Error& error) {
        return Describe(error) + "\n";
    }
}

// The first piece of an element, whichever way the build sets it.
template <typename Tag>
void SetFirstText(Tag& element, const std::u16string& text)
{
    if constexpr (requires { element.SetText(size_t{0}, std::u16string_view()); })
        element.SetText(0, std::u16string_view(text));
    else
        element.Text[0] = text;
}

std::string DumpBase64(const std::string& bytes)
{
    xml_tag element("value");
    std::u16string text(bytes.size(), u'\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        text[i] = static_cast<unsigned char>(bytes[i]);
    SetFirstText(element, text);
    const std::unique_ptr<ri_file> file = Serialization::CreateMemoryFile(element);
    if (!file)
        return "not base64\n";
    std::string decoded(static_cast<size_t>(file->GetSize()), '\0');
    uint64_t count = 0;
    file->Read(decoded.data(), decoded.size(), &count);
    return "decoded " + Hex(decoded.data(), static_cast<size_t>(count)) + "\n";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: compare_readers_dump MODE FILE...\n");
        return 2;
    }
    const std::string mode = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string out;
        if (mode == "xml")
            out = DumpXml(bytes);
        else if (mode == "notation")
            out = DumpNotation(bytes);
        else if (mode == "unit-form")
            out = DumpUnitForm(bytes);
        else if (mode == "events")
            out = DumpEvents(bytes);
        else if (mode == "base64")
            out = DumpBase64(bytes);
        else {
            std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
            return 2;
        }
        std::cout << "== " << argv[i] << "\n" << out;
    }
    return 0;
}
