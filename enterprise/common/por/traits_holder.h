// Por::TraitsHolder: the in-memory trait set.
//
// The traits are kept in one vector, allocated on the first Add (an empty set
// allocates nothing), sorted by Por::Util::CompareTraitKeys: by name (strcmp),
// then by a total order of the values that agrees with the unit order wherever
// that one is consistent. Traits of one name are therefore adjacent, in the
// unit order of their values. A trait whose name and value are equal
// (Por::Util::UnitsEqual, traits of the value included) to one already present
// is taken over and deleted; any other trait is kept, so no distinct trait is
// ever dropped or misplaced.
//
// Threading: none; a trait set lives inside one unit.
#pragma once

#include <memory>
#include <utility>
#include <vector>

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

    // The traits named `name`, as [first, last) indexes.
    std::pair<size_t, size_t> FindNamed(const char* name) const noexcept;

    std::unique_ptr<TraitVector> m_traits;
};

} // namespace Por
