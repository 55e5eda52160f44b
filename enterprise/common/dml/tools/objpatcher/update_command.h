// The "update" command: the view that selects the objects ("Pattern", else a
// key pattern of "ID"), the update processor ("Diff", else "State"; a unit
// with both of a pair uses the first) and the run of the processor over the
// view.
//
// The run updates every object of the view, one at a time, and tells the
// truth at both ends:
// - the first failure stops it; the failure is thrown with two more
//   parameters on its first record: "object", the key of the object that
//   failed in the notation, on one line (left out for an object without a
//   key), and "objects updated", the count of objects updated before it;
// - a view that delivered as many objects as its limit (the view provider's
//   default, Dml::kDefaultViewLimit) cannot tell whether more match: once all
//   of them are updated, the run fails with 0xFC0201 saying so and giving the
//   count updated. Fewer objects than the limit are a success.
//
// Threading: the main thread, which blocks while the processor runs on the
// report's completion threads.
#pragma once

#include <memory>

#include "enterprise/common/dml/entry_point.h"
#include "enterprise/common/dml/service_interfaces.h"
#include "enterprise/common/dml/synchronous_data_store.h"
#include "enterprise/common/dml/tools/objpatcher/update_processors.h"
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
std::unique_ptr<UpdateProcessor> GetUpdateProcessor(const Por::View::Unit& input, Dml::PostOffice* postOffice,
                                                    Dml::ObjectRegistry* registry,
                                                    const Por::Construction::UnitFactory& factory);

// Reports the view of `specification` through `processor` (see above).
void RunUpdate(Dml::SynchronousDataStore& store, const Core::EntryPoint& caller, const Dml::ViewSpec& specification,
               UpdateProcessor& processor);

} // namespace Objpatcher
