// Test helpers that build binary XML documents byte by byte: numbers, names,
// strings and the header, as the binary readers expect them.
//
// Threading: plain functions; each call works on its own data.
#pragma once

#include <cstdint>
#include <string>

namespace BinaryXmlTest {

// Unsigned number in groups of 7 bits, the lowest first; the high bit of a
// byte says that another one follows.
inline std::string Varint(uint32_t value)
{
    std::string out;
    do {
        uint8_t byte = value & 0x7F;
        value >>= 7;
        if (value != 0)
            byte |= 0x80;
        out.push_back(static_cast<char>(byte));
    } while (value != 0);
    return out;
}

// A new name: id, length, bytes.
inline std::string Define(uint32_t id, const std::string& name)
{
    return Varint(id) + Varint(static_cast<uint32_t>(name.size())) + name;
}

// Version 1 string, version 2 attribute value, version 2 text items.
inline std::string String1(const std::string& utf8)
{
    return Varint(static_cast<uint32_t>(utf8.size())) + utf8;
}
inline std::string Value2(const std::string& utf8)
{
    return Varint(static_cast<uint32_t>(utf8.size()) << 1) + utf8;
}
inline std::string Narrow2(const std::string& bytes)
{
    return Varint((static_cast<uint32_t>(bytes.size()) << 1) | 1) + bytes;
}

// Signature, version and the reserved byte.
inline std::string Header(uint8_t version)
{
    return std::string("BXML") + static_cast<char>(version) + '\0';
}

} // namespace BinaryXmlTest
