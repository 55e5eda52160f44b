// Readers of the binary XML form. A binary document is the signature "BXML",
// a version byte (1 or 2), a reserved byte and one root element; the readers
// turn it into the events of xml_reader_interface.
//
//   varint  unsigned 32-bit number, 7 bits per byte, least significant group
//           first, bit 7 set when another byte follows (at most 5 bytes)
//   name    varint id; a known id stands for its name, a new id is followed
//           by a varint byte length and the name's bytes (one dictionary per
//           document, shared by element and attribute names)
//
//   version 1 element: name, attribute count (byte), attributes (name and a
//     string: varint length and UTF-8 bytes), textCount (varint, at least 1),
//     text 0 (string), then textCount - 1 times a child and the string after it
//   version 2 element: name (id 0: no element here), attributes (name, or
//     id 0 to end the list, then a varint v, even, and v >> 1 UTF-8 bytes),
//     text item 0, then children each followed by a text item, ended by id 0.
//     A text item is a varint v and v >> 1 bytes: UTF-8 text for an even v,
//     narrow text for an odd one.
//
// A source may deliver fewer bytes per read than asked (a pipe, a socket):
// the reader asks again until all came or a read delivers nothing, so the
// sizes of the reads never change the result. Input that ends early leaves
// the end-of-file failure (0x40002) in the source's error slot; from then on
// every number reads as 0, so open lists and elements end. Input the reader
// refuses by itself stops the reading the same way without touching the
// source:
//   - a number longer than 32 bits;
//   - nesting deeper than kMaxXmlDepth;
//   - names repeated by id beyond kMaxNameRepeatFactor times the bytes read
//     plus kNameRepeatAllowance: a small input cannot repeat a long name into
//     gigabytes of tree, while packets of realistic size stay far below.
// Either makes the result false. Lengths are never trusted for allocation:
// bytes are taken in bounded chunks as they arrive. A version 2 attribute
// value with an odd length field is reported once per document.
//
// Threading: a reader lives for one call of read_binary_xml on one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "core/xml/xml_reader_interface.h"

class i_file;

inline constexpr uint64_t kMaxNameRepeatFactor = 64;
inline constexpr uint64_t kNameRepeatAllowance = 32ull << 20;

class xml_reader_core
{
public:
    xml_reader_core(i_file& source, xml_reader_interface& sink);
    virtual ~xml_reader_core();

    xml_reader_core(const xml_reader_core&) = delete;
    xml_reader_core& operator=(const xml_reader_core&) = delete;

    // Reads the root element between StartDocument and EndDocument. True
    // when the whole document was read.
    bool ReadDocument();

protected:
    // Reads one element at nesting level `depth` (the root is 1).
    virtual bool ReadElement(size_t depth) = 0;

    // True once the source holds a failure or the reader refused the input.
    bool Failed() const;
    // Marks the input as refused: every later read gives nothing.
    void Refuse() { m_refused = true; }
    bool Refused() const { return m_refused; }
    // Reports a version 2 attribute value with an odd length field, the first
    // time only.
    void ReportOddValueLength();
    // Set by a reader that ends the document without further events.
    void Stop() { m_stopped = true; }
    bool Stopped() const { return m_stopped; }

    // Reads `size` bytes, asking again after short deliveries; returns the
    // count that came (fewer only at the end of the input or on a failure).
    uint64_t ReadBytes(void* buffer, uint64_t size);
    uint32_t ReadVarint();
    uint8_t ReadByte();
    std::u16string ReadString();
    std::u16string ReadUtf8(uint32_t length);
    std::string ReadNarrow(uint32_t length);
    void ReadContentItem();
    // Reads a name into `name`. With `allowEnd`, id 0 answers false and
    // leaves `name` alone.
    bool ReadName(bool allowEnd, std::string& name);

    xml_reader_interface& Sink() { return *m_sink; }

private:
    i_file* m_source;
    xml_reader_interface* m_sink;
    std::map<uint32_t, std::string> m_names;
    // Bytes taken from the source, and bytes of names repeated by id.
    uint64_t m_consumed = 0;
    uint64_t m_repeated = 0;
    bool m_refused = false;
    bool m_stopped = false;
    bool m_oddValueReported = false;
};

class xml_reader_binary_old : public xml_reader_core
{
public:
    using xml_reader_core::xml_reader_core;

protected:
    bool ReadElement(size_t depth) override;
};

class xml_reader_binary_new : public xml_reader_core
{
public:
    using xml_reader_core::xml_reader_core;

protected:
    bool ReadElement(size_t depth) override;
};

// Reads the version and reserved bytes from `source` (standing right after
// "BXML") and, for version 1 or 2, the document, emitting its events to
// `sink`. False for any other version, for input that ends early and for
// input the reader refuses.
bool read_binary_xml(xml_reader_interface& sink, i_file& source);
