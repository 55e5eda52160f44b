#include "enterprise/serialize/xml_packet_serializer.h"

#include <charconv>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "core/common/base64.h"
#include "core/common/error.h"
#include "core/common/error_blob.h"
#include "core/common/location.h"
#include "core/common/message_catalogue.h"
#include "enterprise/serialize/serialization_errors.h"
#include "enterprise/serialize/xml_text.h"

namespace Serialization {

namespace {

constexpr Common::SourceFile kSource("enterprise/serialize/xml_packet_serializer");

constexpr char kPacketHead[] = "\xEF\xBB\xBF<XML_SERIALIZER>";
constexpr char kPacketEnd[] = "</XML_SERIALIZER>";

// A Base64 value counts its bytes in 32 bits.
constexpr uint64_t kMaxBase64Bytes = 0xFFFFFFFFull;

using PacketBuffer = XMLPacketSerializer::PacketBuffer;

void Append(PacketBuffer& buffer, const char* text, size_t length)
{
    buffer.append(text, length);
}

void Append(PacketBuffer& buffer, const char* text)
{
    Append(buffer, text, std::strlen(text));
}

void Append(PacketBuffer& buffer, const std::string& text)
{
    Append(buffer, text.data(), text.size());
}

void AppendUnsigned(PacketBuffer& buffer, unsigned long long value)
{
    char text[30];
    auto result = std::to_chars(text, text + sizeof(text), value);
    Append(buffer, text, static_cast<size_t>(result.ptr - text));
}

void AppendSigned(PacketBuffer& buffer, long long value)
{
    char text[30];
    auto result = std::to_chars(text, text + sizeof(text), value);
    Append(buffer, text, static_cast<size_t>(result.ptr - text));
}

// "%.16g", independent of the process locale.
void AppendDouble(PacketBuffer& buffer, double value)
{
    char text[64];
    auto result = std::to_chars(text, text + sizeof(text), value, std::chars_format::general, 16);
    Append(buffer, text, static_cast<size_t>(result.ptr - text));
}

char* CharsAt(PacketBuffer& buffer, size_t offset)
{
    return buffer.data() + offset;
}

void CheckBase64Size(uint64_t size, uint32_t line)
{
    if (size > kMaxBase64Bytes)
        Common::ThrowError(Common::Error(SerializationErrors::kValueTooLarge,
                                         Common::GetMessageText(SerializationErrors::kValueTooLargeText),
                                         kSource.At("Write", line)));
}

} // namespace

// The packet buffer of the last finished packet on this thread, kept for the
// next serializer: a packet of some hundred kilobytes then costs no fresh
// pages from the system. A larger buffer is handed over with its packet (a
// copy would cost what fresh pages cost) and would only sit idle on its
// thread, beside the packet, if it were kept.
thread_local PacketBuffer t_keptBuffer;
constexpr size_t kKeptBufferLimit = size_t{1} << 20;

XMLPacketSerializer::XMLPacketSerializer(int32_t formatVersion, int32_t targetVersion)
    : m_formatVersion(formatVersion), m_targetVersion(targetVersion)
{
    m_buffer.swap(t_keptBuffer);
    m_buffer.clear();
    Append(m_buffer, kPacketHead, sizeof(kPacketHead) - 1);
}

XMLPacketSerializer::~XMLPacketSerializer()
{
    ReleaseBuffer();
}

namespace {

// Empties `buffer` and keeps its room for the thread's next serializer when
// it is within the limit and larger than the room kept so far.
void KeepForThread(PacketBuffer& buffer)
{
    buffer.clear();
    if (buffer.capacity() <= kKeptBufferLimit && buffer.capacity() > t_keptBuffer.capacity())
        buffer.swap(t_keptBuffer);
}

} // namespace

void XMLPacketSerializer::ReleaseBuffer()
{
    KeepForThread(m_buffer);
    PacketBuffer().swap(m_buffer);
}

void XMLPacketSerializer::Reserve(size_t bytes)
{
    m_sizeGiven = true;
    if (bytes <= m_buffer.capacity())
        return;
    if (bytes <= kKeptBufferLimit) {
        m_buffer.reserve(bytes);
        return;
    }
    // A packet too large to keep gets room of its own, and the room it had
    // (the thread's kept room, as a rule) stays for the thread's next packet.
    PacketBuffer room;
    room.reserve(bytes);
    room.append(m_buffer.data(), m_buffer.size());
    room.swap(m_buffer);
    KeepForThread(room);
}

bool XMLPacketSerializer::IsForTarget(const MetaInfo& meta) const
{
    return m_targetVersion == 0 || meta.targetVersion == 0 || m_targetVersion == meta.targetVersion;
}

void XMLPacketSerializer::StartWriteMetaInfo(const MetaInfo& meta)
{
    if (meta.name.empty())
        return;
    // Everything inside a refused element is refused with it, so that the
    // packet stays well-formed whatever the element holds.
    if (m_skipDepth != 0 || !IsForTarget(meta)) {
        ++m_skipDepth;
        return;
    }
    m_names.push_back(meta.name);
    AppendStartTag(meta);
}

void XMLPacketSerializer::FinishWriteMetaInfo(const MetaInfo& meta)
{
    if (meta.name.empty())
        return;
    if (m_skipDepth != 0) {
        --m_skipDepth;
        return;
    }
    if (meta.primaryTraits || meta.secondaryTraits) {
        WriteScope traits(*this, MetaInfo("traits"));
        if (meta.primaryTraits)
            AppendTraits(*meta.primaryTraits);
        if (meta.secondaryTraits)
            AppendTraits(*meta.secondaryTraits);
    }
    AppendEndTag(meta.name);
    // A close without an open element is the caller's fault; the stack is
    // left alone rather than popped while empty.
    if (!m_names.empty())
        m_names.pop_back();
}

void XMLPacketSerializer::AppendTraits(const MetaInfoTraitList& traits)
{
    for (const MetaInfoTrait& trait : traits) {
        Append(m_buffer, "<trait  name=\"");
        Append(m_buffer, trait.name);
        Append(m_buffer, "\" type=\"");
        Append(m_buffer, trait.type);
        Append(m_buffer, "\">");
        Detail::AppendXmlText(m_buffer, trait.value, std::strlen(trait.value));
        Append(m_buffer, "</trait>");
    }
}

bool XMLPacketSerializer::Writes(const MetaInfo& meta) const
{
    return m_skipDepth == 0 && IsForTarget(meta);
}

void XMLPacketSerializer::AppendStartTag(const MetaInfo& meta)
{
    const uint64_t version = m_targetVersion != 0 && meta.targetVersion != 0 ? meta.versionForTarget : meta.version;
    m_buffer.push_back('<');
    Append(m_buffer, meta.name);
    if (meta.version != 0) {
        Append(m_buffer, " version=\"");
        AppendUnsigned(m_buffer, version);
        m_buffer.push_back('"');
    }
    m_buffer.push_back('>');
}

void XMLPacketSerializer::AppendEndTag(const std::string& name)
{
    Append(m_buffer, "</", 2);
    Append(m_buffer, name);
    m_buffer.push_back('>');
}

template <typename AppendValue>
void XMLPacketSerializer::WriteElement(const MetaInfo& meta, AppendValue appendValue)
{
    if (!Writes(meta))
        return;
    if (meta.name.empty() || meta.primaryTraits || meta.secondaryTraits) {
        WriteScope scope(*this, meta);
        appendValue();
        return;
    }
    // A leaf value: the same tags as opening and closing the element, without
    // the element stack in between (nothing can look at it meanwhile).
    AppendStartTag(meta);
    try {
        appendValue();
    } catch (...) {
        AppendEndTag(meta.name);
        throw;
    }
    AppendEndTag(meta.name);
}

void XMLPacketSerializer::AppendBase64(const unsigned char* data, uint64_t size)
{
    if (size == 0)
        return;
    uint64_t length = (size + 2) / 3 * 4;
    size_t start = m_buffer.size();
    if (length > m_buffer.max_size() - start)
        throw std::length_error("basic_string::append");
    m_buffer.resize(start + length);
    Common::EncodeBase64(CharsAt(m_buffer, start), data, data + size, Common::kStandardBase64Alphabet, true);
}

void XMLPacketSerializer::Write(const MetaInfo& meta, bool value)
{
    WriteElement(meta, [&] { m_buffer.push_back(value ? '1' : '0'); });
}

void XMLPacketSerializer::Write(const MetaInfo& meta, char value)
{
    WriteElement(meta, [&] { AppendSigned(m_buffer, static_cast<unsigned char>(value)); });
}

void XMLPacketSerializer::Write(const MetaInfo& meta, const Common::Guid& value)
{
    WriteElement(meta, [&] {
        char text[Common::kGuidTextLength + 1];
        Common::FormatGuid(text, value);
        Append(m_buffer, text, Common::kGuidTextLength);
    });
}

void XMLPacketSerializer::Write(const MetaInfo& meta, const Common::Error& value)
{
    WriteElement(meta, [&] {
        uint32_t size = 0;
        std::unique_ptr<unsigned char[]> blob(Common::SerializeError(value, size));
        if (size != 0)
            AppendBase64(blob.get(), size);
    });
}

void XMLPacketSerializer::Write(const MetaInfo& meta, const std::u16string& value)
{
    WriteElement(meta, [&] { Detail::AppendXmlText(m_buffer, value.data(), value.size()); });
}

void XMLPacketSerializer::Write(const MetaInfo& meta, const uint32_t& value)
{
    WriteElement(meta, [&] { AppendUnsigned(m_buffer, value); });
}

void XMLPacketSerializer::Write(const MetaInfo& meta, const double& value)
{
    WriteElement(meta, [&] { AppendDouble(m_buffer, value); });
}

void XMLPacketSerializer::Write(const MetaInfo& meta, const uint64_t& value)
{
    WriteElement(meta, [&] { AppendUnsigned(m_buffer, value); });
}

void XMLPacketSerializer::Write(const MetaInfo& meta, const int32_t& value)
{
    WriteElement(meta, [&] { AppendSigned(m_buffer, value); });
}

void XMLPacketSerializer::Write(const MetaInfo& meta, const int64_t& value)
{
    WriteElement(meta, [&] { AppendSigned(m_buffer, value); });
}

void XMLPacketSerializer::Write(const MetaInfo& meta, const std::string& value)
{
    WriteElement(meta, [&] { Detail::AppendXmlText(m_buffer, value.data(), value.size()); });
}

void XMLPacketSerializer::Write(const MetaInfo& meta, const int16_t& value)
{
    WriteElement(meta, [&] { AppendSigned(m_buffer, value); });
}

void XMLPacketSerializer::Write(const MetaInfo& meta, const uint16_t& value)
{
    WriteElement(meta, [&] { AppendUnsigned(m_buffer, value); });
}

void XMLPacketSerializer::Write(const MetaInfo& meta, const std::vector<unsigned char>& value)
{
    if (!Writes(meta))
        return;
    CheckBase64Size(value.size(), __LINE__);
    WriteElement(meta, [&] { AppendBase64(value.data(), value.size()); });
}

void XMLPacketSerializer::Write(const MetaInfo& meta, const SharedData& value)
{
    if (!Writes(meta))
        return;
    CheckBase64Size(value.size, __LINE__);
    WriteElement(meta, [&] { AppendBase64(value.data.get(), value.size); });
}

// Encodes the bytes handed to it into the packet, three at a time; up to two
// wait for the next piece, and the last group is written with its fill.
class XMLPacketSerializer::Base64Sink final : public ByteSink
{
public:
    explicit Base64Sink(PacketBuffer& buffer) : m_buffer(buffer) {}

