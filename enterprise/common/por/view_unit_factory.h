// Por::GetViewUnitFactory: the unit factory of the object-representation
// library (its view-unit factory), a process-wide object that nobody deletes.
// Callers use it without a null test.
//
// Wiring: the library keeps the factory but does not make its units; at the
// first call this installs a never-deleted in-memory unit factory at the
// library's registration point (SetPorViewUnitFactory, in
// platform/objrep/por_view_unit_factory.h), then asks the library's entry for
// it. Safe to call from static initializers.
//
// Threading: any thread.
#pragma once

#include "enterprise/common/por/unit_factory.h"

namespace Por {

const Construction::UnitFactory* GetViewUnitFactory();

} // namespace Por
