// The construction dynamic context: a process-wide registry from a type name
// to a function that builds a unit of that type with the fluent unit
// constructor. The registry is created on the first registration and
// destroyed at exit; registering a name again replaces its builder.
//
// Threading: the registry is created once, thread-safely; registrations are
// made at start-up on one thread.
#pragma once

#include <string>

#include "enterprise/common/por/unit_constructor.h"

namespace Por {

using DynamicConstructionBuilder = Util::UnitConstructor (*)(Util::UnitConstructor constructor);

void RegisterDynamicConstruction(const std::u16string& name, DynamicConstructionBuilder builder);

// The builder registered under `name`, or null.
DynamicConstructionBuilder FindDynamicConstruction(const std::u16string& name);

} // namespace Por
