// Por::Util::Assign: writes the value of a source unit into an existing target
// unit in place, keeping the target's structure and traits.
//
// Scalar and complex values are overwritten; an array's content is replaced by
// deep copies of the source's elements; a composite's properties are matched
// by name and assigned one by one, recursively (target properties the source
// lacks stay). Every source trait must have an equal counterpart on the target
// (0xFA0012, checked before the kinds), kinds must be equal (0xFA0011, no
// conversion), and every source property must exist on the target (0xFA0010).
// The whole source is checked before anything is written, so a rejected
// assign leaves the target as it was. Errors are thrown as Por::ModuleError.
// Assigning a unit onto itself changes nothing.
//
// Threading: runs on the caller's thread; no one else may touch the target.
#pragma once

#include "enterprise/common/por/unit_factory.h"

namespace Por::Util {

void Assign(Modification::Unit& target, const View::Unit& source, const Construction::UnitFactory& factory);

} // namespace Por::Util
