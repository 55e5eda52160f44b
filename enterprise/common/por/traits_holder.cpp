#include "enterprise/common/por/traits_holder.h"

#include <algorithm>
#include <cstring>

#include "core/common/location.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/por_errors.h"
#include "enterprise/common/por/unit_order_key.h"

namespace Por {

namespace {

constexpr Common::SourceFile kSource("enterprise/common/por/traits_holder", 0x5cd0989439b91bd0);

int CompareTraitName(const View::Trait* trait, const char* name) noexcept
{
    return std::strcmp(trait->GetName().GetText(), name);
}

} // namespace

TraitsHolder::~TraitsHolder()
{
    if (m_traits) {
        for (View::Trait* trait : *m_traits)
            delete trait;
    }
}

std::pair<size_t, size_t> TraitsHolder::FindNamed(const char* name) const noexcept
{
    if (!m_traits)
        return {0, 0};
    const auto begin = m_traits->begin();
    const auto first = std::lower_bound(begin, m_traits->end(), name, [](const auto& trait, const char* text) {
        return CompareTraitName(trait, text) < 0;
    });
    const auto last = std::upper_bound(first, m_traits->end(), name, [](const char* text, const auto& trait) {
        return CompareTraitName(trait, text) > 0;
    });
    return {static_cast<size_t>(first - begin), static_cast<size_t>(last - begin)};
}

void TraitsHolder::ForEach(ItemProcessor<const View::Trait>& processor) const
{
    if (!m_traits)
        return;
    for (const auto& trait : *m_traits) {
        if (processor.Process(*trait))
            return;
    }
}

void TraitsHolder::ForEachNamed(const Name& name, ItemProcessor<const View::Trait>& processor) const
{
    const auto [first, last] = FindNamed(name.GetText());
    for (size_t i = first; i < last; ++i) {
        if (processor.Process(*(*m_traits)[i]))
            return;
    }
}

void TraitsHolder::Add(std::unique_ptr<View::Trait>&& trait)
{
    if (!trait)
        ThrowModuleError(PorErrors::kNullUnit, PorErrors::kNullUnitText, kSource.At("Add", 109));
    if (!m_traits)
        m_traits = std::make_unique<TraitVector>();
    const size_t slot = Util::FindTraitSlot(*m_traits, *trait);
    if (slot == Util::kTraitPresent) {
        trait.reset(); // already present: the set takes the new trait and deletes it
        return;
    }
    m_traits->insert(m_traits->begin() + static_cast<std::ptrdiff_t>(slot), trait.get());
    (void)trait.release(); // owned by the vector now
}

unsigned int TraitsHolder::Remove(const Name& name)
{
    const auto [first, last] = FindNamed(name.GetText());
    if (first == last)
        return 0;
    const auto begin = m_traits->begin();
    for (size_t i = first; i < last; ++i)
        delete (*m_traits)[i];
    m_traits->erase(begin + static_cast<std::ptrdiff_t>(first), begin + static_cast<std::ptrdiff_t>(last));
    return static_cast<unsigned int>(last - first);
}

} // namespace Por
