// Por::SetUnitProperty: replaces a unit-valued property of a Composite with a
// deep copy of a unit, keeping the old value's traits that the new one lacks
// (except "IsEmpty" and "ptr_mark"); a null unit stores an empty Composite.
//
// Threading: the caller's thread, over units the caller owns.
#pragma once

#include "enterprise/common/por/unit_factory.h"

namespace Por {

void SetUnitProperty(const View::Unit* value, Construction::Unit& target, const Name& name,
                     const Construction::UnitFactory& factory);

} // namespace Por
