#include "enterprise/common/dml/async_report.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/async/waiting_handler.h"
#include "enterprise/common/dml/dml_errors.h"
#include "enterprise/common/dml/test_support/fake_services.h"
#include "enterprise/common/por/test_support/budget_factory.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/test_support/render.h"
#include "testing/error_matchers.h"

namespace {

using DmlTesting::FakePostOffice;
using DmlTesting::Snapshot;
using Testing::CausedBy;
using Testing::ChainContains;
using Testing::ErrorIs;
using Testing::HasText;
using Testing::RaisedAt;

constexpr Common::SourceFile kTestSource("enterprise/common/dml/report_test");
const Core::EntryPoint kCaller(kTestSource.At("Caller", 1));

Snapshot Units(std::initializer_list<unsigned> values)
{
    const PorTesting::Make m(*Por::Construction::GetDefaultUnitFactory());
    Snapshot units;
    for (unsigned value : values)
        units.push_back(std::shared_ptr<const Por::View::Unit>(m.DWord(value)));
    return units;
}

// Processes each object on a completer thread; counts how many are in
// progress at once; fails the objects named in `failures`.
class ProcessingReader final : public Dml::AsyncReportReader
{
public:
    explicit ProcessingReader(AsyncTest::Completers& completers) : m_completers(completers) {}

    std::shared_ptr<Async::Job> Read(const std::shared_ptr<const Por::View::Unit>& object,
                                     Async::ActionHandler& handler) override
    {
        const std::string text = PorTesting::Render(*object);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_seen.push_back(text);
            m_objects.push_back(object.get());
        }
        const int running = ++m_inProgress;
        int highest = m_mostInProgress.load();
        while (running > highest && !m_mostInProgress.compare_exchange_weak(highest, running)) {}
        Common::Error result;
        auto failure = failures.find(text);
        if (failure != failures.end())
            result = Common::Error(failure->second, kTestSource.At("Process", 2));
        m_completers.Post([this, result, &handler] {
            --m_inProgress;
            handler.Completed(result);
        });
        return std::make_shared<DmlTesting::ViewJob>();
    }

    std::vector<std::string> Seen() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }
    std::vector<const Por::View::Unit*> Objects() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_objects;
    }
    int MostInProgress() const { return m_mostInProgress.load(); }

    std::map<std::string, unsigned> failures;

private:
    AsyncTest::Completers& m_completers;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_seen;
    std::vector<const Por::View::Unit*> m_objects;
    std::atomic<int> m_inProgress{0};
    std::atomic<int> m_mostInProgress{0};
};

struct ReportRun
{
    Common::Error result;
    int copies;
};

// Runs a report over `snapshot` (delivered on another thread) under the
// asynchronizer and waits for its end.
ReportRun RunReport(const Snapshot& snapshot, const Common::Error& viewResult, ProcessingReader& reader,
                    AsyncTest::Completers& completers)
{
    FakePostOffice postOffice(&completers);
    postOffice.answer = [&](const Dml::ViewSpec&) { return FakePostOffice::View{snapshot, viewResult}; };
    PorTesting::BudgetFactory factory;
    Async::WaitingHandler waiting(true);
    std::shared_ptr<Async::Job> job = Async::AsynchronizeSequentially(
        std::make_unique<Dml::AsyncReport>(kCaller, Dml::ViewSpec{}, &reader, &postOffice, &factory), waiting);
    ReportRun run{waiting.Wait(nullptr), 0};
    job.reset();
    run.copies = factory.created;
    return run;
}

TEST(AsyncReportThreads, ObjectsAreHandedOverOneAtATimeInSnapshotOrderAsCopies)
{
    AsyncTest::Completers completers(3);
    ProcessingReader reader(completers);
    const Snapshot snapshot = Units({1, 2, 3});
    const ReportRun run = RunReport(snapshot, Common::Success, reader, completers);
    EXPECT_THAT(run.result, Testing::IsSuccessError());
    EXPECT_THAT(reader.Seen(), testing::ElementsAre("DWord 1", "DWord 2", "DWord 3"));
    EXPECT_EQ(reader.MostInProgress(), 1);
    EXPECT_EQ(run.copies, 3);
    for (const Por::View::Unit* object : reader.Objects())
        for (const auto& delivered : snapshot)
            EXPECT_NE(object, delivered.get());
}

