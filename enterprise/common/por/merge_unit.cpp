#include "core/common/location.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/por_errors.h"
#include "enterprise/common/por/unit_building_walker.h"
#include "enterprise/common/por/utils.h"
#include "enterprise/common/por/value_type_index.h"

namespace Por::Util {

namespace {
constexpr Common::SourceFile kSource("enterprise/common/por/merge_unit");
} // namespace

std::unique_ptr<Construction::Unit> MergeUnit(std::unique_ptr<Construction::Unit>&& target, const View::Unit& source,
                                              const Construction::UnitFactory& factory)
{
    std::unique_ptr<Construction::Unit> taken = std::move(target);
    // An Array root merges only with an Array root: refuse before any change.
    if (taken && GetValueTypeIndex(*taken) != static_cast<int>(ValueKind::Nil) && IsArray(*taken) != IsArray(source))
        ThrowModuleError(PorErrors::kDifferentTypes, PorErrors::kDifferentTypesText, kSource.At("MergeUnit", __LINE__));
    UnitAccumulator accumulator(std::move(taken), factory);
    UnitBuildingWalker walker(&accumulator);
    WalkValueFirstGuide guide;
    WalkHierarchy(source, guide, walker);
    return accumulator.TakeUnit();
}

} // namespace Por::Util
