// Three-way ordering of units: values first (different kinds by kind index),
// then the trait sets. Every answer is -1, 0 or 1.
//
// CompareUnits is what the pattern operators and the container comparisons
// call. Note that it is not a strict weak order: a Double NaN compares 1
// against anything in both directions, and the one-sided-name rules of
// composites and trait sets are not transitive. Code that needs a consistent
// sort key must not rely on it alone.
//
// Threading: only reads the units.
#pragma once

#include "enterprise/common/por/unit.h"

namespace Por::Util {

// 0 for the same object, else DoCompareUnits.
int CompareUnits(const View::Unit& left, const View::Unit& right);
// CompareValues, then CompareTraits when the values compare 0.
int DoCompareUnits(const View::Unit& left, const View::Unit& right);
// false for the same object, else DoCompareUnits == -1.
bool UnitLess(const View::Unit& left, const View::Unit& right);
int CompareValues(const View::Unit& left, const View::Unit& right);
int CompareTraits(const View::Unit& left, const View::Unit& right);

} // namespace Por::Util
