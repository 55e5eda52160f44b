// The patch that brings one reported object to a desired partial state: the
// diff from the object to a copy of the object with the state merged in.
// An object that already has the state gets the empty diff (a Nil marked
// "EmptyDiff" and "PackedDiff"), which is still sent.
//
// Threading: reads the object and the state; safe while no one changes them.
#pragma once

#include <memory>

#include "enterprise/common/por/unit_factory.h"

namespace Objpatcher {

// Every unit of the patch comes from `factory`. Merge and diff failures of
// the object model (a state whose values do not fit the object) are thrown.
std::shared_ptr<Por::Construction::Unit> MakeStatePatch(const Por::View::Unit& object, const Por::View::Unit& state,
                                                        const Por::Construction::UnitFactory& factory);

} // namespace Objpatcher
