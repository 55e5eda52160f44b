// Loading of one XML document into an xml_tag tree. Text XML (UTF-8, with or
// without byte-order mark) is read by xml_text_tokenizer and build_xml_tree;
// a document that starts with the four bytes "BXML" is handed to the binary
// XML reader, which fills the same tree.
//
// Text in memory (a buf_ifile itself) is copied once into the document's
// store and read there; the tree's names and plain texts are that copy's
// bytes. A broken text document gives false together with the line and
// column where the reader stood; no message and no code. Element nesting is bounded by
// kMaxXmlDepth levels: a deeper document fails like any broken one.
//
// Threading: no process-wide state; loads on different threads need no lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/xml/xml_tag.h"
#include "core/xml/xml_text_tokenizer.h"

class i_file;

// Deepest element nesting that the text reader accepts (the root is level 1).
inline constexpr size_t kMaxXmlDepth = 1000;

// Frees the tree that `root` holds (contents and root object) and clears the
// slot, then reads one document from `source` into it. True when a complete
// document was read and the source recorded no failure. `line` (1-based) and
// `column` (1-based) receive the reader's position in every case; for binary
// input they are 1 and 1. On failure a partly built tree may stay in the slot
// for its owner to free.
//
// Text read from a memory file (buf_ifile<char>) is copied into the tree's
// store, unless `text` is XmlText::Borrowed: the tree then refers to the
// file's bytes where they lie, and those must outlive it.
enum class XmlText
{
    Copied,
    Borrowed,
};
bool load_xml_document(xml_tag*& root, i_file& source, int32_t& line, int32_t& column, XmlText text = XmlText::Copied);

// Reads the rest of `element`, whose start tag the tokenizer stands on:
// attributes, then content up to the matching end tag. `preserve` is the
// white-space setting inherited from the enclosing element. The tokenizer is
// left on the token after the element.
bool build_xml_tree(xml_tag* element, xml_text_tokenizer& tokenizer, bool preserve);
