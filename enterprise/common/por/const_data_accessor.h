// Por::ConstDataAccessor: a chain of keyed lookups over const units. GetChild
// looks a key up as a property name or a map key (map_lookup.h) and never
// raises: a failed step gives an accessor without unit that remembers the
// first missing key of the chain. GetUnit raises Por::ModuleError 0xFA0020
// "POR: Element '{0}' cannot be found." with that key when there is no unit.
// An owner, when there is one, keeps the tree alive along the chain.
//
// Threading: the caller's thread.
#pragma once

#include <memory>

#include "enterprise/common/por/unit.h"

namespace Por {

class ConstDataAccessor
{
public:
    explicit ConstDataAccessor(const View::Unit* unit) noexcept : m_unit(unit) {}
    ConstDataAccessor(std::shared_ptr<const View::Unit> owner, const View::Unit* unit, const Name& key)
        : m_owner(std::move(owner)), m_unit(unit), m_key(key)
    {
    }
    ConstDataAccessor(const ConstDataAccessor&) = default;
    ConstDataAccessor& operator=(ConstDataAccessor&& other) noexcept;

    bool IsValid() const noexcept { return m_unit != nullptr; }
    ConstDataAccessor GetChild(const Name& key) const;
    void EnsureUnitIsValid() const;
    const View::Unit& GetUnit() const;
    const Name& GetKey() const noexcept { return m_key; }

private:
    std::shared_ptr<const View::Unit> m_owner;
    const View::Unit* m_unit;
    Name m_key;
};

} // namespace Por
