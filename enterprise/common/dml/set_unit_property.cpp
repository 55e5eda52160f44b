#include "enterprise/common/dml/set_unit_property.h"

#include "enterprise/common/por/path_utils.h"
#include "enterprise/common/por/unit_copier.h"
#include "enterprise/common/por/unit_holder.h"
#include "enterprise/common/por/utils.h"

namespace Por {

void SetUnitProperty(const View::Unit* value, Construction::Unit& target, const Name& name,
                     const Construction::UnitFactory& factory)
{
    std::unique_ptr<Construction::Unit> newValue = value ? Util::CopyUnit(*value, factory) : factory.CreateComposite();
    if (const Construction::Unit* oldValue = Util::FindUnitByPath(&target, Util::MakePropertyPath(name))) {
        const View::ExcludeTraitUnit withoutEmptyMark(*oldValue, "IsEmpty");
        const View::ExcludeTraitUnit carried(withoutEmptyMark, "ptr_mark");
        Util::ApplyMissingSourceTraits(carried, *newValue, factory);
    }
    Util::RemoveProperty(target, name);
    Util::AddProperty(target, name, std::move(newValue), factory);
}

} // namespace Por
