// Dml::SynchronousDataStore: a blocking face of the asynchronous DML layer for
// callers that do one thing and wait. Report hands every object of a static
// view to an asynchronous report reader, one at a time, and returns when the
// last one has been processed; StoreOrUpdate registers an object when none
// with its key exists and otherwise updates each one found with the diff.
// Both throw the job's failure unchanged; a missing service throws 0xFC0031
// located in synchronous_data_store before any work starts. The store's unit
// factory is the object model's view-unit factory; it owns no service.
//
// RunActionSynchronously performs an action under a local job control and
// blocks until its completion.
//
// Threading: one calling thread at a time; the calling thread blocks while the
// completions (and the report reader's calls) come on other threads.
#pragma once

#include "enterprise/common/async/job.h"
#include "enterprise/common/dml/entry_point.h"
#include "enterprise/common/dml/service_holder.h"
#include "enterprise/common/por/unit_accessor.h"
#include "xidl/view_management.h"

namespace Dml {

Common::Error RunActionSynchronously(Async::Action& action);
// Throws the result when it is a failure.
void RunActionOrThrow(Async::Action& action);

class SynchronousDataStore
{
public:
    SynchronousDataStore(PostOffice* postOffice, ObjectRegistry* registry);
    ~SynchronousDataStore();

    // The processor stays the caller's: the store never deletes it.
    void Report(const Core::EntryPoint& caller, const ViewSpec& specification, AsyncReportReader& processor);
    // Stores a copy of `object`.
    void StoreOrUpdate(const Core::EntryPoint& caller, const Por::Construction::Unit& object);
    // Stores the unit of `object` without a copy: it is shared with the job
    // and must not change until the call returns. An accessor without a unit
    // throws 0xFA001F (empty unit holder).
    void StoreOrUpdate(const Core::EntryPoint& caller, const Por::UnitAccessor& object);

private:
    // Stores the accessor `getObject` gives, once the services are checked.
    template <typename GetObject>
    void Store(const Core::EntryPoint& caller, GetObject getObject);

    ServiceHolder m_services;
};

} // namespace Dml