TEST(AsyncReportThreads, TheFirstFailingObjectEndsTheReport)
{
    AsyncTest::Completers completers(3);
    ProcessingReader reader(completers);
    reader.failures = {{"DWord 2", 0x40003}, {"DWord 3", 0x40004}};
    const ReportRun run = RunReport(Units({1, 2, 3}), Common::Success, reader, completers);
    EXPECT_THAT(run.result, ChainContains(ErrorIs(0x40003)));
    EXPECT_THAT(run.result, testing::Not(ChainContains(ErrorIs(0x40004))));
    EXPECT_THAT(reader.Seen(), testing::ElementsAre("DWord 1", "DWord 2"));
}

TEST(AsyncReportThreads, AnEmptySnapshotPassesTheViewsResultOn)
{
    AsyncTest::Completers completers(2);
    ProcessingReader reader(completers);
    EXPECT_THAT(RunReport({}, Common::Success, reader, completers).result, Testing::IsSuccessError());
    const Common::Error viewFailure(0x40001, kTestSource.At("View", 3));
    EXPECT_THAT(RunReport({}, viewFailure, reader, completers).result, ChainContains(ErrorIs(0x40001)));
    EXPECT_TRUE(reader.Seen().empty());
}

// Takes actions without running them; refuses the call numbered `refuseAt`.
class RefusingConsumer final : public Async::ActionConsumer
{
public:
    Common::Error Consume(std::unique_ptr<Async::Action>) override
    {
        ++calls;
        if (calls == refuseAt)
            return Common::Error(0xF90005, kTestSource.At("Consume", 4));
        return Common::Success;
    }
    int calls = 0;
    int refuseAt = 0;
};

class NeverCalledReader final : public Dml::AsyncReportReader
{
public:
    std::shared_ptr<Async::Job> Read(const std::shared_ptr<const Por::View::Unit>&, Async::ActionHandler&) override
    {
        ADD_FAILURE() << "the consumer runs nothing";
        return {};
    }
};

TEST(AsyncReport, ARefusedObjectStopsTheConsumerAndTurnsTheResultIntoACallbackFailure)
{
    FakePostOffice postOffice;
    postOffice.answer = [](const Dml::ViewSpec&) { return FakePostOffice::View{Units({1, 2, 3}), Common::Success}; };
    NeverCalledReader reader;
    Dml::AsyncReport report(kCaller, Dml::ViewSpec{}, &reader, &postOffice, Por::Construction::GetDefaultUnitFactory());
    RefusingConsumer consumer;
    consumer.refuseAt = 2;
    AsyncTest::RecordingHandler handler;
    std::shared_ptr<Async::Job> job = report.Read(consumer, handler);
    EXPECT_TRUE(job);
    EXPECT_EQ(consumer.calls, 2);
    ASSERT_EQ(handler.calls.load(), 1);
    const Common::Error result = handler.Last();
    EXPECT_THAT(result, ErrorIs(Dml::DML_ERROR_CALLBACK));
    EXPECT_THAT(result, HasText(u"Async action consumer failed to handle action."));
    EXPECT_THAT(result, RaisedAt("enterprise/common/dml/async_report", "Completed", 78));
    EXPECT_EQ(result.GetLocation().LineTag, 0x88c55307d6ee82d1ull);
    EXPECT_EQ(result.GetIntegerParameter("TraceLevel"), 1u);
    EXPECT_THAT(result, CausedBy(ErrorIs(0xF90005)));
}

TEST(AsyncReport, TheDelegateLivesAsLongAsTheViewJob)
{
    // A post office that keeps only a weak look at the reader it was given.
    class WatchingPostOffice final : public Dml::PostOffice
    {
    public:
        std::shared_ptr<Async::Job> OpenStaticView(const Core::EntryPoint&, const Dml::ViewSpec&,
                                                   const std::shared_ptr<Dml::ReportReader>& reader,
                                                   Async::ActionHandler&) override
        {
            watched = reader;
            return std::make_shared<DmlTesting::ViewJob>();
        }
        std::shared_ptr<Async::Job> OpenDynamicView(const Core::EntryPoint&, const Dml::ViewSpec&,
                                                    const std::shared_ptr<Dml::ReportReader>&,
                                                    std::unique_ptr<Dml::Subscription>&, Async::ActionHandler&) override
        {
            return {};
        }
        std::weak_ptr<Dml::ReportReader> watched;
    } postOffice;
    NeverCalledReader reader;
    Dml::AsyncReport report(kCaller, Dml::ViewSpec{}, &reader, &postOffice, Por::Construction::GetDefaultUnitFactory());
    RefusingConsumer consumer;
    AsyncTest::RecordingHandler handler;
    std::shared_ptr<Async::Job> job = report.Read(consumer, handler);
    EXPECT_FALSE(postOffice.watched.expired());
    job.reset();
    EXPECT_TRUE(postOffice.watched.expired());
}

} // namespace
