// The object-representation library's entry to its view-unit factory, the unit
// factory of the DML data store.
//
// GetPorViewUnitFactory stores into *factory a process-wide factory that
// implements every creator of the unit factory interface and stays valid for
// the whole run; it never stores null. The stand-in (platform/objrep/view,
// library platform_objrep_view) builds on the object model's units, so it lies
// above enterprise/common/por: a program that reaches this entry (through
// Por::GetViewUnitFactory) links platform_objrep_view.
//
// Threading: any thread; the factory is stateless.
#pragma once

namespace Por::Construction {
class UnitFactory;
}

void GetPorViewUnitFactory(const Por::Construction::UnitFactory** factory);
