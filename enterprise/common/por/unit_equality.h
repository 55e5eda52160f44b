// Deep equality of units.
//
// Two units are equal when they are the same object, or when each one's traits
// are all found on the other (same name, unit-equal value) and their values are
// equal. Values are equal when they are of the same kind and equal by that
// kind's rule (Double by IEEE ==, so a NaN equals nothing; Error values when
// CompareErrors gives 0; arrays element by element; composites property by
// property); units of different kinds are never equal.
//
// Threading: only reads the units; safe on units no one changes meanwhile.
#pragma once

#include "enterprise/common/por/unit.h"

namespace Por::Util {

bool UnitsEqual(const View::Unit& a, const View::Unit& b);
// The values alone: the traits of a and b themselves are ignored (traits of
// nested elements and property values still count).
bool ValuesEqual(const View::Unit& a, const View::Unit& b);
bool TraitsEqual(const View::Unit& a, const View::Unit& b);
// Every trait of source has on target a trait of the same name whose value is
// unit-equal to it (existence, not multiplicity).
bool TraitsIncluded(const View::Unit& source, const View::Unit& target);

} // namespace Por::Util
