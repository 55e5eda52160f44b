// The DML service interfaces: the object registry writes objects, the post
// office opens views, a subscription is an open dynamic view; reports and
// updates flow to the readers, per-object work goes to an object processor and
// the delete-by-pattern workflow tells a progress receiver how far it got.
//
// Every asynchronous operation takes the handler last and returns the running
// job, or an empty pointer when the work completed before the call returned;
// the handler receives exactly one completion. The post office keeps only a
// plain reference to a report reader: the caller keeps its owner alive until
// the view's job has completed.
//
// Declaration order is the binary order; never insert or reorder.
// Threading: the interfaces hold no state; completions and deliveries may come
// on any thread (see each implementation).
#pragma once

#include <memory>

#include "core/common/non_copyable.h"
#include "enterprise/common/async/job.h"
#include "enterprise/common/por/unit.h"

namespace Core {
class EntryPoint;
}

namespace Por {
class ConstUnitAccessor;
class UnitAccessor;
} // namespace Por

namespace Dml {

struct ViewSpec;

class ObjectRegistry : private Common::NonCopyable
{
public:
    virtual ~ObjectRegistry() = default;
    virtual std::shared_ptr<Async::Job> RegisterObject(const Por::View::Unit& object,
                                                       Async::ActionHandler& handler) = 0;
    virtual std::shared_ptr<Async::Job> RegisterObject(const Por::UnitAccessor& object,
                                                       Async::ActionHandler& handler) = 0;
    virtual std::shared_ptr<Async::Job> UpdateObject(const Por::View::Unit& key, const Por::View::Unit& patch,
                                                     Async::ActionHandler& handler) = 0;
    virtual std::shared_ptr<Async::Job> UpdateObject(const Por::ConstUnitAccessor& key, const Por::UnitAccessor& patch,
                                                     Async::ActionHandler& handler) = 0;
    virtual std::shared_ptr<Async::Job> UnregisterObject(const Por::View::Unit& key, Async::ActionHandler& handler) = 0;
    virtual std::shared_ptr<Async::Job> UnregisterObject(const Por::ConstUnitAccessor& key,
                                                         Async::ActionHandler& handler) = 0;
};

// Receiver of view updates: one operation per update type.
class UpdateReader : private Common::NonCopyable
{
public:
    virtual ~UpdateReader() = default;
    virtual void ReadType0(const Por::View::Unit& key) = 0;
    virtual void ReadType1(const Por::View::Unit& key, const Por::View::Unit& packedUpdate) = 0;
    virtual void ReadType2(const Por::View::Unit& key) = 0;
};

// Synchronous receiver of a report, one Read per unit.
class ReportReader : private Common::NonCopyable
{
public:
    virtual ~ReportReader() = default;
    virtual void Read(const Por::View::Unit& unit) = 0;
    // Reads the unit at the accessor's path (nothing there: nothing is read).
    virtual void Read(const Por::UnitAccessor& accessor);
};

// Asynchronous receiver of a report: the handler's completion ends the
// processing of one object.
class AsyncReportReader : private Common::NonCopyable
{
public:
    virtual ~AsyncReportReader() = default;
    virtual std::shared_ptr<Async::Job> Read(const std::shared_ptr<const Por::View::Unit>& object,
                                             Async::ActionHandler& handler) = 0;
};

// An open dynamic view; destroying it closes the view.
class Subscription : private Common::NonCopyable
{
public:
    virtual ~Subscription() = default;
    virtual std::shared_ptr<Async::Job> Read(UpdateReader& reader, Async::ActionHandler& handler) = 0;
};

class PostOffice : private Common::NonCopyable
{
public:
    virtual ~PostOffice() = default;
    // The snapshot goes to the reader, then the new subscription into
    // `subscription`, then the handler completes.
    virtual std::shared_ptr<Async::Job> OpenDynamicView(const Core::EntryPoint& caller, const ViewSpec& specification,
                                                        const std::shared_ptr<ReportReader>& reader,
                                                        std::unique_ptr<Subscription>& subscription,
                                                        Async::ActionHandler& handler) = 0;
    // The snapshot goes to the reader, then the handler completes.
    virtual std::shared_ptr<Async::Job> OpenStaticView(const Core::EntryPoint& caller, const ViewSpec& specification,
                                                       const std::shared_ptr<ReportReader>& reader,
                                                       Async::ActionHandler& handler) = 0;
};

// What the object-processing job does with the object found under a key.
class ObjectProcessor : private Common::NonCopyable
{
public:
    virtual ~ObjectProcessor() = default;
    virtual std::shared_ptr<Async::Job> Process(const Por::View::Unit& existing, Async::ActionHandler& handler) = 0;
    // Nothing was found.
    virtual std::shared_ptr<Async::Job> ProcessMissing(Async::ActionHandler& handler) = 0;
};

// Progress receiver of the delete-by-pattern workflow; its operation comes
// first in its table, the destructors after it.
class ProgressCallback : private Common::NonCopyable
{
public:
    virtual void OnProgress(unsigned int count) = 0;
    virtual ~ProgressCallback() = default;
};

} // namespace Dml
