// Dml::AsyncReport: reads one static view and turns each object of its
// snapshot into an action that the report's Dml::AsyncReportReader performs.
// It is an Async::ActionReader: the asynchronizer (AsynchronizeSequentially)
// calls Read once with its consumer, and the report feeds the consumer one
// action per object while the post office delivers the snapshot; the
// asynchronizer runs the actions one at a time, in the order consumed.
//
// Each delivered unit is copied with the report's factory (the delivered unit
// is valid only during the delivery); the action and its job handle share the
// copy. After the first refused action the report drops further objects and
// never calls the consumer again; the end of the view then passes on 0xFC0001
// "Async action consumer failed to handle action." (async_report "Completed"
// 78, trace level 1) caused by the refusal, whatever the view returned.
//
// The report never performs the actions itself; a failure of an object's job
// reaches the asynchronizer through that job's own completion.
//
// Dml::ReportReaderDelegate forwards each unit to a report reader it does not
// own, so that the post office can hold a std::shared_ptr reader while the
// report itself belongs to the asynchronizer's job.
//
// Threading: no lock. The post office calls the per-object Read and Completed
// one after the other for one view; the stored consumer result is written by
// the delivery and read by Completed, which follows the last delivery.
#pragma once

#include <memory>

#include "enterprise/common/async/asynchronizer.h"
#include "enterprise/common/dml/entry_point.h"
#include "enterprise/common/dml/service_interfaces.h"
#include "enterprise/common/por/unit_factory.h"
#include "xidl/view_management.h"

namespace Dml {

class AsyncReport : public Async::ActionReader, public ReportReader, public Async::ActionHandler
{
public:
    // The reader, post office and factory must outlive the report's job.
    AsyncReport(const Core::EntryPoint& caller, const ViewSpec& specification, AsyncReportReader* reader,
                PostOffice* postOffice, const Por::Construction::UnitFactory* unitFactory);
    ~AsyncReport() override;

    // Opens the static view; the returned job keeps the delegate alive.
    std::shared_ptr<Async::Job> Read(Async::ActionConsumer& consumer, Async::ActionHandler& handler) override;
    // One object of the snapshot.
    void Read(const Por::View::Unit& unit) override;
    using ReportReader::Read;
    // The end of the view.
    void Completed(const Common::Error& result) override;

private:
    Core::EntryPoint m_caller;
    ViewSpec m_specification;
    AsyncReportReader* m_reader;
    PostOffice* m_postOffice;
    const Por::Construction::UnitFactory* m_unitFactory;
    Async::ActionConsumer* m_consumer = nullptr;
    Async::ActionHandler* m_handler = nullptr;
    Common::Error m_consumerFailure;
};

class ReportReaderDelegate final : public ReportReader
{
public:
    explicit ReportReaderDelegate(ReportReader* target) noexcept : m_target(target) {}
    void Read(const Por::View::Unit& unit) override;
    using ReportReader::Read;

private:
    ReportReader* m_target;
};

} // namespace Dml
