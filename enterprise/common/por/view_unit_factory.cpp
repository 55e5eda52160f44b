#include "enterprise/common/por/view_unit_factory.h"

#include "platform/objrep/por_view_unit_factory.h"

namespace Por {

const Construction::UnitFactory* GetViewUnitFactory()
{
    const Construction::UnitFactory* factory = nullptr;
    GetPorViewUnitFactory(&factory);
    return factory;
}

} // namespace Por
