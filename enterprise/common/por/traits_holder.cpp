#include "enterprise/common/por/traits_holder.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "core/common/location.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/por_errors.h"
#include "enterprise/common/por/unit_equality.h"
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
        for (View::Trait* trait : m_traits->sorted)
            delete trait;
        for (View::Trait* trait : m_traits->waiting)
            delete trait;
    }
}

bool TraitsHolder::KeyLess::operator()(const View::Trait* left, const View::Trait* right) const
{
    return Util::CompareTraitKeys(*left, *right) < 0;
}

TraitsHolder::TraitVector* TraitsHolder::Sorted() const
{
    if (!m_traits)
        return nullptr;
    Store& store = *m_traits;
    store.merge.Settle([&store] {
        // Into a new vector, so that a failing comparison or allocation leaves
        // the set as it was. Waiting traits arrived after every sorted one:
        // among equal keys the sorted ones stay first.
        TraitVector merged;
        merged.reserve(store.sorted.size() + store.waiting.size());
        std::merge(store.sorted.begin(), store.sorted.end(), store.waiting.begin(), store.waiting.end(),
                   std::back_inserter(merged), KeyLess());
        store.sorted.swap(merged);
        store.waiting.clear();
    });
    return &store.sorted;
}

std::pair<size_t, size_t> TraitsHolder::FindNamed(const TraitVector& traits, const char* name) noexcept
{
    const auto begin = traits.begin();
    const auto first = std::lower_bound(begin, traits.end(), name, [](const auto& trait, const char* text) {
        return CompareTraitName(trait, text) < 0;
    });
    const auto last = std::upper_bound(first, traits.end(), name, [](const char* text, const auto& trait) {
        return CompareTraitName(trait, text) > 0;
    });
    return {static_cast<size_t>(first - begin), static_cast<size_t>(last - begin)};
}

void TraitsHolder::ForEach(ItemProcessor<const View::Trait>& processor) const
{
    const TraitVector* traits = Sorted();
    if (!traits)
        return;
    for (const auto& trait : *traits) {
        if (processor.Process(*trait))
            return;
    }
}

void TraitsHolder::ForEachNamed(const Name& name, ItemProcessor<const View::Trait>& processor) const
{
    const TraitVector* traits = Sorted();
    if (!traits)
        return;
    const auto [first, last] = FindNamed(*traits, name.GetText());
    for (size_t i = first; i < last; ++i) {
        if (processor.Process(*(*traits)[i]))
            return;
    }
}

void TraitsHolder::Add(std::unique_ptr<View::Trait>&& trait)
{
    if (!trait)
        ThrowModuleError(PorErrors::kNullUnit, PorErrors::kNullUnitText, kSource.At("Add", 109));
    if (!m_traits)
        m_traits = std::make_unique<Store>();
    Store& store = *m_traits;
    const size_t slot = Util::FindTraitSlot(store.sorted, *trait);
    if (slot == Util::kTraitPresent) {
        trait.reset(); // already present: the set takes the new trait and deletes it
        return;
    }
    if (slot == store.sorted.size() && store.waiting.empty()) {
        store.sorted.push_back(trait.get()); // in order: no merge needed
        (void)trait.release();               // owned by the vector now
        return;
    }
    const auto [first, last] = store.waiting.equal_range(trait.get());
    for (auto waiting = first; waiting != last; ++waiting) {
        if (Util::UnitsEqual((*waiting)->GetValue(), trait->GetValue())) {
            trait.reset(); // already present, waiting
            return;
        }
    }
    store.waiting.insert(last, trait.get()); // after its equals: in order of arrival
    (void)trait.release();                   // owned by the multiset now
    store.merge.Raise();
}

unsigned int TraitsHolder::Remove(const Name& name)
{
    TraitVector* traits = Sorted();
    if (!traits)
        return 0;
    const auto [first, last] = FindNamed(*traits, name.GetText());
    if (first == last)
        return 0;
    const auto begin = traits->begin();
    for (size_t i = first; i < last; ++i)
        delete (*traits)[i];
    traits->erase(begin + static_cast<std::ptrdiff_t>(first), begin + static_cast<std::ptrdiff_t>(last));
    return static_cast<unsigned int>(last - first);
}

} // namespace Por
