// Por::CompositeValueHolder: the in-memory composite value, owned properties
// in the order of their names (strcmp, bytes as unsigned), one per name.
//
// The properties live in a vector sorted by name. A name behind the last one
// (the usual order) is compared with the last one only. A Set that would
// insert before the last property inserts it in place when only a few
// properties move for it, and otherwise parks it in a map by name; the next
// enumeration (ForEach, Enumerate, an iterator step) merges the map into the
// vector in one pass, so that building costs n log n in any order of arrival.
// Lookups by name (ForEachNamed, Set, Remove) search both.
//
// Set inserts in name order or replaces (and deletes) the property of the same
// name; the caller's pointer is emptied only once the property is in place, so
// a failed Set leaves it with the caller and the composite unchanged. A null
// property raises Por::ModuleError 0xFA000B. Enumerate hands out an iterator
// over the live vector: it must not outlive the holder, and a Set or Remove
// shifts what its later positions show.
//
// Threading: none for writers; readers of a composite nobody writes may run at
// once (see Por::DeferredMerge). An iterator is only as safe as the holder it
// reads.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "enterprise/common/por/deferred_merge.h"
#include "enterprise/common/por/unit.h"

namespace Por {

class CompositeValueHolder final : public Construction::CompositeValue
{
public:
    using PropertyVector = std::vector<std::unique_ptr<Construction::Property>>;

    // The properties: the sorted vector and those waiting to be merged into it.
    class Properties
    {
    public:
        Properties() noexcept = default;
        ~Properties();

        // Every property in name order (merges the waiting ones first).
        PropertyVector& Sorted() const noexcept;
        // The property named `name`, or null.
        Construction::Property* Find(const char* name) const noexcept;
        // Takes `property` (not null) over, replacing the one of its name.
        void Set(std::unique_ptr<Construction::Property>& property);
        void Remove(const char* name) noexcept;

    private:
        struct NameLess
        {
            bool operator()(const char* left, const char* right) const noexcept { return std::strcmp(left, right) < 0; }
        };
        // Keyed by each property's own name text.
        using WaitingMap = std::map<const char*, std::unique_ptr<Construction::Property>, NameLess>;

        PropertyVector::iterator LowerBound(const char* name) const noexcept;
        void Merge() const noexcept;
        bool AnyWaiting() const noexcept { return m_waiting != nullptr && !m_waiting->empty(); }

        mutable PropertyVector m_sorted;
        // Made at the first out-of-order arrival that waits: most composites
        // never need one.
        mutable std::unique_ptr<WaitingMap> m_waiting;
        DeferredMerge m_merge;
    };

    // The state of one enumeration: a position in the holder's properties.
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
    template <typename T>
    void HandEach(ItemProcessor<T>& processor) const;
    template <typename T>
    bool HandNamed(const Name& name, ItemProcessor<T>& processor) const;

    Properties m_properties;
};

} // namespace Por
