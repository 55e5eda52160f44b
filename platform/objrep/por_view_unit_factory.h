// The object-representation library's view-unit factory, the unit factory of
// the DML data store.
//
// GetPorViewUnitFactory stores into *factory the factory installed with
// SetPorViewUnitFactory, or null while none is installed. The installed factory
// is process-wide and stays valid for the whole run.
//
// Wiring: the factory's units are the object model's, so in this stand-in the
// object model supplies them: Por::GetViewUnitFactory
// (enterprise/common/por/view_unit_factory.h) installs its never-deleted
// in-memory factory here at its first call, before it asks, and callers reach
// the factory through it. This library only keeps the pointer and knows the
// factory type by name alone.
//
// Threading: any thread; an installation is seen by every later call on any
// thread.
#pragma once

namespace Por::Construction {
class UnitFactory;
}

void GetPorViewUnitFactory(const Por::Construction::UnitFactory** factory);

// Installs `factory` (never deleted by this library; the caller keeps it alive
// for the whole run) as the view-unit factory, in place of any earlier one.
void SetPorViewUnitFactory(const Por::Construction::UnitFactory* factory);
