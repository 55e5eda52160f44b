// The update processors of "update": report readers that update each reported
// object through the action facade, one object at a time.
//
// The diff processor sends the same "Diff" unit to every object; the state
// processor sends, per object, the diff from the object to the object with the
// "State" merged in (the empty diff when it already has the state, still
// sent). The object's key is its "PrimaryKey" unit; an object without one
// fails with 0xFC000A before anything is sent for it.
//
// Threading: Read is called on the report's completion threads, never twice
// at once; the processors keep no state between objects and only read the
// state unit and the factory.
#pragma once

#include <memory>

#include "enterprise/common/dml/service_holder.h"
#include "enterprise/common/dml/service_interfaces.h"
#include "enterprise/common/por/unit_factory.h"

namespace Objpatcher {

// `diff` is shared by every update (each update copies it).
std::unique_ptr<Dml::AsyncReportReader> MakeDiffUpdateProcessor(std::shared_ptr<Dml::ServiceHolder> holder,
                                                                std::shared_ptr<Por::Construction::Unit> diff);
// `state` and `factory` outlive the processor.
std::unique_ptr<Dml::AsyncReportReader> MakeStateUpdateProcessor(std::shared_ptr<Dml::ServiceHolder> holder,
                                                                 const Por::View::Unit& state,
                                                                 const Por::Construction::UnitFactory& factory);

} // namespace Objpatcher
