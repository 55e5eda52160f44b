// The registration point of the view-unit factory.

#include "platform/objrep/por_view_unit_factory.h"

#include <atomic>

namespace {

constinit std::atomic<const Por::Construction::UnitFactory*> g_viewUnitFactory{nullptr};

} // namespace

void GetPorViewUnitFactory(const Por::Construction::UnitFactory** factory)
{
    *factory = g_viewUnitFactory.load(std::memory_order_acquire);
}

void SetPorViewUnitFactory(const Por::Construction::UnitFactory* factory)
{
    g_viewUnitFactory.store(factory, std::memory_order_release);
}
