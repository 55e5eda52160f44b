// In-memory input files made from the Base64 text of an XML element: the
// packet reader turns byte values (error blobs, byte vectors, shared byte
// blocks) into a random-access file over the decoded bytes.
//
// Threading: a file is used by one thread at a time.
#pragma once

#include <memory>

#include "core/include/file/file.h"
#include "core/xml/xml_tag.h"

namespace Serialization {

// A file over the bytes that the element's text (its first text piece)
// decodes to, standing at position 0, or null when the text is not valid
// Base64 (the caller decides what to raise). The file reads nothing once its
// error slot holds a failure.
std::unique_ptr<ri_file> CreateMemoryFile(const xml_tag& element);

} // namespace Serialization
