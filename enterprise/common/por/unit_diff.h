// The trait-marked diff of two units: the patch that turns an old unit into a
// new one, sent with "ObjectManager"."UpdateObject".
//
// The result holds only what changed; Nil-valued marker traits say how to
// read each piece:
// - "PackedDiff" on the top unit of every MakeDiff result, "EmptyDiff" on a
//   top Nil when the two units were equal;
// - a replacement (a unit of the new kind holding the new value, never the
//   new unit's own traits) where the value changed;
// - an Array of copies of the new elements marked "FullElementCopy", carrying
//   copies of the new array's traits and "FixedTraitedFullCopy", where two
//   arrays differ in any way;
// - a Composite holding one property per changed name where two composites
//   differ: the diff of the two values, a Nil marked "Removed", or a copy of
//   the new value marked "Added";
// - trait records for traits found on one side only: a trait of that name
//   whose value is a Composite marked "FullDiff" with "PreviousValue" and
//   "NewValue" (a Nil marked "Added" or "Removed" for the missing side); an
//   empty Composite marked "TraitsOnlyDiff" carries them where the value is
//   unchanged.
//
// Every unit of the result is new and comes from the given factory; the
// inputs are only read. Errors of the factory or of the unit operations pass
// through and everything built so far is released.
//
// Threading: the caller's thread; no shared state.
#pragma once

#include <memory>

#include "enterprise/common/por/unit_factory.h"

namespace Por::Util {

namespace DiffMarkers {
inline const Name kPackedDiff("PackedDiff");
inline const Name kEmptyDiff("EmptyDiff");
inline const Name kFullElementCopy("FullElementCopy");
inline const Name kFixedTraitedFullCopy("FixedTraitedFullCopy");
inline const Name kTraitsOnlyDiff("TraitsOnlyDiff");
inline const Name kFullDiff("FullDiff");
inline const Name kPreviousValue("PreviousValue");
inline const Name kNewValue("NewValue");
inline const Name kRemoved("Removed");
inline const Name kAdded("Added");
} // namespace DiffMarkers

// The diff: never null, always marked "PackedDiff".
std::unique_ptr<Construction::Unit> MakeDiff(const View::Unit& oldUnit, const View::Unit& newUnit,
                                             const Construction::UnitFactory& factory);
// The value diff with the trait changes applied; null when value and traits are equal.
std::unique_ptr<Construction::Unit> DiffUnits(const View::Unit& oldUnit, const View::Unit& newUnit,
                                              const Construction::UnitFactory& factory);
// A new Nil marked "EmptyDiff".
std::unique_ptr<Construction::Unit> MakeEmptyDiff(const Construction::UnitFactory& factory);
// The diff of the two values alone; null when they are equal.
std::unique_ptr<Construction::Unit> DiffValues(const View::Unit& oldUnit, const View::Unit& newUnit,
                                               const Construction::UnitFactory& factory);
// `valueDiff` (taken over, may be null) with the trait records of the two
// units added; null when neither differs.
std::unique_ptr<Construction::Unit> DiffTraits(const View::Unit& oldUnit, const View::Unit& newUnit,
                                               const Construction::UnitFactory& factory,
                                               std::unique_ptr<Construction::Unit> valueDiff);
// An Array of copies of the new elements marked "FullElementCopy", or null
// when the arrays are equal element by element.
std::unique_ptr<Construction::Unit> DiffArrays(const View::ArrayValue& oldArray, const View::ArrayValue& newArray,
                                               const Construction::UnitFactory& factory);
// A Composite of the changed properties, or null when there is none.
std::unique_ptr<Construction::Unit> DiffComposites(const View::CompositeValue& oldComposite,
                                                   const View::CompositeValue& newComposite,
                                                   const Construction::UnitFactory& factory);

} // namespace Por::Util
