// Deep copies of units into new construction units made by a given factory:
// the value, every nested property and element, and the traits at every
// level. Copying is also how a unit of one factory becomes units of another.
//
// The copy is depth first: a unit's whole value is complete before its own
// traits are copied, and every nested unit is complete before it enters its
// container. Elements keep their order; properties and traits land where the
// target containers' insertion rules put them. What a creator or a container
// raises passes through; everything built so far is destroyed, nothing leaks,
// and the source is never changed.
//
// Threading: reads the source; safe while no one changes it.
#pragma once

#include <memory>

#include "enterprise/common/por/unit_factory.h"

namespace Por::Util {

std::unique_ptr<Construction::Unit> CopyUnit(const View::Unit& source, const Construction::UnitFactory& factory);

// A new unit of the source's kind and value, without the source's own traits
// (elements and property values keep theirs).
std::unique_ptr<Construction::Unit> CopyUnitValue(const View::Unit& source, const Construction::UnitFactory& factory);

// A new Nil unit (the value is not read).
std::unique_ptr<Construction::Unit> CopyNilValue(const View::NilValue& value, const Construction::UnitFactory& factory);
// A new Array unit of deep copies of the elements, in order, without traits.
std::unique_ptr<Construction::Unit> CopyArrayValue(const View::ArrayValue& value,
                                                   const Construction::UnitFactory& factory);
// A new Composite unit of deep copies of the properties, without traits.
std::unique_ptr<Construction::Unit> CopyCompositeValue(const View::CompositeValue& value,
                                                       const Construction::UnitFactory& factory);

} // namespace Por::Util
