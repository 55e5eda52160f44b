// Pattern matching: whether a unit matches a pattern unit.
//
// A pattern's traits name operators ("Like", "Between", "In", "Not", "Or", ...;
// 20 in all) and each trait's value is the operator's operand. A bare Nil
// pattern matches every unit; otherwise the kinds must agree. A pattern with
// traits is judged by its operators (and, for a Composite, its properties); a
// pattern without traits asks for an equal value, a Composite one for each of
// its properties to be matched by the unit's property of the same name.
// Errors are Por::ModuleError 0xFA000E (an unknown operator name, a "Between"
// range of two kinds, a non-String "Like" or "DirectRelative" operand, a
// "HasIntersection" over non-Arrays) or the keyed accessor's 0xFA0020.
//
// Threading: the operator table is read-only; matches may run concurrently
// over units that do not change.
#pragma once

#include "enterprise/common/por/unit.h"

namespace Por {

bool MatchUnit(const View::Unit& unit, const View::Unit& pattern);

} // namespace Por
