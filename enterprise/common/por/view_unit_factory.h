// Por::GetViewUnitFactory: the unit factory of the object-representation
// library (its view-unit factory), a process-wide object that nobody deletes.
// Callers use it without a null test.
//
// Threading: any thread.
#pragma once

#include "enterprise/common/por/unit_factory.h"

namespace Por {

const Construction::UnitFactory* GetViewUnitFactory();

} // namespace Por
