// The update processors of "update": report readers that update each reported
// object through the action facade, one object at a time, and keep count of
// what they did.
//
// The diff processor sends the same "Diff" unit to every object; the state
// processor sends, per object, the diff from the object to the object with the
// "State" merged in (the empty diff when it already has the state, still
// sent). The object's key is its "PrimaryKey" unit; an object without one
// fails with 0xFC000A before anything is sent for it.
//
// A processor counts the objects whose update succeeded and keeps the object
// whose processing failed (a failed patch or key, thrown by Read, or a failed
// update, completed through the processor on its way to the report's handler).
//
// Threading: Read is called on the report's completion threads, never twice
// at once, and the next Read follows the completion of the previous object;
// the processors only read the state unit and the factory. The count and the
// failed object are read once the report has ended.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "enterprise/common/dml/service_holder.h"
#include "enterprise/common/dml/service_interfaces.h"
#include "enterprise/common/por/unit_factory.h"

namespace Objpatcher {

class UpdateProcessor : public Dml::AsyncReportReader, private Async::ActionHandler
{
public:
    ~UpdateProcessor() override;

    std::shared_ptr<Async::Job> Read(const std::shared_ptr<const Por::View::Unit>& object,
                                     Async::ActionHandler& handler) final;

    // The objects whose update succeeded.
    uint64_t GetUpdatedCount() const noexcept { return m_updated.load(std::memory_order_acquire); }
    // The object whose processing failed; null while none failed.
    const std::shared_ptr<const Por::View::Unit>& GetFailedObject() const noexcept { return m_failed; }

protected:
    explicit UpdateProcessor(std::shared_ptr<Dml::ServiceHolder> holder);

    virtual std::shared_ptr<Por::Construction::Unit> GetPatch(const Por::View::Unit& object) = 0;

private:
    // The completion of the current object's update, passed on to the report.
    void Completed(const Common::Error& result) override;

    std::shared_ptr<Dml::ServiceHolder> m_holder;
    std::shared_ptr<const Por::View::Unit> m_current; // the object being updated
    Async::ActionHandler* m_handler = nullptr;        // the report's handler of the current object
    std::shared_ptr<const Por::View::Unit> m_failed;
    std::atomic<uint64_t> m_updated{0};
};

// `diff` is shared by every update (each update copies it).
std::unique_ptr<UpdateProcessor> MakeDiffUpdateProcessor(std::shared_ptr<Dml::ServiceHolder> holder,
                                                         std::shared_ptr<Por::Construction::Unit> diff);
// `state` and `factory` outlive the processor.
std::unique_ptr<UpdateProcessor> MakeStateUpdateProcessor(std::shared_ptr<Dml::ServiceHolder> holder,
                                                          const Por::View::Unit& state,
                                                          const Por::Construction::UnitFactory& factory);

} // namespace Objpatcher
