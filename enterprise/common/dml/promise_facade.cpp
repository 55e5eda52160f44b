#include "enterprise/common/dml/promise_facade.h"

#include <utility>

#include "enterprise/common/async/action_adaptor.h"
#include "enterprise/common/async/error.h"
#include "enterprise/common/async/immediate_result_action.h"
#include "enterprise/common/dml/view_options.h"

namespace Dml {
namespace {

constexpr Common::SourceFile kSource("enterprise/common/dml/promise_facade", 0x1d943c7e4dbe6bd7ull - 242);

// The bound RegisterObject of one unit, which the action's data keeps alive.
struct RegisterUnit
{
    ObjectRegistry* registry;
    const Por::View::Unit* unit;

    std::shared_ptr<Async::Job> operator()(Async::ActionHandler& handler) const
    {
        if (!unit) // nothing to register: a run that lost its unit must not read through null
            return Async::CompleteWithResult(Async::GetInvalidResultError(), handler);
        return registry->RegisterObject(*unit, handler);
    }
};

} // namespace

std::unique_ptr<Async::Action> PromiseFacade::Register(const std::shared_ptr<const Por::View::Unit>& object) const
{
    ObjectRegistry* registry = m_services.GetObjectRegistry(kSource.At("Register", 242));
    return Async::Detail::MakeActionAdaptor(RegisterUnit{registry, object.get()}, object);
}

PromiseFacade::CountFunction PromiseFacade::ReadCount(const Core::EntryPoint& caller,
                                                      const ViewSpec& specification) const
{
    return [caller, specification, services = m_services](unsigned int& count, Async::ActionHandler& handler) {
        return PromiseFacadeImpl::ReadCountAction(caller, specification, count, services, handler);
    };
}

void PromiseFacadeImpl::CountReader::Read(const Por::View::Unit& unit)
{
    *m_count = GetCounterValue(unit);
}

std::shared_ptr<Async::Job> PromiseFacadeImpl::ReadCountAction(Core::EntryPoint caller, ViewSpec specification,
                                                               unsigned int& count, ServiceHolder services,
                                                               Async::ActionHandler& handler)
{
    const Por::Construction::UnitFactory* factory = services.GetUnitFactory(kSource.At("ReadCountAction", 382));
    specification = MakeCounterViewSpec(specification, *factory);
    const std::shared_ptr<ReportReader> reader = std::make_shared<CountReader>(count);
    count = 0;
    PostOffice* postOffice = services.GetPostOffice(kSource.At("ReadCountAction", 384));
    std::shared_ptr<Async::Job> job = postOffice->OpenStaticView(caller, specification, reader, handler);
    return Async::Detail::AttachLifeCycleData(std::move(job), reader);
}

} // namespace Dml
