// The stand-in's view-unit factory: a process-wide factory, never deleted,
// whose units are in-memory units, full units at all three levels.

#include "enterprise/common/por/in_memory_unit_factory.h"
#include "platform/objrep/por_view_unit_factory.h"

void GetPorViewUnitFactory(const Por::Construction::UnitFactory** factory)
{
    // Never deleted: units made by it may be used until the very end of the run.
    static const Por::Construction::UnitFactory* const viewFactory = new Por::Construction::InMemoryUnitFactory;
    *factory = viewFactory;
}
