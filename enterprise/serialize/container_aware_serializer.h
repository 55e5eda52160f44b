// Serialization::ContainerAwareSerializer: an optional facet of a serializer
// that writes a whole container at once, found through Cast with the key
// "PN13Serialization24ContainerAwareSerializerE". Writers of sequences ask for
// it and fall back to the generic "vector"/"item" form when it is missing;
// the XML packet serializer does not offer it.
//
// Binary contract (ContainerAwareSerializer): declaration order is the binary order; never insert or reorder.
//
// Threading: as the serializer that offers it.
#pragma once

#include "enterprise/serialize/meta_info.h"
#include "enterprise/serialize/serializer.h"

namespace Serialization {

class ContainerAwareSerializer
{
public:
    // Writes the sequence element `meta` with the items that `items` yields.
    virtual void WriteSequence(const MetaInfo& meta, ContainerIterator& items) = 0;

protected:
    ~ContainerAwareSerializer() = default;
};

} // namespace Serialization
