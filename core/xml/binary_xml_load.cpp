#include "core/xml/binary_xml_load.h"

#include "core/xml/binary.h"
#include "core/xml/simple_reader.h"

bool load_binary_xml_document(xml_tag*& root, i_file& source)
{
    binary_reader sink(&root);
    return read_binary_xml(sink, source);
}
