#include <cstring>
#include <utility>

#include "core/common/assertion.h"
#include "core/common/error.h"
#include "core/common/error_blob.h"
#include "core/common/location.h"
#include "core/common/message_catalogue.h"
#include "core/file/buf_ifile.h"
#include "core/xml/xml_document.h"
#include "enterprise/serialize/base64_decode.h"
#include "enterprise/serialize/serialization_errors.h"
#include "enterprise/serialize/xml_packet_deserializer.h"
#include "enterprise/serialize/xml_value_parse.h"

namespace Serialization {

namespace {

constexpr Common::SourceFile kSource("enterprise/serialize/xml_serializer", 0x7e90832cff0290f3);

[[noreturn]] void ThrowInconsistentMeta(const char* function, uint32_t line)
{
    Common::ThrowError(Common::Error(SerializationErrors::kInconsistentMeta,
                                     Common::GetMessageText(SerializationErrors::kInconsistentMetaText),
                                     kSource.At(function, line)));
}

[[noreturn]] void ThrowNoMeta(const char* function, uint32_t line)
{
    Common::ThrowError(Common::Error(SerializationErrors::kNoMeta,
                                     Common::GetMessageText(SerializationErrors::kNoMetaText),
                                     kSource.At(function, line)));
}

[[noreturn]] void ThrowNoData(uint32_t line)
{
    Common::ThrowError(
        Common::Error(SerializationErrors::kNoData, SerializationErrors::kNoDataNarrowText, kSource.At("Read", line)));
}

void Assert(const char* expression, uint32_t line)
{
    Common::ReportAssertion(expression, kSource.path, line);
}

// The value text of an element: the character data before its first child.
const xml_text& ValueText(const xml_tag& element)
{
    static const xml_text kNoText;
    return element.Text.empty() ? kNoText : element.Text.front();
}

} // namespace

XMLPacketDeserializer::Document::~Document()
{
    free_xml_tag(root);
    delete root;
}

XMLPacketDeserializer::XMLPacketDeserializer(const void* bytes, uint64_t size, uint64_t initialVersion, Text text)
{
    buf_ifile<char> source(static_cast<const char*>(bytes), size);
    int32_t line = 0;
    int32_t column = 0;
    const bool result = load_xml_document(m_document.root, source, line, column,
                                          text == Text::Borrowed ? XmlText::Borrowed : XmlText::Copied);
    if (!result) {
        Assert("result && \"Cannot read xml document from string.\"", 826);
        return;
    }
    if (m_document.root == nullptr) {
        Assert("RootTag", 832);
        return;
    }
    m_root = m_document.root;
    m_current = m_root;
    m_cursors.push_back(CursorOver(*m_root));
    m_versions.push_back(initialVersion);
}

XMLPacketDeserializer::~XMLPacketDeserializer() = default;

XMLPacketDeserializer::Cursor XMLPacketDeserializer::CursorOver(const xml_tag& element)
{
    xml_tag* const* first = element.children.data();
    return Cursor{first, first, first + element.children.size(), nullptr};
}

xml_tag* XMLPacketDeserializer::Child(const MetaInfo& meta)
{
    if (m_cursors.empty()) {
        Assert("!\"XMLPacketDeserializer: No meta.\"", 716);
        ThrowNoMeta("Child", 717);
    }
    Cursor& cursor = m_cursors.back();
    if (cursor.next == cursor.end)
        ThrowInconsistentMeta("Child", 724);
    xml_tag* candidate = *cursor.next;
    ++cursor.next;
    if (candidate->name == meta.name)
        return candidate;
    if (meta.strictOrder)
        ThrowInconsistentMeta("Child", 742);
    if (!cursor.index) {
        cursor.index = std::make_unique<NameIndex>();
        cursor.index->reserve(static_cast<size_t>(cursor.end - cursor.first));
        for (xml_tag* const* child = cursor.first; child != cursor.end; ++child)
            cursor.index->emplace((*child)->name, *child); // keeps the first of a name
    }
    const auto found = cursor.index->find(meta.name);
    if (found == cursor.index->end())
        ThrowInconsistentMeta("Child", 742);
    return found->second;
}

void XMLPacketDeserializer::StartReadMetaInfo(const MetaInfo& meta)
{
    if (meta.name.empty())
        return;
    m_current = Child(meta);
    UpdateMetainfoVersion();
    m_cursors.push_back(CursorOver(*m_current));
}

void XMLPacketDeserializer::UpdateMetainfoVersion()
{
    if (m_versions.empty())
        ThrowInconsistentMeta("UpdateMetainfoVersion", 686);
    uint64_t version = 0;
    if (const xml_attribute* attribute = m_current->attributes.find("version"))
        ParseUInt64(attribute->value, version);
    m_versions.push_back(version != 0 ? version : m_versions.back());
}

void XMLPacketDeserializer::ReleaseMetainfoVersion()
{
    if (m_versions.empty())
        ThrowInconsistentMeta("ReleaseMetainfoVersion", 764);
    m_versions.pop_back();
}

void XMLPacketDeserializer::FinishReadMetaInfo(const MetaInfo& meta)
{
    if (meta.name.empty())
        return;
    if (m_current == nullptr) {
        Assert("!\"XMLPacketDeserializer: No tags.\"", 777);
        ThrowNoMeta("FinishReadMetaInfo", 778);
    }
    if (!(m_current->name == meta.name) || meta.primaryTraits || meta.secondaryTraits) {
        Assert("!\"XMLPacketDeserializer: Inconsistent meta.\"", 782);
        ThrowInconsistentMeta("FinishReadMetaInfo", 783);
    }
    m_current = m_current->parent;
    if (m_cursors.empty()) {
        Assert("!\"XMLPacketDeserializer: Stack is empty somehow.\"", 788);
        ThrowInconsistentMeta("FinishReadMetaInfo", 789);
    }
    m_cursors.pop_back();
    if (m_current == nullptr) {
        Assert("CurrentTag", 793);
        ThrowInconsistentMeta("FinishReadMetaInfo", 795);
    }
    ReleaseMetainfoVersion();
}

uint64_t XMLPacketDeserializer::GetSubjectVersion() const
{
    if (m_versions.empty())
        ThrowInconsistentMeta("GetSubjectVersion", 845);
    return m_versions.back();
}

MetaInfo XMLPacketDeserializer::GetCurrentMetaInfo() const
{
    if (m_cursors.empty() || m_cursors.back().next == m_cursors.back().end)
        return MetaInfo();
    return MetaInfo(std::string((*m_cursors.back().next)->name.view()));
}

template <typename Convert>
void XMLPacketDeserializer::ReadValue(const MetaInfo& meta, uint32_t line, Convert convert)
{
    if (m_current == nullptr)
        ThrowNoData(line);
    ReadScope scope(*this, meta);
    convert(*m_current);
}

size_t XMLPacketDeserializer::DecodeBytesInto(unsigned char* out, uint32_t line) const
{
    const uint8_t* end = ValueText(*m_current).visit([out](auto text) {
        return DecodeBase64(out, text.data(), text.data() + text.size(), kBase64ClassTable.data());
    });
    if (end == nullptr)
        ThrowNoData(line);
    return static_cast<size_t>(end - out);
}

std::unique_ptr<unsigned char[]> XMLPacketDeserializer::DecodeBytes(uint32_t line, size_t& count) const
{
    std::unique_ptr<unsigned char[]> block(new unsigned char[Base64DecodedCapacity(ValueText(*m_current).size()) + 1]);
    count = DecodeBytesInto(block.get(), line);
    return block;
}

void XMLPacketDeserializer::Read(const MetaInfo& meta, bool& value)
{
    ReadValue(meta, 499, [&](const xml_tag& element) { ParseBool(ValueText(element), value); });
}

void XMLPacketDeserializer::Read(const MetaInfo& meta, char& value)
{
    ReadValue(meta, 509, [&](const xml_tag& element) { ParseChar(ValueText(element), value); });
}

void XMLPacketDeserializer::Read(const MetaInfo& meta, Common::Guid& value)
{
    ReadValue(meta, 519, [&](const xml_tag& element) {
        const NarrowedText narrow(ValueText(element));
        Common::ParseGuid(value, narrow.c_str());
    });
}

void XMLPacketDeserializer::Read(const MetaInfo& meta, Common::Error& value)
{
    ReadValue(meta, 529, [&](const xml_tag&) {
        size_t size = 0;
        const std::unique_ptr<unsigned char[]> block = DecodeBytes(534, size);
        // An error blob counts its bytes in 32 bits; a longer text cannot
        // hold one, and only its first 4 GiB are read.
        const uint32_t count = size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size);
        value = Common::DeserializeError(block.get(), count);
    });
}

