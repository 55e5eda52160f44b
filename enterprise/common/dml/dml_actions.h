// The DML actions: each holds its inputs and, when performed, starts the job
// that does the work; the caller's handler gets that job's one completion.
//
//   Update               ObjectRegistry::UpdateObject(key, patch)
//   UnregisterByPattern  the delete-by-pattern journal over a pattern
//   Overwrite            the object-processing job that stores an object
//   LongReport           an asynchronous report under the sequential
//                        asynchronizer, one object at a time
//
// The returned job handle keeps the action's units (or the report reader)
// alive, so the action may be destroyed as soon as Perform has returned; an
// action may be performed more than once, each time starting an independent
// job. The services are borrowed and must outlive every job.
//
// Threading: Perform runs on the caller's thread and changes nothing; the jobs
// complete on other threads.
#pragma once

#include <memory>

#include "enterprise/common/async/job.h"
#include "enterprise/common/dml/entry_point.h"
#include "enterprise/common/dml/service_interfaces.h"
#include "enterprise/common/por/unit_accessor.h"
#include "enterprise/common/por/unit_factory.h"
#include "enterprise/common/por/unit_holder.h"
#include "xidl/view_management.h"

namespace Dml::Actions {

namespace Detail {

class WriteAction : public virtual Async::Action
{
protected:
    explicit WriteAction(ObjectRegistry* registry) noexcept : m_registry(registry) {}
    ObjectRegistry* m_registry;
};

class ReadWriteAction : public virtual Async::Action
{
protected:
    ReadWriteAction(const Core::EntryPoint& caller, PostOffice* postOffice, ObjectRegistry* registry)
        : m_caller(caller), m_postOffice(postOffice), m_registry(registry)
    {
    }
    Core::EntryPoint m_caller;
    PostOffice* m_postOffice;
    ObjectRegistry* m_registry;
};

class ReadAction : public virtual Async::Action
{
protected:
    ReadAction(const Core::EntryPoint& caller, const ViewSpec& specification, PostOffice* postOffice)
        : m_caller(caller), m_specification(specification), m_postOffice(postOffice)
    {
    }
    Core::EntryPoint m_caller;
    ViewSpec m_specification;
    PostOffice* m_postOffice;
};

} // namespace Detail

class Update final : public Detail::WriteAction
{
public:
    Update(const Por::View::SafeUnitHolder& key, const Por::View::SafeUnitHolder& patch, ObjectRegistry* registry)
        : WriteAction(registry), m_key(key), m_patch(patch)
    {
    }
    std::shared_ptr<Async::Job> Perform(Async::ActionHandler& handler) override;

private:
    Por::View::SafeUnitHolder m_key;
    Por::View::SafeUnitHolder m_patch;
};

class UnregisterByPattern final : public Detail::ReadWriteAction
{
public:
    UnregisterByPattern(const Core::EntryPoint& caller, const Por::View::SafeUnitHolder& pattern,
                        PostOffice* postOffice, ObjectRegistry* registry,
                        const Por::Construction::UnitFactory* unitFactory)
        : ReadWriteAction(caller, postOffice, registry), m_unitFactory(unitFactory), m_pattern(pattern)
    {
    }
    std::shared_ptr<Async::Job> Perform(Async::ActionHandler& handler) override;

private:
    const Por::Construction::UnitFactory* m_unitFactory;
    Por::View::SafeUnitHolder m_pattern;
};

class Overwrite final : public Detail::ReadWriteAction
{
public:
    // Throws 0xFC000A from Perform when the object has no key. The object is
    // shared, not copied, and must hold a unit that nobody changes while the
    // job runs.
    Overwrite(const Core::EntryPoint& caller, const Por::UnitAccessor& object, PostOffice* postOffice,
              ObjectRegistry* registry, const Por::Construction::UnitFactory* unitFactory)
        : ReadWriteAction(caller, postOffice, registry), m_unitFactory(unitFactory), m_object(object)
    {
    }
    std::shared_ptr<Async::Job> Perform(Async::ActionHandler& handler) override;

private:
    const Por::Construction::UnitFactory* m_unitFactory;
    Por::UnitAccessor m_object;
};

class LongReport final : public Detail::ReadAction
{
public:
    // The reader must not be empty.
    LongReport(const Core::EntryPoint& caller, const ViewSpec& specification,
               const std::shared_ptr<AsyncReportReader>& reader, PostOffice* postOffice,
               const Por::Construction::UnitFactory* unitFactory)
        : ReadAction(caller, specification, postOffice), m_reader(reader), m_unitFactory(unitFactory)
    {
    }
    std::shared_ptr<Async::Job> Perform(Async::ActionHandler& handler) override;

private:
    std::shared_ptr<AsyncReportReader> m_reader;
    const Por::Construction::UnitFactory* m_unitFactory;
};

} // namespace Dml::Actions
