#include "enterprise/common/dml/synchronous_data_store.h"

#include <memory>

#include "core/common/error.h"
#include "enterprise/common/async/job_control.h"
#include "enterprise/common/async/waiting_handler.h"
#include "enterprise/common/dml/action_facade.h"
#include "enterprise/common/dml/dml_actions.h"
#include "enterprise/common/por/view_unit_factory.h"

namespace Dml {
namespace {

constexpr Common::SourceFile kSource("enterprise/common/dml/synchronous_data_store", 0x5b0018a6e6937f80ull - 119);

} // namespace

Common::Error RunActionSynchronously(Async::Action& action)
{
    Async::JobControl control;
    Async::WaitingHandler waiting(true);
    control.Perform(action, waiting, nullptr);
    return waiting.Wait(nullptr);
}

void RunActionOrThrow(Async::Action& action)
{
    const Common::Error result = RunActionSynchronously(action);
    if (!result.IsSuccess())
        Common::ThrowError(result);
}

SynchronousDataStore::SynchronousDataStore(PostOffice* postOffice, ObjectRegistry* registry)
    : m_services(postOffice, registry, Por::GetViewUnitFactory())
{
}

SynchronousDataStore::~SynchronousDataStore() = default;

void SynchronousDataStore::Report(const Core::EntryPoint& caller, const ViewSpec& specification,
                                  AsyncReportReader& processor)
{
    const Common::Location here = kSource.At("Report", 119);
    const Por::Construction::UnitFactory* factory = m_services.GetUnitFactory(here);
    PostOffice* postOffice = m_services.GetPostOffice(here);
    const std::shared_ptr<ServiceHolder> holder = MakeServiceHolder(postOffice, factory);
    // The caller keeps the processor: its share deletes nothing.
    const std::shared_ptr<AsyncReportReader> reader(&processor, [](AsyncReportReader*) {});
    const std::unique_ptr<Async::Action> action = ProcessReportAsync(holder, caller, specification, reader);
    RunActionOrThrow(*action);
}

template <typename GetObject>
void SynchronousDataStore::Store(const Core::EntryPoint& caller, GetObject getObject)
{
    const Common::Location here = kSource.At("StoreOrUpdate", 141);
    const Por::Construction::UnitFactory* factory = m_services.GetUnitFactory(here);
    ObjectRegistry* registry = m_services.GetObjectRegistry(here);
    PostOffice* postOffice = m_services.GetPostOffice(here);
    // Taken once the services are known to be there.
    const Por::UnitAccessor object = getObject();
    const Por::View::SafeUnitHolder objectHolder(object.GetShared()); // throws for an empty accessor
    Actions::Overwrite overwrite(caller, object, postOffice, registry, factory);
    RunActionOrThrow(overwrite);
}

void SynchronousDataStore::StoreOrUpdate(const Core::EntryPoint& caller, const Por::Construction::Unit& object)
{
    Store(caller, [&] { return Por::UnitAccessor(object); });
}

void SynchronousDataStore::StoreOrUpdate(const Core::EntryPoint& caller, const Por::UnitAccessor& object)
{
    Store(caller, [&] { return object; });
}

} // namespace Dml