void XMLPacketDeserializer::Read(const MetaInfo& meta, std::u16string& value)
{
    ReadValue(meta, 547, [&](const xml_tag& element) {
        const xml_text& text = ValueText(element);
        if (!text.is_narrow()) {
            value.assign(text.wide());
            return;
        }
        const std::string_view bytes = text.narrow();
        value.resize(bytes.size());
        for (size_t i = 0; i < bytes.size(); ++i)
            value[i] = static_cast<unsigned char>(bytes[i]);
    });
}

void XMLPacketDeserializer::Read(const MetaInfo& meta, uint32_t& value)
{
    ReadValue(meta, 557, [&](const xml_tag& element) { ParseUInt32(ValueText(element), value); });
}

void XMLPacketDeserializer::Read(const MetaInfo& meta, double& value)
{
    ReadValue(meta, 567, [&](const xml_tag& element) { ParseDouble(ValueText(element), value); });
}

void XMLPacketDeserializer::Read(const MetaInfo& meta, uint64_t& value)
{
    ReadValue(meta, 577, [&](const xml_tag& element) { ParseUInt64(ValueText(element), value); });
}

void XMLPacketDeserializer::Read(const MetaInfo& meta, int32_t& value)
{
    ReadValue(meta, 587, [&](const xml_tag& element) { ParseInt32(ValueText(element), value); });
}

