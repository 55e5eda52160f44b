#include "core/xml/simple_reader.h"

#include <utility>

#include "core/common/assertion.h"
#include "core/common/text_conversion.h"
#include "core/include/file/file.h"
#include "core/xml/xml_document.h"

namespace {

constexpr const char* kSourcePath = "core/xml/simple_reader";

// Largest piece of a string taken from the source at once: a length field
// cannot make the reader allocate more than this ahead of the bytes that
// actually arrive.
constexpr uint64_t kReadChunk = 0x10000;

// A varint carries 32 bits in at most 5 bytes; the fifth holds bits 28-31.
constexpr unsigned kMaxVarintBytes = 5;
constexpr uint8_t kLastVarintByteLimit = 0x0F;

} // namespace

xml_reader_core::xml_reader_core(i_file& source, xml_reader_interface& sink) : m_source(&source), m_sink(&sink)
{
}

xml_reader_core::~xml_reader_core() = default;

bool xml_reader_core::ReadDocument()
{
    m_sink->StartDocument();
    ReadElement(1);
    if (m_stopped)
        return false;
    m_sink->EndDocument();
    return !Failed();
}

bool xml_reader_core::Failed() const
{
    return m_refused || m_source->IsFailed();
}

uint64_t xml_reader_core::ReadBytes(void* buffer, uint64_t size)
{
    // A pipe or a socket may deliver less than asked before its end: keep
    // asking while bytes come. What is still missing then goes to the
    // read-all, which records the early end like for any other source.
    auto* bytes = static_cast<unsigned char*>(buffer);
    uint64_t done = 0;
    while (done < size) {
        uint64_t count = 0;
        m_source->Read(bytes + done, size - done, &count);
        if (count == 0 || count > size - done || !m_source->IsClear())
            break;
        done += count;
    }
    if (done < size && m_source->IsClear())
        done += m_source->Read(bytes + done, size - done);
    m_consumed += done;
    return done;
}

void xml_reader_core::ReportOddValueLength()
{
    // Once per document: a stream of such values must not become a stream of
    // reports.
    if (m_oddValueReported)
        return;
    m_oddValueReported = true;
    Common::ReportAssertion("(textLength & 1) == 0", kSourcePath, 194);
}

uint8_t xml_reader_core::ReadByte()
{
    uint8_t value = 0;
    if (!Failed())
        ReadBytes(&value, 1);
    return value;
}

uint32_t xml_reader_core::ReadVarint()
{
    uint32_t value = 0;
    for (unsigned index = 0; index < kMaxVarintBytes; ++index) {
        if (Failed())
            break;
        uint8_t byte = 0;
        if (ReadBytes(&byte, 1) != 1)
            break;
        if (index == kMaxVarintBytes - 1 && byte > kLastVarintByteLimit) {
            // More than 32 bits, or a sixth byte announced.
            Refuse();
            return 0;
        }
        value |= static_cast<uint32_t>(byte & 0x7F) << (7 * index);
        if ((byte & 0x80) == 0)
            break;
    }
    return m_refused ? 0 : value;
}

std::string xml_reader_core::ReadNarrow(uint32_t length)
{
    std::string bytes;
    uint64_t remaining = length;
    while (remaining != 0 && !Failed()) {
        const uint64_t chunk = remaining < kReadChunk ? remaining : kReadChunk;
        const size_t start = bytes.size();
        bytes.resize(start + static_cast<size_t>(chunk));
        const uint64_t got = ReadBytes(bytes.data() + start, chunk);
        bytes.resize(start + static_cast<size_t>(got));
        if (got != chunk)
            break;
        remaining -= got;
    }
    return bytes;
}

std::u16string xml_reader_core::ReadUtf8(uint32_t length)
{
    std::u16string text;
    if (length == 0)
        return text;
    const std::string bytes = ReadNarrow(length);
    if (!bytes.empty())
        Common::ConvertUtf8ToUtf16(text, bytes.data(), bytes.size());
    return text;
}

std::u16string xml_reader_core::ReadString()
{
    return ReadUtf8(ReadVarint());
}

void xml_reader_core::ReadContentItem()
{
    const uint32_t field = ReadVarint();
    if ((field & 1) != 0)
        m_sink->NarrowText(ReadNarrow(field >> 1));
    else
        m_sink->Text(ReadUtf8(field >> 1));
}

bool xml_reader_core::ReadName(bool allowEnd, std::string& name)
{
    const uint32_t id = ReadVarint();
    if (id == 0 && allowEnd)
        return false;
    auto known = m_names.find(id);
    if (known != m_names.end()) {
        m_repeated += known->second.size();
        if (m_repeated > kMaxNameRepeatFactor * m_consumed + kNameRepeatAllowance) {
            Refuse();
            name.clear();
            return !allowEnd;
        }
        name = known->second;
        return true;
    }
    const uint32_t length = ReadVarint();
    name = m_names.emplace(id, ReadNarrow(length)).first->second;
    return true;
}

bool xml_reader_binary_old::ReadElement(size_t depth)
{
    if (depth > kMaxXmlDepth) {
        Refuse();
        Stop();
        return false;
    }
    std::string name;
    ReadName(false, name);
    Sink().StartElement(std::move(name));

    const uint8_t attributeCount = ReadByte();
    for (unsigned index = 0; index < attributeCount; ++index) {
        std::string attributeName;
        ReadName(false, attributeName);
        std::u16string value = ReadString();
        Sink().Attribute(std::move(attributeName), std::move(value));
    }

    const uint32_t textCount = ReadVarint();
    if (textCount == 0) {
        // A refused input reads every number as 0; that is no broken count.
        if (!Refused())
            Common::ReportAssertion("textCount", kSourcePath, 135);
        Stop();
        return false;
    }
    Sink().Text(ReadString());
    for (uint32_t index = 1; index < textCount; ++index) {
        ReadElement(depth + 1);
        if (Stopped())
            return false;
        Sink().Text(ReadString());
    }
    Sink().EndElement();
    return true;
}

bool xml_reader_binary_new::ReadElement(size_t depth)
{
    std::string name;
    if (!ReadName(true, name))
        return false;
    if (depth > kMaxXmlDepth) {
        Refuse();
        return false;
    }
    Sink().StartElement(std::move(name));

    std::string attributeName;
    while (ReadName(true, attributeName)) {
        const uint32_t field = ReadVarint();
        if ((field & 1) != 0)
            ReportOddValueLength();
        Sink().Attribute(attributeName, ReadUtf8(field >> 1));
    }

    ReadContentItem();
    while (ReadElement(depth + 1))
        ReadContentItem();
    Sink().EndElement();
    return !Failed();
}

bool read_binary_xml(xml_reader_interface& sink, i_file& source)
{
    uint8_t version = 0;
    uint8_t reserved = 0;
    source.Read(&version, 1);
    source.Read(&reserved, 1);
    switch (version) {
    case 1: {
        xml_reader_binary_old reader(source, sink);
        return reader.ReadDocument();
    }
    case 2: {
        xml_reader_binary_new reader(source, sink);
        return reader.ReadDocument();
    }
    default:
        return false;
    }
}
