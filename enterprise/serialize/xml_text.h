// The text rules of the XML packet: how a value text becomes element content
// that survives the white-space normalisation of the packet reader (which
// drops white space next to tags and merges runs of it outside CDATA, and
// drops CR inside CDATA).
//
// A text that holds an LF, no "]]>" and only TAB, LF and characters from
// U+0020 on (for UTF-16 also: no lone surrogate, no U+FFFE/U+FFFF) becomes one
// CDATA section with every LF written as CR LF. Any other text is written with
// references: controls (and, in UTF-16, lone surrogates and U+FFFE/U+FFFF) as
// "&#N;", "<" as "&lt;", "&" as "&amp;", a blank as "&#32;" unless it follows a
// character other than a plain blank and is not the last character; all else
// in UTF-8. 8-bit text is taken as Latin-1 (each byte one character).
//
// Threading: free functions without state.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace Serialization::Detail {

// Appends the content form of the text to `out`; an empty text appends nothing.
void AppendXmlText(std::string& out, const char* text, size_t length);
void AppendXmlText(std::string& out, const char16_t* text, size_t length);
void AppendXmlText(std::vector<unsigned char>& out, const char* text, size_t length);
void AppendXmlText(std::vector<unsigned char>& out, const char16_t* text, size_t length);

} // namespace Serialization::Detail
