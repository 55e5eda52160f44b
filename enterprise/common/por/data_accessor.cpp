#include "core/common/location.h"
#include "enterprise/common/por/map_lookup.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/por_errors.h"
#include "enterprise/common/por/unit_accessor.h"

namespace Por {

namespace {
constexpr Common::SourceFile kSource("enterprise/common/por/data_accessor", 0x3053184f553756d6ull - 70);
} // namespace

DataAccessor DataAccessor::GetChild(const Name& key) const
{
    return DataAccessor(FindMapElement(m_unit, key));
}

Construction::Unit& DataAccessor::GetUnit() const
{
    if (!m_unit)
        ThrowModuleError(PorErrors::kArrayElementNotFound, PorErrors::kArrayElementNotFoundText,
                         kSource.At("EnsureUnitIsValid", 70));
    return *m_unit;
}

} // namespace Por
