#include "enterprise/common/por/view_unit_factory.h"

#include "enterprise/common/por/in_memory_unit_factory.h"
#include "platform/objrep/por_view_unit_factory.h"

namespace Por {

const Construction::UnitFactory* GetViewUnitFactory()
{
    // Installed once, before the first request asks the library. A function
    // static, so this works from any static initializer; never deleted, as
    // units made by it may be used until the very end of the run.
    static const bool installed = [] {
        SetPorViewUnitFactory(new Construction::InMemoryUnitFactory);
        return true;
    }();
    (void)installed; // only its initialization matters
    const Construction::UnitFactory* factory = nullptr;
    GetPorViewUnitFactory(&factory);
    return factory;
}

} // namespace Por
