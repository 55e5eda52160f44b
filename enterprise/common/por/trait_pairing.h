// Pairing of the traits of two units by name and value.
//
// WalkUnitTraits reports, first, each left trait in the left set's order as
// Pair (with the first right trait of the same name whose value is unit-equal)
// or LeftOnly; then each right trait, in the right set's order, that has no
// left namesake with an equal value as RightOnly. A true answer ends the walk.
// The pairing treats the sets as sets of (name, value): several left traits
// may pair with one right trait.
//
// Declaration order of UnitTraitsWalker is the binary order; never insert or
// reorder.
// Threading: only reads the two units.
#pragma once

#include "core/common/non_copyable.h"
#include "enterprise/common/por/unit.h"

namespace Por::Util {

class UnitTraitsWalker : private Common::NonCopyable
{
public:
    virtual ~UnitTraitsWalker() = default;
    virtual bool Pair(const View::Trait& left, const View::Trait& right) = 0;
    virtual bool LeftOnly(const View::Trait& trait) = 0;
    virtual bool RightOnly(const View::Trait& trait) = 0;
};

void WalkUnitTraits(const View::Unit& left, const View::Unit& right, UnitTraitsWalker& walker);

// The unit has at least one trait.
bool HasTraits(const View::Unit& unit);

} // namespace Por::Util
