// The XML packet serializer, the Serializer behind every serialized value:
// requests to peers are written with it and read back by the packet
// deserializer. The packet is UTF-8 XML without white space between tags:
//
//   EF BB BF "<XML_SERIALIZER>" content "</XML_SERIALIZER>"
//
// An element is "<name>" (or "<name version=\"N\">" for a versioned
// descriptor), its content, a "traits" element when the descriptor carries
// trait lists, and "</name>". Value texts are written as one CDATA section or
// with character references so that they survive the white-space
// normalisation of the reader; byte values and error blobs as Base64.
//
// The packet buffer of a finished packet (up to 1 MiB of room) is kept for
// the next serializer made on the same thread, so that writing a packet does
// not take fresh pages from the system each time. GetData copies a packet
// within that room out of the buffer and hands a larger one over as it is:
// its bytes are then never held twice.
//
// Threading: one thread at a time per serializer; no shared state.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "enterprise/serialize/serializer.h"
#include "enterprise/serialize/xml_text.h"

namespace Serialization {

class XMLPacketSerializer final : public Serializer
{
public:
    // `formatVersion` is kept only; `targetVersion` 0 writes for no peer
    // version in particular.
    XMLPacketSerializer(int32_t formatVersion, int32_t targetVersion);
    ~XMLPacketSerializer() override;

    using Serializer::Write;
    void Write(const MetaInfo& meta, bool value) override;
    void Write(const MetaInfo& meta, char value) override;
    void Write(const MetaInfo& meta, const Common::Guid& value) override;
    void Write(const MetaInfo& meta, const Common::Error& value) override;
    void Write(const MetaInfo& meta, const std::u16string& value) override;
    void Write(const MetaInfo& meta, const uint32_t& value) override;
    void Write(const MetaInfo& meta, const double& value) override;
    void Write(const MetaInfo& meta, const uint64_t& value) override;
    void Write(const MetaInfo& meta, const int32_t& value) override;
    void Write(const MetaInfo& meta, const int64_t& value) override;
    void Write(const MetaInfo& meta, const std::string& value) override;
    void Write(const MetaInfo& meta, const int16_t& value) override;
    void Write(const MetaInfo& meta, const uint16_t& value) override;
    void Write(const MetaInfo& meta, const std::vector<unsigned char>& value) override;
    void Write(const MetaInfo& meta, const SharedData& value) override;

    // Receives the bytes of an array handed over piece by piece.
    class ByteSink
    {
    public:
        virtual void Write(const void* bytes, size_t size) = 0;

    protected:
        ~ByteSink() = default;
    };
    // Writes a byte array of `size` bytes as Write(meta, bytes) writes the
    // whole array (the same element, the same Base64 text), while `produce`
    // hands the bytes over to the sink it is given, exactly `size` of them:
    // the array itself is never held. The packet's room for the text is
    // taken at once.
    template <typename Produce>
    void WriteBytes(const MetaInfo& meta, uint64_t size, Produce produce);

    // Makes room for a packet of `bytes` bytes in all (head and end
    // included), at once: a packet within it is written without the buffer
    // growing, and one beyond the kept room is handed over by GetData as is.
    void Reserve(size_t bytes);

    void GetData(std::vector<unsigned char>& out) override;
    SharedData GetSharedData() override;

    using PacketBuffer = Detail::PacketText;

    MetaInfo GetCurrentMetaInfo() const override;
    void StartWriteMetaInfo(const MetaInfo& meta) override;
    void FinishWriteMetaInfo(const MetaInfo& meta) override;

    void SetContext(void* context) override;
    void* GetContext() const override;

private:
    // False when the descriptor is bound to a peer version other than ours.
    bool IsForTarget(const MetaInfo& meta) const;
    // False when a value written with the descriptor is dropped: refused for
    // its target version or inside a refused element.
    bool Writes(const MetaInfo& meta) const;
    // Opens the element, appends the text `appendValue` writes, closes it.
    template <typename AppendValue>
    void WriteElement(const MetaInfo& meta, AppendValue appendValue);
    void AppendStartTag(const MetaInfo& meta);
    void AppendEndTag(const std::string& name);
    void AppendTraits(const MetaInfoTraitList& traits);
    // Empties the packet buffer, keeping its room for the thread's next
    // serializer.
    void ReleaseBuffer();
    void AppendBase64(const unsigned char* data, uint64_t size);
    // Makes room for the Base64 text of `size` bytes and the end of the
    // element and packet behind it; the size checks of Write.
    bool StartBytes(const MetaInfo& meta, uint64_t size);
    // Appends the Base64 text of bytes handed over piece by piece.
    class Base64Sink;
    void WriteBytesElement(const MetaInfo& meta, void (*produce)(void* context, ByteSink& sink), void* context);
    void FinishPacket();

    PacketBuffer m_buffer;
    std::deque<std::string> m_names;
    int32_t m_formatVersion;
    int32_t m_targetVersion;
    void* m_context = nullptr;
    // Depth of open elements refused for their target version; while it is
    // not 0 nothing is written.
    uint64_t m_skipDepth = 0;
    // Set by Reserve: the writer gave the packet's size.
    bool m_sizeGiven = false;
};

// A new serializer, stored in `serializer`.
void CreateXMLPacketSerializer(std::unique_ptr<Serializer>& serializer, int32_t formatVersion, int32_t targetVersion);
std::unique_ptr<Serializer> CreateXMLPacketSerializer(int32_t formatVersion, int32_t targetVersion);

template <typename Produce>
void XMLPacketSerializer::WriteBytes(const MetaInfo& meta, uint64_t size, Produce produce)
{
    if (!StartBytes(meta, size))
        return;
    WriteBytesElement(
        meta, [](void* context, ByteSink& sink) { (*static_cast<Produce*>(context))(sink); }, &produce);
}

} // namespace Serialization
