// Number texts of XML packet values, read the lenient way the packet reader
// reads them: leading white space is skipped, an optional sign is taken,
// decimal digits are read up to the first other character. No digit gives 0,
// a value out of range gives the largest (smallest) value of the type, a
// negative text read as unsigned wraps modulo 2^64. The narrow types keep
// the low bits of the 64-bit result, so every value the packet writer prints
// comes back unchanged.
//
// The text (UTF-16 units, or bytes each one unit) is narrowed first: cut at
// its first U+0000 unit, each unit to its low 8 bits. Doubles are read in the "C" locale whatever the process locale
// is; a text without a number leaves the value as it was.
//
// Threading: free functions without state; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/xml/xml_tag.h"

namespace Serialization {

void ParseUInt64(const xml_text& text, uint64_t& value);
void ParseInt64(const xml_text& text, int64_t& value);
void ParseDouble(const xml_text& text, double& value);
void ParseBool(const xml_text& text, bool& value);
void ParseChar(const xml_text& text, char& value);
void ParseUInt32(const xml_text& text, uint32_t& value);
void ParseUInt16(const xml_text& text, uint16_t& value);
void ParseInt32(const xml_text& text, int32_t& value);
void ParseInt16(const xml_text& text, int16_t& value);

// The text cut at its first U+0000 unit, each unit reduced to its low 8 bits
// (so it also ends at a unit whose low 8 bits are 0).
std::string NarrowText(const xml_text& text);

// The same narrowed text, 0-ended, held on the stack when it is as short as
// value texts are.
class NarrowedText
{
public:
    explicit NarrowedText(const xml_text& text);
    NarrowedText(const NarrowedText&) = delete;
    NarrowedText& operator=(const NarrowedText&) = delete;

    const char* c_str() const { return m_text; }
    size_t size() const { return m_length; }

private:
    char m_small[64];
    std::string m_large;
    const char* m_text;
    size_t m_length;
};

} // namespace Serialization
