// Por::TraitsHolder: the in-memory trait set.
//
// The traits are kept in one vector, allocated on the first Add (an empty set
// allocates nothing), sorted by Por::Util::CompareTraitKeys: by name (strcmp),
// then by a total order of the values that agrees with the unit order wherever
// that one is consistent. Traits of one name are therefore adjacent, in the
// unit order of their values, and traits of equal keys in their order of
// arrival. A trait whose name and value are equal (Por::Util::UnitsEqual,
// traits of the value included) to one already present is taken over and
// deleted; any other trait is kept, so no distinct trait is ever dropped or
// misplaced.
//
// A trait that would be inserted before the last one waits in a multiset by
// key instead, and the next read merges the waiting traits into the vector in
// one pass, so that building costs n log n in any order of arrival.
//
// Threading: none for writers; readers of a trait set nobody writes may run at
// once (see Por::DeferredMerge).
#pragma once

#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "enterprise/common/por/deferred_merge.h"
#include "enterprise/common/por/unit.h"

namespace Por {

class TraitsHolder final : public Construction::Traits
{
public:
    TraitsHolder() noexcept = default;
    ~TraitsHolder() override;

    void ForEach(ItemProcessor<const View::Trait>& processor) const override;
    void ForEachNamed(const Name& name, ItemProcessor<const View::Trait>& processor) const override;
    // A null trait raises Por::ModuleError 0xFA000B; the set is unchanged.
    void Add(std::unique_ptr<View::Trait>&& trait) override;
    unsigned int Remove(const Name& name) override;

private:
    using TraitVector = std::vector<View::Trait*>; // owned traits

    struct KeyLess
    {
        bool operator()(const View::Trait* left, const View::Trait* right) const;
    };

    struct Store
    {
        TraitVector sorted;
        std::multiset<View::Trait*, KeyLess> waiting; // owned traits
        DeferredMerge merge;
    };

    // Every trait in key order (merges the waiting ones first); null before
    // the first Add.
    TraitVector* Sorted() const;
    // The traits named `name`, as [first, last) indexes into `traits`.
    static std::pair<size_t, size_t> FindNamed(const TraitVector& traits, const char* name) noexcept;

    std::unique_ptr<Store> m_traits;
};

} // namespace Por
