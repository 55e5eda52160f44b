// The action facade: free functions through which callers outside the DML
// layer get DML work done without holding the services. Each takes a shared
// Dml::ServiceHolder, takes the services it needs (a missing one throws
// 0xFC0031 located in action_facade), builds one DML action and returns it as
// an owned action that also holds a share of the holder; performing it gives a
// job handle that keeps that share until the handle is released, so the
// caller may drop its own share as soon as the action exists. An empty unit
// pointer throws 0xFA001F. The copying forms copy the caller's units with the
// holder's factory first; the caller's units are not referenced afterwards.
//
// Threading: the caller's thread; the holder is immutable and shared.
#pragma once

#include <memory>

#include "enterprise/common/async/job.h"
#include "enterprise/common/dml/entry_point.h"
#include "enterprise/common/dml/service_holder.h"
#include "xidl/view_management.h"

namespace Dml {

std::shared_ptr<ServiceHolder> MakeServiceHolder(PostOffice* postOffice, ObjectRegistry* registry,
                                                 const Por::Construction::UnitFactory* unitFactory);
// Without an object registry (reports).
std::shared_ptr<ServiceHolder> MakeServiceHolder(PostOffice* postOffice,
                                                 const Por::Construction::UnitFactory* unitFactory);

std::unique_ptr<Async::Action> ProcessReportAsync(const std::shared_ptr<ServiceHolder>& holder,
                                                  const Core::EntryPoint& caller, const ViewSpec& specification,
                                                  const std::shared_ptr<AsyncReportReader>& reader);
std::unique_ptr<Async::Action> UpdateObject(const std::shared_ptr<ServiceHolder>& holder,
                                            const std::shared_ptr<const Por::View::Unit>& key,
                                            const std::shared_ptr<const Por::View::Unit>& patch);
std::unique_ptr<Async::Action> Update(const std::shared_ptr<ServiceHolder>& holder, const Por::View::Unit& key,
                                      const Por::View::Unit& patch);
std::unique_ptr<Async::Action> UnregisterByPatternObject(const std::shared_ptr<ServiceHolder>& holder,
                                                         const Core::EntryPoint& caller,
                                                         const std::shared_ptr<const Por::View::Unit>& pattern);
std::unique_ptr<Async::Action> UnregisterByPattern(const std::shared_ptr<ServiceHolder>& holder,
                                                   const Core::EntryPoint& caller, const Por::View::Unit& pattern);

} // namespace Dml
