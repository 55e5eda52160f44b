#include "enterprise/common/dml/object_processor.h"

#include <utility>

#include "core/common/message_catalogue.h"
#include "enterprise/common/async/async_errors.h"
#include "enterprise/common/async/asynchronizer.h"
#include "enterprise/common/async/error.h"
#include "enterprise/common/dml/async_report.h"
#include "enterprise/common/dml/dml_errors.h"
#include "enterprise/common/dml/object_key.h"
#include "enterprise/common/por/unit_copier.h"
#include "enterprise/common/por/unit_diff.h"

namespace Dml {
namespace {

constexpr Common::SourceFile kSource("enterprise/common/dml/object_processor", 0xa9e20df0eaad67d1ull - 55);

} // namespace

std::shared_ptr<Async::Job> Detail::WriteObject::Process(const Por::View::Unit& existing, Async::ActionHandler& handler)
{
    m_diff = Por::Util::MakeDiff(existing, *m_unit, *m_unitFactory);
    m_key = Por::Util::CopyUnit(GetObjectKey(*m_unit), *m_unitFactory);
    return m_registry->UpdateObject(*m_key, *m_diff, handler);
}

std::shared_ptr<Async::Job> Detail::WriteObject::ProcessMissing(Async::ActionHandler& handler)
{
    return m_registry->RegisterObject(m_object, handler);
}

std::shared_ptr<Async::Job> Detail::MakeWriteObjectJob(const Core::EntryPoint& caller, const Por::UnitAccessor& object,
                                                       PostOffice* postOffice, ObjectRegistry* registry,
                                                       const Por::Construction::UnitFactory* unitFactory,
                                                       Async::ActionHandler& handler)
{
    const auto writeStep = std::make_shared<WriteObject>(object, registry, unitFactory);
    const Por::View::Unit& key = GetObjectKey(*object.GetShared());
    std::shared_ptr<Async::Job> job = ObjectProcessingImpl::StartObjectProcessing(
        caller, key, postOffice, writeStep.get(), unitFactory, handler);
    return Async::Detail::AttachLifeCycleData(std::move(job), writeStep);
}

ObjectProcessingImpl::ObjectProcessingJob::ObjectProcessingJob(const Core::EntryPoint& caller,
                                                               const ViewSpec& specification,
                                                               ObjectProcessor* processor, PostOffice* postOffice,
                                                               const Por::Construction::UnitFactory* unitFactory)
    : m_caller(caller), m_specification(specification), m_processor(processor), m_postOffice(postOffice),
      m_unitFactory(unitFactory),
      m_reportObjects([this](Async::ActionHandler& handler) { return ReportObjects(handler); }),
      m_processMissing([this](Async::ActionHandler& handler) { return m_processor->ProcessMissing(handler); })
{
}

Async::EntityDescription ObjectProcessingImpl::ObjectProcessingJob::Describe() const
{
    return Async::EntityDescription(Common::GetMessageText(kProcessObjectByIdJobText), kSource.At("Describe", 55));
}

std::shared_ptr<Async::Job>
ObjectProcessingImpl::ObjectProcessingJob::Read(const std::shared_ptr<const Por::View::Unit>& object,
                                                Async::ActionHandler& handler)
{
    m_nothingFound = false;
    return m_processor->Process(*object, handler);
}

void ObjectProcessingImpl::ObjectProcessingJob::ChainHandler::Completed(const Common::Error& result)
{
    Async::ActionHandler* handler = target;
    const Async::EntityDescription description = m_job.Describe();
    const bool wrapped = result.GetCode() == Async::ASYNC_ERROR_JOB_CONTEXT &&
        result.GetLocation().LineTag == description.location.LineTag;
    if (result.IsSuccess() || wrapped) {
        handler->Completed(result);
        return;
    }
    Common::Error failure = Async::MakeJobContextError(description);
    failure.AddCause(result);
    handler->Completed(failure); // the job may be gone once this returns
}

void ObjectProcessingImpl::ObjectProcessingJob::Start(Async::ActionHandler& handler)
{
    m_chainHandler.target = &handler;
    InitializeSteps(m_chainHandler, false);
    m_stepHandler.Set(&ObjectProcessingJob::ProcessIfMissing);
    GetStepControl().PerformStep(m_reportObjectsAction, &m_stepHandler);
}

std::shared_ptr<Async::Job> ObjectProcessingImpl::ObjectProcessingJob::ReportObjects(Async::ActionHandler& handler)
{
    return Async::AsynchronizeSequentially(
        std::make_unique<AsyncReport>(m_caller, m_specification, this, m_postOffice, m_unitFactory), handler);
}

void ObjectProcessingImpl::ObjectProcessingJob::ProcessIfMissing()
{
    if (m_nothingFound)
        GetStepControl().PerformStep(m_processMissingAction, nullptr);
    else
        GetStepControl().Finish();
}

std::shared_ptr<Async::Job> ObjectProcessingImpl::StartObjectProcessing(
    const Core::EntryPoint& caller, const Por::View::Unit& key, PostOffice* postOffice, ObjectProcessor* processor,
    const Por::Construction::UnitFactory* unitFactory, Async::ActionHandler& handler)
{
    ViewSpec specification;
    specification.Pattern = std::shared_ptr<const Por::View::Unit>(MakeKeyPattern(key, *unitFactory));
    const auto job = std::make_shared<ObjectProcessingJob>(caller, specification, processor, postOffice, unitFactory);
    job->Start(handler);
    return job;
}

} // namespace Dml
