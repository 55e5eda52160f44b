#include "enterprise/common/dml/unregister_by_pattern.h"

#include <algorithm>
#include <utility>

#include "enterprise/common/async/action_adaptor.h"
#include "enterprise/common/async/action_factory_executor.h"
#include "enterprise/common/async/conditions.h"
#include "enterprise/common/async/future.h"
#include "enterprise/common/async/journal.h"
#include "enterprise/common/async/synchronous_action.h"
#include "enterprise/common/dml/operation_records.h"
#include "enterprise/common/dml/promise_facade.h"
#include "enterprise/common/dml/service_holder.h"
#include "enterprise/common/dml/view_options.h"
#include "enterprise/common/por/unit_copier.h"

namespace Dml {
namespace {

constexpr Common::SourceFile kSource("enterprise/common/dml/unregister_by_pattern");

using UnitPointer = std::shared_ptr<const Por::View::Unit>;

// A synchronous step that runs `work` and keeps the cell it writes alive.
template <typename Work, typename T>
std::shared_ptr<Async::Action> Assignment(Work work, const Async::Future<T>& target)
{
    return Async::Detail::MakeSilentSynchronousAction(std::move(work), target.GetCell());
}

} // namespace

uint32_t GetBatchSize(uint32_t total, uint32_t done, uint32_t step)
{
    return done >= total ? 0 : std::min(total - done, step);
}

uint32_t SumCounts(uint32_t a, uint32_t b)
{
    return a + b;
}

bool IsLess(uint32_t a, uint32_t b)
{
    return a < b;
}

ViewSpec BuildPatternViewSpec(const UnregisterByPatternSettings& settings,
                              const Por::Construction::UnitFactory& unitFactory)
{
    ViewSpec specification = settings.specification;
    if (settings.limit != 0xFFFFFFFF)
        specification = LimitViewSpec(specification, settings.limit, unitFactory);
    if (settings.sortByTimeStamp)
        specification = SortByTimeStamp(specification, unitFactory);
    return specification;
}

std::shared_ptr<Async::Job> BuildUnregisterByPatternJournal(const UnregisterByPatternSettings& settings,
                                                            PostOffice* postOffice, ObjectRegistry* registry,
                                                            const Por::Construction::UnitFactory* unitFactory,
                                                            Async::ActionHandler& handler)
{
    const auto operations = std::make_shared<Operation::OperationFactory>(unitFactory);
    const auto facade = std::make_shared<PromiseFacade>(postOffice, registry, unitFactory);
    Async::Journal journal;
    // Without a factory the count step fails (missing service) before
    // anything needs the limited or sorted specification.
    const ViewSpec base = unitFactory ? BuildPatternViewSpec(settings, *unitFactory) : settings.specification;

    const Async::Future<unsigned int> total;
    journal.Add(Async::Detail::MakeActionAdaptor(
        [count = facade->ReadCount(settings.caller, base), total](Async::ActionHandler& stepHandler) {
            return count(*total.GetCell(), stepHandler);
        },
        total.GetCell()));
    journal.Add(
        Assignment([total, limit = settings.limit] { *total.GetCell() = std::min(*total.GetCell(), limit); }, total));

    const auto cycle = std::make_shared<Async::CyclicJournal>();
    const Async::Future<unsigned int> done;
    const Async::Future<unsigned int> batch;
    const Async::Future<ViewSpec> batchSpecification;
    const Async::Future<UnitPointer> operationUnit;
    cycle->BreakIf(Async::MakeNegatedCondition([total, done] { return IsLess(*done.GetCell(), *total.GetCell()); }));
    cycle->Add(Assignment(
        [total, done, batch, step = std::max(settings.step, 1u)] {
            *batch.GetCell() = GetBatchSize(*total.GetCell(), *done.GetCell(), step);
        },
        batch));
    cycle->Add(Assignment(
        [base, batch, batchSpecification, unitFactory] {
            *batchSpecification.GetCell() = LimitViewSpec(base, *batch.GetCell(), *unitFactory);
        },
        batchSpecification));
    cycle->Add(Assignment(
        [operations, batchSpecification, operationUnit] {
            *operationUnit.GetCell() = operations->MakeDeleteByPattern(*batchSpecification.GetCell());
        },
        operationUnit));
    cycle->Add(Async::Detail::CreateActionFactoryExecutorAction(
        [facade, operationUnit] { return facade->Register(*operationUnit.GetCell()); }));
    cycle->Add(Assignment([done, batch] { *done.GetCell() = SumCounts(*done.GetCell(), *batch.GetCell()); }, done));
    std::function<bool()> reportProgress;
    if (settings.progress)
        Async::MakeTrueCondition(reportProgress);
    else
        Async::MakeFalseCondition(reportProgress);
    cycle->AddBranch(
        reportProgress,
        Async::Detail::MakeSilentSynchronousAction(
            [progress = settings.progress, done] { progress->OnProgress(*done.GetCell()); }, settings.progress));
    journal.Add(cycle);
    return journal.Perform(handler);
}

std::shared_ptr<Async::Job> RunUnregisterByPattern(const Core::EntryPoint& caller, PostOffice* postOffice,
                                                   ObjectRegistry* registry, const Por::View::Unit& pattern,
                                                   Async::ActionHandler& handler,
                                                   const Por::Construction::UnitFactory* unitFactory)
{
    const Por::Construction::UnitFactory* factory =
        ServiceHolder(postOffice, registry, unitFactory).GetUnitFactory(kSource.At("RunUnregisterByPattern", __LINE__));
    const UnitPointer copy(Por::Util::CopyUnit(pattern, *factory));
    const auto settings = std::make_unique<UnregisterByPatternSettings>(caller);
    settings->specification.Pattern = copy;
    return BuildUnregisterByPatternJournal(*settings, postOffice, registry, unitFactory, handler);
}

} // namespace Dml
