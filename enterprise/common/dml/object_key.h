// Object keys. An object of the DML store is identified by its key: the unit
// inside it marked with the trait "PrimaryKey" (a Nil trait value marks the
// carrying unit as the key; any other trait value is itself the key).
//
// GetObjectKey walks the object level by level, so a shallower marker wins
// over a deeper one; the key refers into the object (valid while the object
// lives). An object without a marker throws 0xFC000A "DML: Object
// identification cannot be found." (get_object_key "GetObjectKey" 99, trace
// level 1). MakeKeyPattern turns a key into the pattern of a view that finds
// its object: a deep copy marked "PrimaryKey" (unless it already carries
// "PrimaryKey" or "ForeignKey") and always "ObjectID"; IsKeyPattern tells such
// a pattern by its "ObjectID", which no matcher operator uses.
//
// Threading: no state; the units must not change during a call.
#pragma once

#include <memory>

#include "enterprise/common/por/unit_factory.h"

namespace Dml {

const Por::View::Unit& GetObjectKey(const Por::View::Unit& object);
std::unique_ptr<Por::Construction::Unit> MakeKeyPattern(const Por::View::Unit& key,
                                                        const Por::Construction::UnitFactory& factory);
bool IsKeyPattern(const Por::View::Unit& pattern);
// Marks `unit` (taken over) as a key, see above, and gives it back.
std::unique_ptr<Por::Construction::Unit> EnsureKeyTrait(std::unique_ptr<Por::Construction::Unit> unit,
                                                        const Por::Construction::UnitFactory& factory);
// Adds a Nil trait "ObjectID" to `unit` (taken over), even when it has one.
std::unique_ptr<Por::Construction::Unit> AddObjectIdTrait(std::unique_ptr<Por::Construction::Unit> unit,
                                                          const Por::Construction::UnitFactory& factory);

} // namespace Dml
