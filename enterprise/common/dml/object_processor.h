// Store-or-update of one object. The object-processing job reads the objects
// found under a key through a static view (an asynchronous report, one object
// at a time) and hands each to a Dml::ObjectProcessor, or tells it that
// nothing was found. The write step, Dml::Detail::WriteObject, turns "found"
// into "UpdateObject" (the new object's key, the diff from the found object to
// the new one; sent even when empty) and "missing" into "RegisterObject" of
// the whole object.
//
// Failures of a step are wrapped by the job framework in 0xF90004 built from
// the job's description "DML process object by ID job." (object_processor
// "Describe" 55). An object without a key throws 0xFC000A from
// MakeWriteObjectJob before anything is sent.
//
// Threading: the factory and the first step run on the caller's thread; the
// per-object reads, the second step and the completion on the threads that
// complete the previous step. Objects are processed one at a time, so the
// nothing-found flag and the write step's key and diff take no lock.
#pragma once

#include <functional>
#include <memory>

#include "enterprise/common/async/action_adaptor.h"
#include "enterprise/common/async/job_composition.h"
#include "enterprise/common/dml/entry_point.h"
#include "enterprise/common/dml/service_interfaces.h"
#include "enterprise/common/por/unit_accessor.h"
#include "enterprise/common/por/unit_factory.h"
#include "xidl/view_management.h"

namespace Dml {

namespace Detail {

class WriteObject final : public ObjectProcessor
{
public:
    // The write step shares `object` with the caller and hands it on to
    // "RegisterObject" without a copy: nobody may change it while the job runs.
    WriteObject(const Por::UnitAccessor& object, ObjectRegistry* registry,
                const Por::Construction::UnitFactory* unitFactory)
        : m_object(object), m_unit(object.GetShared()), m_registry(registry), m_unitFactory(unitFactory)
    {
    }

    std::shared_ptr<Async::Job> Process(const Por::View::Unit& existing, Async::ActionHandler& handler) override;
    std::shared_ptr<Async::Job> ProcessMissing(Async::ActionHandler& handler) override;

private:
    Por::UnitAccessor m_object;
    std::shared_ptr<const Por::View::Unit> m_unit; // the unit of m_object
    ObjectRegistry* m_registry;
    const Por::Construction::UnitFactory* m_unitFactory;
    std::unique_ptr<Por::Construction::Unit> m_key;
    std::unique_ptr<Por::Construction::Unit> m_diff;
};

// Starts the object-processing job that stores `object`; the returned handle
// keeps the write step alive.
std::shared_ptr<Async::Job> MakeWriteObjectJob(const Core::EntryPoint& caller, const Por::UnitAccessor& object,
                                               PostOffice* postOffice, ObjectRegistry* registry,
                                               const Por::Construction::UnitFactory* unitFactory,
                                               Async::ActionHandler& handler);

} // namespace Detail

namespace ObjectProcessingImpl {

class ObjectProcessingJob final : public Async::JobComposition<ObjectProcessingJob>, public AsyncReportReader
{
public:
    ObjectProcessingJob(const Core::EntryPoint& caller, const ViewSpec& specification, ObjectProcessor* processor,
                        PostOffice* postOffice, const Por::Construction::UnitFactory* unitFactory);

    Async::EntityDescription Describe() const override;
    std::shared_ptr<Async::Job> Read(const std::shared_ptr<const Por::View::Unit>& object,
                                     Async::ActionHandler& handler) override;

    // Sets up the chain with `handler` and starts the first step.
    void Start(Async::ActionHandler& handler);
    // Step 1: the report over the key's view.
    std::shared_ptr<Async::Job> ReportObjects(Async::ActionHandler& handler);
    // Step 2: registers when nothing was found, else ends the chain.
    void ProcessIfMissing();

private:
    using StepCall = std::function<std::shared_ptr<Async::Job>(Async::ActionHandler&)>;

    // The chain's handler: a failure reaches the caller inside this job's
    // context error, whichever thread and moment it completed on.
    class ChainHandler final : public Async::ActionHandler
    {
    public:
        explicit ChainHandler(const ObjectProcessingJob& job) noexcept : m_job(job) {}
        void Completed(const Common::Error& result) override;
        Async::ActionHandler* target = nullptr;

    private:
        const ObjectProcessingJob& m_job;
    };

    Core::EntryPoint m_caller;
    ViewSpec m_specification;
    ObjectProcessor* m_processor;
    PostOffice* m_postOffice;
    const Por::Construction::UnitFactory* m_unitFactory;
    bool m_nothingFound = true;
    ChainHandler m_chainHandler{*this};
    StepCall m_reportObjects;
    StepCall m_processMissing;
    Async::ActionRefAdaptor<StepCall> m_reportObjectsAction{m_reportObjects};
    Async::ActionRefAdaptor<StepCall> m_processMissingAction{m_processMissing};
};

std::shared_ptr<Async::Job> StartObjectProcessing(const Core::EntryPoint& caller, const Por::View::Unit& key,
                                                  PostOffice* postOffice, ObjectProcessor* processor,
                                                  const Por::Construction::UnitFactory* unitFactory,
                                                  Async::ActionHandler& handler);

} // namespace ObjectProcessingImpl

} // namespace Dml
