// Por::CompositeValueHolder: the in-memory composite value, a vector of owned
// properties sorted by name (strcmp, bytes as unsigned), one per name.
//
// Lookups by name are bisections. Set inserts in name order or replaces (and
// deletes) the property of the same name; the caller's pointer is emptied only
// once the property is in place, so a failed Set leaves it with the caller and
// the composite unchanged. A null property raises Por::ModuleError 0xFA000B.
// Enumerate hands out an iterator over the live vector: it must not outlive
// the holder, and a Set or Remove shifts what its later positions show.
//
// Threading: none; an iterator is only as safe as the holder it reads.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "enterprise/common/por/unit.h"

namespace Por {

class CompositeValueHolder final : public Construction::CompositeValue
{
public:
    using PropertyVector = std::vector<std::unique_ptr<Construction::Property>>;

    // The state of one enumeration: a position in the holder's vector.
    template <typename T, typename V>
    struct IteratorState
    {
        uint64_t index;
        V* properties;
    };

    CompositeValueHolder() noexcept = default;

    void ForEach(ItemProcessor<const View::Property>& processor) const override;
    bool ForEachNamed(const Name& name, ItemProcessor<const View::Property>& processor) const override;
    PropertyIterator<const View::Property> Enumerate() const override;

    void ForEach(ItemProcessor<Modification::Property>& processor) override;
    bool ForEachNamed(const Name& name, ItemProcessor<Modification::Property>& processor) override;

    void ForEach(ItemProcessor<Construction::Property>& processor) override;
    bool ForEachNamed(const Name& name, ItemProcessor<Construction::Property>& processor) override;
    void Set(std::unique_ptr<Construction::Property>&& property) override;
    void Remove(const Name& name) override;
    PropertyIterator<Construction::Property> Enumerate() override;

private:
    // The first position whose name does not sort before `name`.
    PropertyVector::const_iterator LowerBound(const char* name) const noexcept;
    // The property named `name`, or null.
    Construction::Property* Find(const char* name) const noexcept;

    template <typename T>
    void HandEach(ItemProcessor<T>& processor) const;
    template <typename T>
    bool HandNamed(const Name& name, ItemProcessor<T>& processor) const;

    PropertyVector m_properties;
};

} // namespace Por
