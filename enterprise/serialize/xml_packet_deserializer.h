// The XML packet deserializer, the Deserializer behind every packet read: it
// parses a whole packet (text XML, or the binary form that starts with
// "BXML") into an element tree when it is built, then walks the tree as the
// caller asks for elements by descriptor.
//
// Lookup: entering an element takes the next child of the current element
// when its name matches; otherwise, unless the descriptor asks for strict
// order, the first child of that name in document order. Either way the
// cursor of the current element has moved past one child. A search costs
// the same however many children the element has: the first search builds an
// index of the first child of each name. Each entered
// element carries a version: its "version" attribute when that reads as a
// number other than 0, else the version of its parent (the initial version at
// the top level).
//
// A packet that does not load does not fail the construction: the failure is
// reported as an assertion and every later call that needs an element raises.
// Failures are raised as Common::Error (serialization_errors.h: kInconsistentMeta,
// kNoMeta, kNoData).
//
// Implemented in xml_serializer.cpp: its errors are located in that source
// file, whose published line numbers they carry.
//
// Threading: one thread at a time per deserializer; no shared state.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/include/file/file.h"
#include "core/xml/xml_tag.h"
#include "enterprise/serialize/byte_source.h"
#include "enterprise/serialize/deserializer.h"

namespace Serialization {

class XMLPacketDeserializer final : public Deserializer
{
public:
    // How the tree holds the packet's text: a copy of its own, or the
    // caller's bytes where they lie (they must then outlive the deserializer).
    enum class Text
    {
        Copied,
        Borrowed,
    };

    // Parses `size` bytes at `bytes`; with Text::Copied the bytes are not kept.
    XMLPacketDeserializer(const void* bytes, uint64_t size, uint64_t initialVersion, Text text = Text::Copied);
    ~XMLPacketDeserializer() override;

    XMLPacketDeserializer(const XMLPacketDeserializer&) = delete;
    XMLPacketDeserializer& operator=(const XMLPacketDeserializer&) = delete;

    void Read(const MetaInfo& meta, bool& value) override;
    void Read(const MetaInfo& meta, char& value) override;
    void Read(const MetaInfo& meta, Common::Guid& value) override;
    void Read(const MetaInfo& meta, Common::Error& value) override;
    void Read(const MetaInfo& meta, std::u16string& value) override;
    void Read(const MetaInfo& meta, uint32_t& value) override;
    void Read(const MetaInfo& meta, double& value) override;
    void Read(const MetaInfo& meta, uint64_t& value) override;
    void Read(const MetaInfo& meta, int32_t& value) override;
    void Read(const MetaInfo& meta, int64_t& value) override;
    void Read(const MetaInfo& meta, std::string& value) override;
    void Read(const MetaInfo& meta, int16_t& value) override;
    void Read(const MetaInfo& meta, uint16_t& value) override;
    void Read(const MetaInfo& meta, std::vector<unsigned char>& value) override;
    void Read(const MetaInfo& meta, SharedData& value) override;

    MetaInfo GetCurrentMetaInfo() const override;
    void StartReadMetaInfo(const MetaInfo& meta) override;
    void FinishReadMetaInfo(const MetaInfo& meta) override;
    uint64_t GetSubjectVersion() const override;

    // Reads the byte array `meta` as Read does, with the same errors, but
    // hands `consume` a source that decodes the element's Base64 text as it
    // is read instead of a decoded copy. The text is checked whole before
    // `consume` runs. Errors of `consume` pass through.
    template <typename Consume>
    void ReadBytes(const MetaInfo& meta, Consume consume);

private:
    void ReadBytesElement(const MetaInfo& meta, void (*consume)(void* context, ByteSource& source), void* context);

    // First child of each name, built at the first search among the
    // children of one element; the names stay in the tree.
    using NameIndex = std::unordered_map<std::string_view, xml_tag*>;

    // Walks the children of one element.
    struct Cursor
    {
        xml_tag* const* first;
        xml_tag* const* next;
        xml_tag* const* end;
        std::unique_ptr<NameIndex> index;
    };

    // Owns the parsed tree.
    struct Document
    {
        xml_tag* root = nullptr;
        ~Document();
    };

    static Cursor CursorOver(const xml_tag& element);
    xml_tag* Child(const MetaInfo& meta);
    void UpdateMetainfoVersion();
    void ReleaseMetainfoVersion();

    // Opens the element for a value read, hands the current element to
    // `convert` and leaves it again.
    template <typename Convert>
    void ReadValue(const MetaInfo& meta, uint32_t line, Convert convert);
    // The bytes that the Base64 text of the current element decodes to, in a
    // new block; `count` receives how many. `line` locates the error for a
    // text that is not Base64.
    std::unique_ptr<unsigned char[]> DecodeBytes(uint32_t line, size_t& count) const;
    // The same into `out`, which has room for Base64DecodedCapacity of the
    // text's length; returns how many bytes it wrote.
    size_t DecodeBytesInto(unsigned char* out, uint32_t line) const;

    Document m_document;
    xml_tag* m_root = nullptr;
    xml_tag* m_current = nullptr;
    std::deque<uint64_t> m_versions;
    std::vector<Cursor> m_cursors;
};

template <typename Consume>
void XMLPacketDeserializer::ReadBytes(const MetaInfo& meta, Consume consume)
{
    ReadBytesElement(
        meta, [](void* context, ByteSource& source) { (*static_cast<Consume*>(context))(source); }, &consume);
}

// A new deserializer over the packet, stored in `deserializer`.
void CreateXMLPacketDeserializer(std::unique_ptr<Deserializer>& deserializer, const void* bytes, uint64_t size,
                                 uint64_t initialVersion);

} // namespace Serialization
