// Por::UnitAccessor: the read-write twin of Por::ConstUnitAccessor. It shares
// the ownership of the root of a construction unit tree with every accessor
// derived from it, keeps a unit path and a factory (the object-representation
// library's view-unit factory), derives children by name or path fragment,
// writes a unit at its path and hands out the unit at its path as a reference
// that keeps the root alive.
//
//     Por::UnitAccessor record;                 // root: an empty Composite
//     record["ID"].Set(unit);                   // root {ID: copy of unit}
//
// Set with a non-empty path writes a deep copy (creating missing Composite
// steps, and the root when there is none) and leaves the caller's unit with
// the caller; with an empty path it takes the unit over as the new root for
// every sharer. A reference obtained before a Set that replaces its unit must
// not be used afterwards.
//
// Por::DataAccessor: a Construction-level keyed lookup (map_lookup.h); GetUnit
// raises Por::ModuleError 0xFA0016 "POR: The array element cannot be found."
// when there is no unit.
//
// Threading: one thread at a time for an accessor and all that share its slots.
#pragma once

#include <memory>
#include <string>

#include "enterprise/common/por/const_unit_accessor.h"

namespace Por {

class UnitAccessor : public ConstUnitAccessor
{
public:
    UnitAccessor();
    explicit UnitAccessor(std::unique_ptr<Construction::Unit> root);
    // Shares `root` with its other owners: no copy is made, so they must not
    // change it while this accessor or one derived from it may read it.
    explicit UnitAccessor(std::shared_ptr<Construction::Unit> root);
    explicit UnitAccessor(const View::Unit& unit);
    UnitAccessor(const UnitAccessor& other);
    UnitAccessor(const UnitAccessor& parent, const std::u16string& path, const Construction::UnitFactory* factory);

    // A child: "name" addresses the property of that name; a text starting with
    // '.' or '^' is a path fragment appended as it is (after a '.' for '^').
    UnitAccessor operator[](const char* text) const;

    void Set(std::unique_ptr<Construction::Unit>& unit);
    void SetCopy(const View::Unit& unit);
    std::shared_ptr<Construction::Unit> GetShared() const;
    std::shared_ptr<Construction::Unit> Get() const { return GetShared(); }

private:
    using ConstructionSlot = std::shared_ptr<std::shared_ptr<Construction::Unit>>;

    void Reset(std::shared_ptr<Construction::Unit> root, const std::u16string& path);

    ConstructionSlot m_root;
};

class DataAccessor
{
public:
    explicit DataAccessor(Construction::Unit* unit) noexcept : m_unit(unit) {}

    bool IsValid() const noexcept { return m_unit != nullptr; }
    DataAccessor GetChild(const Name& key) const;
    Construction::Unit& GetUnit() const;

private:
    Construction::Unit* m_unit;
};

} // namespace Por