void XMLPacketDeserializer::Read(const MetaInfo& meta, int64_t& value)
{
    ReadValue(meta, 597, [&](const xml_tag& element) { ParseInt64(ValueText(element), value); });
}

void XMLPacketDeserializer::Read(const MetaInfo& meta, std::string& value)
{
    ReadValue(meta, 607, [&](const xml_tag& element) { value = NarrowText(ValueText(element)); });
}

void XMLPacketDeserializer::Read(const MetaInfo& meta, int16_t& value)
{
    ReadValue(meta, 617, [&](const xml_tag& element) { ParseInt16(ValueText(element), value); });
}

void XMLPacketDeserializer::Read(const MetaInfo& meta, uint16_t& value)
{
    ReadValue(meta, 627, [&](const xml_tag& element) { ParseUInt16(ValueText(element), value); });
}

void XMLPacketDeserializer::Read(const MetaInfo& meta, std::vector<unsigned char>& value)
{
    ReadValue(meta, 637, [&](const xml_tag& element) {
        // Decoded straight into a vector of its own, which replaces the value
        // once the whole text has decoded.
        std::vector<unsigned char> bytes(Base64DecodedCapacity(ValueText(element).size()) + 1);
        bytes.resize(DecodeBytesInto(bytes.data(), 642));
        value.swap(bytes);
    });
}

void XMLPacketDeserializer::ReadBytesElement(const MetaInfo& meta, void (*consume)(void* context, ByteSource& source),
                                             void* context)
{
    // Opened, checked and left as Read opens the element and decodes its text.
    xml_text text;
    uint64_t size = 0;
    ReadValue(meta, 637, [&](const xml_tag& element) {
        text = ValueText(element);
        const bool valid = text.visit([&size](auto view) {
            return MeasureBase64(view.data(), view.data() + view.size(), kBase64ClassTable.data(), size);
        });
        if (!valid)
            ThrowNoData(642);
    });
    text.visit([&](auto view) {
        using Unit = typename decltype(view)::value_type;
        class Source final : public ByteSource
        {
        public:
            Source(const Unit* begin, const Unit* end, uint64_t size)
                : m_begin(begin), m_end(end), m_size(size), m_stream(begin, end, kBase64ClassTable.data())
            {
            }
            uint64_t Size() const override { return m_size; }
            void Read(unsigned char* out, size_t count) override { m_stream.Read(out, count); }
            void ReadFirst(unsigned char* out, size_t count) const override
            {
                Base64Stream<Unit>(m_begin, m_end, kBase64ClassTable.data()).Read(out, count);
            }

        private:
            const Unit* m_begin;
            const Unit* m_end;
            uint64_t m_size;
            Base64Stream<Unit> m_stream;
        } source(view.data(), view.data() + view.size(), size);
        consume(context, source);
    });
}

void XMLPacketDeserializer::Read(const MetaInfo& meta, SharedData& value)
{
    ReadValue(meta, 661, [&](const xml_tag&) {
        size_t count = 0;
        std::unique_ptr<unsigned char[]> block = DecodeBytes(666, count);
        if (count == 0) {
            value.data.reset();
            value.size = 0;
            return;
        }
        value.data = boost::shared_array<unsigned char>(block.release());
        value.size = count;
    });
}

void CreateXMLPacketDeserializer(std::unique_ptr<Deserializer>& deserializer, const void* bytes, uint64_t size,
                                 uint64_t initialVersion)
{
    deserializer = std::make_unique<XMLPacketDeserializer>(bytes, size, initialVersion);
}

} // namespace Serialization