    void Write(const void* bytes, size_t size) override
    {
        const auto* data = static_cast<const unsigned char*>(bytes);
        while (size != 0 && m_waiting != 0 && m_waiting < 3) {
            m_group[m_waiting++] = *data++;
            --size;
        }
        if (m_waiting == 3) {
            Encode(m_group, 3);
            m_waiting = 0;
        }
        const size_t whole = size - size % 3;
        Encode(data, whole);
        for (size_t i = whole; i < size; ++i)
            m_group[m_waiting++] = data[i];
    }

    void Finish()
    {
        Encode(m_group, m_waiting);
        m_waiting = 0;
    }

private:
    void Encode(const unsigned char* data, size_t size)
    {
        if (size == 0)
            return;
        const size_t start = m_buffer.size();
        m_buffer.resize(start + (size + 2) / 3 * 4);
        Common::EncodeBase64(CharsAt(m_buffer, start), data, data + size, Common::kStandardBase64Alphabet, true);
    }

    PacketBuffer& m_buffer;
    unsigned char m_group[3] = {};
    size_t m_waiting = 0;
};

bool XMLPacketSerializer::StartBytes(const MetaInfo& meta, uint64_t size)
{
    if (!Writes(meta))
        return false;
    CheckBase64Size(size, __LINE__);
    // The text, the end tag, and room for what usually closes the packet.
    const uint64_t text = (size + 2) / 3 * 4;
    constexpr size_t kClosingRoom = 4096;
    if (text > m_buffer.max_size() - m_buffer.size() - kClosingRoom - meta.name.size())
        throw std::length_error("basic_string::append");
    const size_t needed = m_buffer.size() + static_cast<size_t>(text) + meta.name.size() + kClosingRoom;
    // Room the writer gave for the whole packet is trusted to hold what
    // closes it, as long as it holds the text and its end tag.
    const size_t element = m_buffer.size() + static_cast<size_t>(text) + meta.name.size() + 3;
    if (m_buffer.capacity() < (m_sizeGiven ? element : needed))
        m_buffer.reserve(needed);
    return true;
}

void XMLPacketSerializer::WriteBytesElement(const MetaInfo& meta, void (*produce)(void* context, ByteSink& sink),
                                            void* context)
{
    WriteElement(meta, [&] {
        // A failure leaves nothing of the text behind.
        const size_t start = m_buffer.size();
        try {
            Base64Sink sink(m_buffer);
            produce(context, sink);
            sink.Finish();
        } catch (...) {
            m_buffer.resize(start);
            throw;
        }
    });
}

void XMLPacketSerializer::FinishPacket()
{
    Append(m_buffer, kPacketEnd, sizeof(kPacketEnd) - 1);
}

void XMLPacketSerializer::GetData(std::vector<unsigned char>& out)
{
    FinishPacket();
    if (m_buffer.capacity() <= kKeptBufferLimit) {
        // The room stays for the thread's next packet.
        const auto* bytes = reinterpret_cast<const unsigned char*>(m_buffer.data());
        out.assign(bytes, bytes + m_buffer.size());
    } else {
        m_buffer.TakeInto(out); // too large to keep: handed over without a copy
    }
    ReleaseBuffer();
}

SharedData XMLPacketSerializer::GetSharedData()
{
    FinishPacket();
    SharedData result;
    result.data.reset(new unsigned char[m_buffer.size()]);
    std::memcpy(result.data.get(), m_buffer.data(), m_buffer.size());
    result.size = m_buffer.size();
    ReleaseBuffer();
    return result;
}

MetaInfo XMLPacketSerializer::GetCurrentMetaInfo() const
{
    return m_names.empty() ? MetaInfo() : MetaInfo(m_names.back());
}

void XMLPacketSerializer::SetContext(void* context)
{
    m_context = context;
}

void* XMLPacketSerializer::GetContext() const
{
    return m_context;
}

void CreateXMLPacketSerializer(std::unique_ptr<Serializer>& serializer, int32_t formatVersion, int32_t targetVersion)
{
    serializer = std::make_unique<XMLPacketSerializer>(formatVersion, targetVersion);
}

std::unique_ptr<Serializer> CreateXMLPacketSerializer(int32_t formatVersion, int32_t targetVersion)
{
    return std::make_unique<XMLPacketSerializer>(formatVersion, targetVersion);
}

} // namespace Serialization
