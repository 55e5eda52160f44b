// Entry of the binary XML form into the document loader: reads a binary
// document into the root slot, the source standing right after "BXML".
//
// Threading: as load_xml_document.
#pragma once

#include "core/xml/xml_tag.h"

class i_file;

// Builds the tree of the binary document that follows the signature in
// `source` into `root` (which the caller has cleared). True when the whole
// document was read.
bool load_binary_xml_document(xml_tag*& root, i_file& source);
