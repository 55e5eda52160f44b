// The delete-by-pattern journal: counts the objects that match a pattern once,
// through a static counter view, then runs a cycle that registers one
// Dml::Operation::DeleteByPattern record per batch of at most `step` objects
// through the object registry, until the batches add up to the count (cut to
// the limit). Every remote call goes through a Dml::PromiseFacade.
//
// The steps pass values through shared cells (total, done, batch, the batch
// specification and the operation unit) that each step reads when it runs.
// The returned job keeps the whole workflow alive; the settings are read only
// while the journal is built. The first failure ends the run (earlier
// registrations stay); the handler receives it inside the job framework's
// context errors.
//
// Threading: the steps run one at a time, each after the previous one has
// completed, possibly on the threads that complete the remote calls.
#pragma once

#include <cstdint>
#include <memory>

#include "enterprise/common/async/job.h"
#include "enterprise/common/dml/entry_point.h"
#include "enterprise/common/dml/service_interfaces.h"
#include "enterprise/common/por/unit_factory.h"
#include "xidl/view_management.h"

namespace Dml {

struct UnregisterByPatternSettings
{
    explicit UnregisterByPatternSettings(const Core::EntryPoint& entryPoint) : caller(entryPoint) {}

    Core::EntryPoint caller;
    ViewSpec specification;      // the pattern; no options
    uint32_t limit = 0xFFFFFFFF; // the most objects handled; 0xFFFFFFFF: no limit
    bool sortByTimeStamp = false;
    uint32_t step = 100; // the largest batch (0 counts as 1)
    std::shared_ptr<ProgressCallback> progress;
};

// Copies the pattern with the factory and runs the journal with default settings.
std::shared_ptr<Async::Job> RunUnregisterByPattern(const Core::EntryPoint& caller, PostOffice* postOffice,
                                                   ObjectRegistry* registry, const Por::View::Unit& pattern,
                                                   Async::ActionHandler& handler,
                                                   const Por::Construction::UnitFactory* unitFactory);
std::shared_ptr<Async::Job> BuildUnregisterByPatternJournal(const UnregisterByPatternSettings& settings,
                                                            PostOffice* postOffice, ObjectRegistry* registry,
                                                            const Por::Construction::UnitFactory* unitFactory,
                                                            Async::ActionHandler& handler);
// The settings' specification, limited and sorted as they say.
ViewSpec BuildPatternViewSpec(const UnregisterByPatternSettings& settings,
                              const Por::Construction::UnitFactory& unitFactory);

uint32_t GetBatchSize(uint32_t total, uint32_t done, uint32_t step);
uint32_t SumCounts(uint32_t a, uint32_t b);
bool IsLess(uint32_t a, uint32_t b);

} // namespace Dml
