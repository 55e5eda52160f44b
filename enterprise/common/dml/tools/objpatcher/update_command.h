// What "update" needs from the tool's input: the view that selects the
// objects ("Pattern", else a key pattern of "ID") and the update processor
// ("Diff", else "State"). A unit with both of a pair uses the first.
//
// Threading: the main thread.
#pragma once

#include <memory>

#include "enterprise/common/dml/service_interfaces.h"
#include "enterprise/common/por/unit_factory.h"
#include "xidl/view_management.h"

namespace Objpatcher {

// The specification without options (the view provider adds its defaults).
// Neither "Pattern" nor "ID": the missing-property error naming "ID" at
// "GetViewSpec" 253.
Dml::ViewSpec GetViewSpec(const Por::View::Unit& input, const Por::Construction::UnitFactory& factory);

// The processor over the post office, registry and factory; the state
// processor points into `input`, which outlives it. Neither "Diff" nor
// "State": the missing-property error naming "State" at "GetUpdateProcessor"
// 273.
std::unique_ptr<Dml::AsyncReportReader> GetUpdateProcessor(const Por::View::Unit& input, Dml::PostOffice* postOffice,
                                                           Dml::ObjectRegistry* registry,
                                                           const Por::Construction::UnitFactory& factory);

} // namespace Objpatcher
