// Dml::PromiseFacade hands the delete-by-pattern journal its two remote
// operations in the shapes a journal step takes: Register makes an action that
// registers one operation unit; ReadCount makes a function that counts the
// objects of a view into the unsigned variable named when it is called.
// Services come from a Dml::ServiceHolder, so a missing one throws 0xFC0031
// located in the facade (promise_facade "Register" 242, "ReadCountAction" 382
// for the factory and 384 for the post office).
//
// The registration action keeps a share of the unit; the counting job keeps
// its reader, which sets the count to each delivered unit's "CounterValue"
// (0 when absent); the count is reset to 0 before the view opens.
//
// Threading: the facade is immutable and may be shared; the count is written
// on the delivering thread and read after the handler's completion.
#pragma once

#include <functional>
#include <memory>

#include "enterprise/common/async/job.h"
#include "enterprise/common/dml/entry_point.h"
#include "enterprise/common/dml/service_holder.h"
#include "xidl/view_management.h"

namespace Dml {

class PromiseFacade
{
public:
    using CountFunction =
        std::function<std::shared_ptr<Async::Job>(unsigned int& count, Async::ActionHandler& handler)>;

    PromiseFacade(PostOffice* postOffice, ObjectRegistry* registry,
                  const Por::Construction::UnitFactory* unitFactory) noexcept
        : m_services(postOffice, registry, unitFactory)
    {
    }

    // An action registering `object`; the caller owns it.
    std::unique_ptr<Async::Action> Register(const std::shared_ptr<const Por::View::Unit>& object) const;
    // A function opening a counter view of `specification` per call.
    CountFunction ReadCount(const Core::EntryPoint& caller, const ViewSpec& specification) const;

private:
    ServiceHolder m_services;
};

namespace PromiseFacadeImpl {

class CountReader final : public ReportReader
{
public:
    explicit CountReader(unsigned int& count) noexcept : m_count(&count) {}
    void Read(const Por::View::Unit& unit) override;
    using ReportReader::Read;

private:
    unsigned int* m_count;
};

std::shared_ptr<Async::Job> ReadCountAction(Core::EntryPoint caller, ViewSpec specification, unsigned int& count,
                                            ServiceHolder services, Async::ActionHandler& handler);

} // namespace PromiseFacadeImpl

} // namespace Dml
