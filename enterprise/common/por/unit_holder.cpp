#include "enterprise/common/por/unit_holder.h"

#include <cstring>

#include "core/common/location.h"
#include "enterprise/common/por/por_errors.h"
#include "enterprise/common/por/unit_accessor.h"

namespace Por::View {

namespace {

constexpr Common::SourceFile kSource("enterprise/common/por/unit_holder", 0x7511CF3635D2F8B0ull - 103);

// Hands on the traits whose name passes the sieve; the caller's processor
// can still stop the enumeration.
class FilteringTraitProcessor final : public ItemProcessor<const Trait>
{
public:
    FilteringTraitProcessor(const Name& name, bool exclude, ItemProcessor<const Trait>& target) noexcept
        : m_name(name), m_exclude(exclude), m_target(target)
    {
    }
    bool Process(const Trait& trait) override
    {
        const bool same = std::strcmp(trait.GetName().GetText(), m_name.GetText()) == 0;
        if (same == m_exclude)
            return false;
        return m_target.Process(trait);
    }

private:
    const Name& m_name;
    bool m_exclude;
    ItemProcessor<const Trait>& m_target;
};

} // namespace

void SieveTraits::ForEach(ItemProcessor<const Trait>& processor) const
{
    FilteringTraitProcessor filter(m_name, m_exclude, processor);
    m_inner->ForEach(filter);
}

void SieveTraits::ForEachNamed(const Name& name, ItemProcessor<const Trait>& processor) const
{
    FilteringTraitProcessor filter(m_name, m_exclude, processor);
    m_inner->ForEachNamed(name, filter);
}

SafeUnitHolder::SafeUnitHolder(std::shared_ptr<const Unit> unit) : m_owner(std::move(unit)), m_unit(m_owner.get())
{
    Validate();
}

SafeUnitHolder::SafeUnitHolder(const Unit& unit)
    : m_owner(static_cast<const ConstUnitAccessor&>(UnitAccessor(unit)).Get()), m_unit(m_owner.get())
{
    Validate();
}

void SafeUnitHolder::Validate() const
{
    if (!m_unit)
        Common::ThrowError(Common::Error(PorErrors::kEmptyUnitHolder, kSource.At("Validate", 103)));
}

} // namespace Por::View
