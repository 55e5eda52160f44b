// A total order of units, the sort key of trait sets.
//
// CompareUnits (unit_ordering.h) is no strict weak order: a Double NaN compares
// 1 against anything in both directions, the rules for properties or traits
// found on one side only are cyclic ({c} < {b,c} < {b,d} < {c}), and error
// integer parameters compare by a wrap-around difference. A sorted container
// keyed by it can misplace or drop entries. CompareUnitKeys orders the same way
// wherever CompareUnits is consistent, and is a total order everywhere:
// - values first, different kinds by kind index, each kind as CompareUnits
//   orders it, except that NaN orders after every number (all NaNs alike) and
//   error integer parameters compare as unsigned numbers (greater first);
// - composites by their sorted property names (lexicographically, a prefix
//   first), then by the property values in name order;
// - arrays by element count, then element by element;
// - then the trait sets, each taken as its sorted set of distinct (name, value)
//   pairs, compared lexicographically, a prefix first.
// Units that are UnitsEqual compare 0. Units that compare 0 are UnitsEqual
// unless a Double NaN takes part, which UnitsEqual never finds equal.
//
// A sorted trait set keeps its traits sorted by CompareTraitKeys and treats a
// new trait as present when a trait of equal key has a UnitsEqual value
// (FindTraitSlot): no distinct trait is ever dropped or misplaced.
//
// Threading: only reads the units.
#pragma once

#include <cstddef>
#include <span>

#include "enterprise/common/por/unit.h"

namespace Por::Util {

int CompareUnitKeys(const View::Unit& left, const View::Unit& right);
// Names by strcmp, then CompareUnitKeys of the values.
int CompareTraitKeys(const View::Trait& left, const View::Trait& right);

inline constexpr size_t kTraitPresent = static_cast<size_t>(-1);

// Where `trait` goes in `traits` (sorted by CompareTraitKeys): the index to
// insert it at (after its equals, by bisection), or kTraitPresent when a trait
// of the same name with a UnitsEqual value is there already.
size_t FindTraitSlot(std::span<const View::Trait* const> traits, const View::Trait& trait);

} // namespace Por::Util
