#include "enterprise/common/dml/tools/objpatcher/state_patch.h"

#include "enterprise/common/por/unit_building_walker.h"
#include "enterprise/common/por/unit_copier.h"
#include "enterprise/common/por/unit_diff.h"

namespace Objpatcher {

std::shared_ptr<Por::Construction::Unit> MakeStatePatch(const Por::View::Unit& object, const Por::View::Unit& state,
                                                        const Por::Construction::UnitFactory& factory)
{
    std::unique_ptr<Por::Construction::Unit> desired = Por::Util::MergeUnit(Por::Util::CopyUnit(object, factory), state,
                                                                            factory);
    return Por::Util::MakeDiff(object, *desired, factory);
}

} // namespace Objpatcher
