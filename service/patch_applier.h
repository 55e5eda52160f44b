// The stand-in service's application of a patch made by the trait-marked
// diff (Por::Util::MakeDiff): the inverse of the diff.
//
// ApplyPatch(old, patch) gives a new unit equal to the unit the patch was made
// for. The patch must carry "PackedDiff"; "EmptyDiff" gives a copy of the old
// unit. Below the top, a unit of the patch is read as:
// - "FullElementCopy" with "FixedTraitedFullCopy": an Array of copies of its
//   elements with its own traits less these markers;
// - "TraitsOnlyDiff" (an empty Composite): the old unit, with the records;
// - a Composite over an old Composite: a composite diff. A property present in
//   the old unit is removed by a Nil marked "Removed" and patched recursively
//   otherwise; a property missing there is added from a value marked "Added"
//   (less that marker);
// - anything else: a replacement, its value with the old traits, then the
//   records.
// Trait records (traits whose value is a Composite marked "FullDiff" with
// "PreviousValue" and "NewValue") remove first, each one trait of its name
// whose value equals "PreviousValue" (a NaN equal to a NaN), then add.
//
// Any other trait on a diff unit, a record or property that does not fit the
// old unit, and an array copy without "FixedTraitedFullCopy" raise
// 0xFC0F00 "The patch does not fit the object: <reason>.".
//
// A marker is a trait whose value is a Nil without traits; a trait of a
// marker's name holding anything else is data and is kept. The format cannot
// tell a marker from data that looks exactly like one: a new property whose
// value carries a bare Nil trait "Added", a changed array carrying a bare Nil
// trait "FullElementCopy" or "FixedTraitedFullCopy" (or "PackedDiff" at the
// top), or a trait whose value is a Nil carrying only "Added" or "Removed",
// reads back without that trait or as the other kind of record. Such values do
// not survive a diff and its application.
//
// Threading: the caller's thread; reads its inputs only.
#pragma once

#include <memory>

#include "enterprise/common/por/unit_factory.h"

namespace Service {

std::unique_ptr<Por::Construction::Unit> ApplyPatch(const Por::View::Unit& oldUnit, const Por::View::Unit& patch,
                                                    const Por::Construction::UnitFactory& factory);

} // namespace Service
