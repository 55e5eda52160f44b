// Action adaptors and the life-cycle completion that ties data to job handles.
#include <gtest/gtest.h>

#include <boost/bind/bind.hpp>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "enterprise/common/async/action_adaptor.h"
#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/async/base_job.h"

namespace {

using AsyncTest::RecordingHandler;
using Log = std::vector<std::string>;

// A job that logs its destruction and counts cancels.
class LoggingJob : public Async::BaseJob
{
public:
    explicit LoggingJob(Log& log) : m_log(log) {}
    ~LoggingJob() override { m_log.push_back("job"); }
    void Cancel() override { ++cancels; }
    int cancels = 0;

private:
    Log& m_log;
};

// Data that logs its destruction under a name.
struct LoggingData
{
    LoggingData(Log* target, std::string dataName) : log(target), name(std::move(dataName)) {}
    LoggingData(const LoggingData& other) = default;

    Log* log;
    std::string name;
    ~LoggingData()
    {
        if (log)
            log->push_back(name);
    }
};

// Starts a LoggingJob (kept in `started`) and completes nothing.
struct Starter
{
    explicit Starter(Log& target) : log(target) {}

    Log& log;
    std::shared_ptr<LoggingJob> started;
    int calls = 0;

    std::shared_ptr<Async::Job> Start(Async::ActionHandler&)
    {
        ++calls;
        started = std::make_shared<LoggingJob>(log);
        return started;
    }
    std::shared_ptr<Async::Job> StartWith(int, Async::ActionHandler& handler) { return Start(handler); }
};

TEST(ActionAdaptor, NullSharedDataReturnsExactlyTheCallablesHandle)
{
    Log log;
    Starter starter(log);
    auto action = Async::Detail::MakeActionAdaptor(
        std::function<std::shared_ptr<Async::Job>(Async::ActionHandler&)>(
            [&](Async::ActionHandler& handler) { return starter.Start(handler); }),
        std::shared_ptr<LoggingData>());
    RecordingHandler handler;
    const std::shared_ptr<Async::Job> job = action->Perform(handler);
    EXPECT_EQ(job.get(), starter.started.get());
    EXPECT_EQ(job.use_count(), 2); // the same control block: no wrapper
}

TEST(ActionAdaptor, EmptyHandleWithDataTestsEmptyButKeepsTheDataUntilReleased)
{
    Log log;
    auto data = std::make_shared<LoggingData>(&log, "data");
    auto action = Async::Detail::MakeActionAdaptor(
        [](Async::ActionHandler& handler) {
            handler.Completed(Common::Success);
            return std::shared_ptr<Async::Job>();
        },
        data);
    std::weak_ptr<LoggingData> watch = data;
    data.reset();
    RecordingHandler handler;
    std::shared_ptr<Async::Job> job = action->Perform(handler);
    EXPECT_EQ(handler.calls.load(), 1);
    EXPECT_FALSE(job);
    action.reset();
    EXPECT_FALSE(watch.expired());
    job.reset();
    EXPECT_TRUE(watch.expired());
}

// The adaptor destroyed while its job runs: the returned handle keeps the data,
// and releases the job before the data.
TEST(ActionAdaptor, HandleOutlivesTheAdaptorAndReleasesJobBeforeData)
{
    Log log;
    Starter starter(log);
    auto action = Async::Detail::MakeActionAdaptor(std::bind(&Starter::Start, &starter, std::placeholders::_1),
                                                   std::make_shared<LoggingData>(&log, "data"));
    RecordingHandler handler;
    std::shared_ptr<Async::Job> job = action->Perform(handler);
    starter.started.reset();
    action.reset();
    EXPECT_TRUE(log.empty());
    job.reset();
    EXPECT_EQ(log, (Log{"job", "data"}));
}

TEST(ActionAdaptor, EachPerformRunsTheCallableAgainWithItsOwnAttachment)
{
    Log log;
    Starter starter(log);
    auto data = std::make_shared<int>(5);
    auto action = Async::Detail::MakeActionAdaptor(std::bind(&Starter::StartWith, &starter, 1, std::placeholders::_1),
                                                   data);
    RecordingHandler handler;
    auto first = action->Perform(handler);
    auto second = action->Perform(handler);
    EXPECT_EQ(starter.calls, 2);
    EXPECT_NE(first.get(), second.get());
    EXPECT_EQ(data.use_count(), 4); // ours, the adaptor's, one copy per handle
}

TEST(ActionAdaptor, EveryCallableFormIsCalledWithTheHandler)
{
    Log log;
    auto shared = std::make_shared<Starter>(log);
    Starter& starter = *shared;
    RecordingHandler handler;
    std::vector<std::unique_ptr<Async::Action>> actions;
    actions.push_back(Async::Detail::MakeActionAdaptor(std::bind(&Starter::Start, &starter, std::placeholders::_1)));
    actions.push_back(
        Async::Detail::MakeActionAdaptor(std::bind(&Starter::Start, std::ref(starter), std::placeholders::_1)));
    actions.push_back(Async::Detail::MakeActionAdaptor(std::bind(&Starter::Start, shared, std::placeholders::_1)));
    actions.push_back(
        Async::Detail::MakeActionAdaptor(std::bind(std::mem_fn(&Starter::Start), &starter, std::placeholders::_1)));
    actions.push_back(
        Async::Detail::MakeActionAdaptor(boost::bind(&Starter::Start, &starter, boost::placeholders::_1)));
    for (auto& action : actions)
        EXPECT_NE(action->Perform(handler), nullptr);
    EXPECT_EQ(starter.calls, 5);
}

TEST(ActionAdaptor, EmptyFunctionThrowsAndCallsNothing)
{
    auto action = Async::Detail::MakeActionAdaptor(std::function<std::shared_ptr<Async::Job>(Async::ActionHandler&)>());
    RecordingHandler handler;
    EXPECT_THROW(action->Perform(handler), std::bad_function_call);
    EXPECT_EQ(handler.calls.load(), 0);
}

TEST(ActionRefAdaptor, CallsTheReferencedCallableAndReturnsItsHandle)
{
    Log log;
    Starter starter(log);
    auto call = std::bind(&Starter::Start, &starter, std::placeholders::_1);
    Async::ActionRefAdaptor<decltype(call)> action(call);
    RecordingHandler handler;
    const auto job = action.Perform(handler);
    EXPECT_EQ(job.get(), starter.started.get());
    EXPECT_EQ(job.use_count(), 2);
}

TEST(AttachLifeCycleData, EightFailedAllocationsCancelOnceAndReturnTheBareHandle)
{
    Log log;
    auto job = std::make_shared<LoggingJob>(log);
    auto data = std::make_shared<LoggingData>(&log, "data");
    Async::Detail::SetHandleAllocationFailuresForTesting(8);
    const std::shared_ptr<Async::Job> result = Async::Detail::AttachLifeCycleData<Async::Job>(job, data);
    Async::Detail::SetHandleAllocationFailuresForTesting(0);
    EXPECT_EQ(job->cancels, 1);
    EXPECT_EQ(result.get(), job.get());
    EXPECT_EQ(result.use_count(), 2); // bare: shares the job's own control block
    EXPECT_EQ(data.use_count(), 1);   // the copy of the data pack was released
}

TEST(AttachLifeCycleData, SevenFailedAllocationsStillAttach)
{
    Log log;
    auto job = std::make_shared<LoggingJob>(log);
    Async::Detail::SetHandleAllocationFailuresForTesting(7);
    std::shared_ptr<Async::Job> result = Async::Detail::AttachLifeCycleData<Async::Job>(job,
                                                                                        LoggingData{nullptr, "copy"});
    Async::Detail::SetHandleAllocationFailuresForTesting(0);
    EXPECT_EQ(job->cancels, 0);
    EXPECT_EQ(result.get(), job.get());
    EXPECT_EQ(job.use_count(), 2); // ours and the deleter's
}

TEST(ConsolidatedData, ValuesAreDestroyedLastToFirst)
{
    Log log;
    {
        Async::Detail::ConsolidatedData<LoggingData, LoggingData, LoggingData, LoggingData> data{
            LoggingData(&log, "1"), LoggingData(&log, "2"), LoggingData(&log, "3"), LoggingData(&log, "4")};
    }
    EXPECT_EQ(log, (Log{"4", "3", "2", "1"}));
}

} // namespace
