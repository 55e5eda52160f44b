#include "enterprise/common/dml/dml_actions.h"

#include <utility>

#include "enterprise/common/async/action_adaptor.h"
#include "enterprise/common/async/asynchronizer.h"
#include "enterprise/common/dml/async_report.h"
#include "enterprise/common/dml/object_processor.h"
#include "enterprise/common/dml/unregister_by_pattern.h"

namespace Dml::Actions {

std::shared_ptr<Async::Job> Update::Perform(Async::ActionHandler& handler)
{
    std::shared_ptr<Async::Job> job = m_registry->UpdateObject(*m_key.Get(), *m_patch.Get(), handler);
    using Units = Async::Detail::ConsolidatedData<Por::View::SafeUnitHolder, Por::View::SafeUnitHolder>;
    return Async::Detail::AttachLifeCycleData(std::move(job), Units{m_key, m_patch, {}, {}});
}

std::shared_ptr<Async::Job> UnregisterByPattern::Perform(Async::ActionHandler& handler)
{
    const Core::EntryPoint caller(m_caller);
    std::shared_ptr<Async::Job> job = RunUnregisterByPattern(caller, m_postOffice, m_registry, *m_pattern.Get(),
                                                             handler, m_unitFactory);
    return Async::Detail::AttachLifeCycleData(std::move(job), m_pattern);
}

std::shared_ptr<Async::Job> Overwrite::Perform(Async::ActionHandler& handler)
{
    const Core::EntryPoint caller(m_caller);
    std::shared_ptr<Async::Job> job = Dml::Detail::MakeWriteObjectJob(caller, m_object, m_postOffice, m_registry,
                                                                      m_unitFactory, handler);
    return Async::Detail::AttachLifeCycleData(std::move(job), m_object);
}

std::shared_ptr<Async::Job> LongReport::Perform(Async::ActionHandler& handler)
{
    const Core::EntryPoint caller(m_caller);
    std::shared_ptr<Async::Job> job = Async::AsynchronizeSequentially(
        std::make_unique<AsyncReport>(caller, m_specification, m_reader.get(), m_postOffice, m_unitFactory), handler);
    return Async::Detail::AttachLifeCycleData(std::move(job), m_reader);
}

} // namespace Dml::Actions
