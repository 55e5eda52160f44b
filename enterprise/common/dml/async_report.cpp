#include "enterprise/common/dml/async_report.h"

#include <utility>

#include "core/common/error.h"
#include "enterprise/common/async/action_adaptor.h"
#include "enterprise/common/dml/dml_errors.h"
#include "enterprise/common/por/unit_copier.h"

namespace Dml {
namespace {

constexpr Common::SourceFile kSource("enterprise/common/dml/async_report", 0x88c55307d6ee82d1ull - 78);

// The per-object call: the reader's Read with the report's copy of the object.
struct ReadObject
{
    AsyncReportReader* reader;
    std::shared_ptr<const Por::View::Unit> object;

    std::shared_ptr<Async::Job> operator()(Async::ActionHandler& handler) const
    {
        return reader->Read(object, handler);
    }
};

} // namespace

AsyncReport::AsyncReport(const Core::EntryPoint& caller, const ViewSpec& specification, AsyncReportReader* reader,
                         PostOffice* postOffice, const Por::Construction::UnitFactory* unitFactory)
    : m_caller(caller), m_specification(specification), m_reader(reader), m_postOffice(postOffice),
      m_unitFactory(unitFactory)
{
}

AsyncReport::~AsyncReport() = default;

std::shared_ptr<Async::Job> AsyncReport::Read(Async::ActionConsumer& consumer, Async::ActionHandler& handler)
{
    m_consumer = &consumer;
    m_handler = &handler;
    const std::shared_ptr<ReportReader> delegate = std::make_shared<ReportReaderDelegate>(
        static_cast<ReportReader*>(this));
    std::shared_ptr<Async::Job> job = m_postOffice->OpenStaticView(m_caller, m_specification, delegate,
                                                                   static_cast<Async::ActionHandler&>(*this));
    return Async::Detail::AttachLifeCycleData(std::move(job), delegate);
}

void AsyncReport::Read(const Por::View::Unit& unit)
{
    if (!m_consumerFailure.IsSuccess() || !m_consumer)
        return;
    const std::shared_ptr<const Por::View::Unit> copy(Por::Util::CopyUnit(unit, *m_unitFactory));
    std::unique_ptr<Async::Action> action = Async::Detail::MakeActionAdaptor(ReadObject{m_reader, copy}, copy);
    m_consumerFailure = m_consumer->Consume(std::move(action));
}

void AsyncReport::Completed(const Common::Error& result)
{
    Async::ActionHandler* handler = m_handler;
    if (m_consumerFailure.IsSuccess()) {
        handler->Completed(result);
        return;
    }
    Common::Error refused = Common::MakeTraceLevelError(
        DML_ERROR_CALLBACK, u"Async action consumer failed to handle action.", kSource.At("Completed", 78));
    refused.AddCause(m_consumerFailure);
    handler->Completed(refused);
}

void ReportReaderDelegate::Read(const Por::View::Unit& unit)
{
    m_target->Read(unit);
}

} // namespace Dml
