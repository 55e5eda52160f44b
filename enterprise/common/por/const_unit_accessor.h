// Por::ConstUnitAccessor: a read cursor into a unit tree: a shared slot holding
// the root (shared by every accessor derived from this one), a unit path
// (path_utils.h) from the root and a unit factory.
//
// Get resolves the unit at the path and hands it out as a reference that keeps
// the whole root alive (the sub-unit itself is never deleted through it); a
// missing root or nothing at the path gives an empty reference, while errors of
// the lookup ('^' steps without a unique trait, indexes past the end) pass
// through. ResolveUnit raises Common::Error 0xFA0001 "POR: Cannot access
// property by path '{0}'." when nothing is there. Reset stores a new root into
// the shared slot for every sharer; references handed out before keep showing
// (and keeping alive) the old tree.
//
// Threading: one thread at a time for an accessor and all that share its slot.
#pragma once

#include <memory>
#include <string>

#include "core/common/error.h"
#include "enterprise/common/por/unit_factory.h"

namespace Por {

class ConstUnitAccessor
{
public:
    using RootSlot = std::shared_ptr<std::shared_ptr<const View::Unit>>;

    explicit ConstUnitAccessor(const Construction::UnitFactory* factory);
    ConstUnitAccessor(const ConstUnitAccessor& other, const std::u16string& path,
                      const Construction::UnitFactory* factory);

    void Reset(std::shared_ptr<const View::Unit> root, const std::u16string& path);
    void Assign(const ConstUnitAccessor& other, const std::u16string& path);

    bool HasUnit() const;
    const View::Unit* ResolveUnit() const;
    std::shared_ptr<const View::Unit> Get() const;
    // A deep copy of the unit at the path; empty when there is none.
    std::unique_ptr<Construction::Unit> CopyUnit() const;
    const Construction::UnitFactory* GetFactory() const noexcept { return m_factory; }
    const std::u16string& GetPath() const noexcept { return m_path; }

private:
    RootSlot m_root;
    std::u16string m_path;
    const Construction::UnitFactory* m_factory;
};

// The error of a path that resolves to nothing (shared with the read-write accessor).
Common::Error UnitMissingPropertyAccess(const std::u16string& path);

} // namespace Por
