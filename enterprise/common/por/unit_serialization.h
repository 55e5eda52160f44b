// The unit serialization bridge: how units travel inside XML packets.
//
// SerializeUnit writes the current element of a serializer: through its
// unit-aware facet when it offers one (Por::Serialization::PorAwareSerializer,
// found by its lookup name), else as the Boolean "is_empty" and, for a unit,
// its binary unit form as the byte array "value". DeserializeUnit reads the
// same back (a unit-aware deserializer's facet, else "is_empty" and "value")
// and builds the unit with the process-wide in-memory factory; "is_empty"
// left true, or an empty "value", gives no unit. Both pass an XML packet's
// form piece by piece, never held whole: the writer into the Base64 text, the
// reader from the text checked whole first (its errors come before any of
// the form's). Neither opens an element of
// its own. Errors of the (de)serializer and of the binary form pass through;
// the shared-pointer DeserializeUnit then leaves the caller's pointer as it
// was.
//
// Declaration order of the facets is the binary order; never insert or
// reorder.
// Threading: the caller's thread, with the (de)serializer the caller owns.
#pragma once

#include <memory>

#include "enterprise/common/por/unit.h"
#include "enterprise/serialize/deserializer.h"
#include "enterprise/serialize/serializer.h"

namespace Por::Serialization {

class PorAwareSerializer : public ::Serialization::Serializer
{
public:
    // Writes the whole unit (null: no unit).
    virtual ::Serialization::Serializer& WriteUnit(const ::Serialization::MetaInfo& meta, const View::Unit* unit) = 0;
};

class PorAwareDeserializer : public ::Serialization::Deserializer
{
public:
    // Reads the whole unit into `unit` (null: no unit).
    virtual void ReadUnit(const ::Serialization::MetaInfo& meta, std::unique_ptr<Construction::Unit>& unit) = 0;
};

// The element descriptors "is_empty" and "value", built at start-up.
extern const ::Serialization::MetaInfo kIsEmptyMetaInfo;
extern const ::Serialization::MetaInfo kValueMetaInfo;

::Serialization::Serializer& SerializeUnit(::Serialization::Serializer& serializer, const View::Unit* unit);
::Serialization::Serializer& SerializeUnit(::Serialization::Serializer& serializer,
                                           const std::shared_ptr<const View::Unit>& unit);

std::unique_ptr<Construction::Unit> DeserializeUnit(::Serialization::Deserializer& deserializer);
::Serialization::Deserializer& DeserializeUnit(::Serialization::Deserializer& deserializer,
                                               std::shared_ptr<Construction::Unit>& unit);

} // namespace Por::Serialization
