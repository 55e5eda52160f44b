// Read-side helpers: trait-filtering views of a const unit and a holder of a
// unit that must exist.
//
// Por::View::SieveTraitsUnit shows the wrapped unit's value unchanged and
// filters its traits by name: only those of the name, or (ExcludeTraitUnit) all
// but those. Views nest: an ExcludeTraitUnit over another hides both names.
// A view does not own the wrapped unit and must not outlive it.
//
// Por::View::SafeUnitHolder holds a const unit (sharing its owner, or a deep
// copy made by the view-unit factory); construction without a unit raises
// Common::Error 0xFA001F, which has no message text.
//
// Threading: views read their unit; holders can be copied across threads.
#pragma once

#include <memory>

#include "enterprise/common/por/unit.h"

namespace Por::View {

class DelegatingUnit : public Unit
{
public:
    explicit DelegatingUnit(const Unit& wrapped) noexcept : m_wrapped(&wrapped) {}
    void Accept(UnitReader& reader) const override { m_wrapped->Accept(reader); }
    const Traits& traits() const override { return m_wrapped->traits(); }

protected:
    const Unit* m_wrapped;
};

class SieveTraits final : public Traits
{
public:
    SieveTraits(const Traits& inner, const Name& name, bool exclude) : m_inner(&inner), m_name(name), m_exclude(exclude)
    {
    }
    void ForEach(ItemProcessor<const Trait>& processor) const override;
    void ForEachNamed(const Name& name, ItemProcessor<const Trait>& processor) const override;

private:
    const Traits* m_inner;
    Name m_name;
    bool m_exclude;
};

class SieveTraitsUnit : public DelegatingUnit
{
public:
    SieveTraitsUnit(const Unit& wrapped, const Name& name, bool exclude)
        : DelegatingUnit(wrapped), m_traits(wrapped.traits(), name, exclude)
    {
    }
    const Traits& traits() const override { return m_traits; }

private:
    SieveTraits m_traits;
};

class ExcludeTraitUnit : public SieveTraitsUnit
{
public:
    ExcludeTraitUnit(const Unit& wrapped, const Name& name) : SieveTraitsUnit(wrapped, name, true) {}
};

class SafeUnitHolder
{
public:
    explicit SafeUnitHolder(std::shared_ptr<const Unit> unit);
    // Holds a deep copy of `unit`.
    explicit SafeUnitHolder(const Unit& unit);

    const Unit* Get() const noexcept { return m_unit; }
    void Validate() const;

private:
    std::shared_ptr<const Unit> m_owner;
    const Unit* m_unit;
};

} // namespace Por::View
