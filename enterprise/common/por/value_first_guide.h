// Por::Util::WalkValueFirstGuide: the guide that walks, at every unit, the
// value first (descending into properties and elements), then the traits. It
// has no state. The binary unit form, the merge and the building walks follow
// this order.
//
// Threading: none.
#pragma once

#include "enterprise/common/por/hierarchy_walk.h"

namespace Por::Util {

class WalkValueFirstGuide final : public TraitValueGuide
{
public:
    void Guide(TraitValueCrossroad& crossroad) override
    {
        crossroad.WalkValue(true);
        crossroad.WalkTraits();
    }
};

} // namespace Por::Util
