#include "enterprise/common/async/journal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "enterprise/common/async/action_adaptor.h"
#include "enterprise/common/async/action_factory_executor.h"
#include "enterprise/common/async/async_errors.h"
#include "enterprise/common/async/async_service.h"
#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/async/conditions.h"
#include "enterprise/common/async/future.h"
#include "enterprise/common/async/job_control.h"
#include "enterprise/common/async/synchronous_action.h"
#include "enterprise/common/async/waiting_handler.h"
#include "testing/error_matchers.h"
#include "testing/vtable_slot.h"

namespace {

using AsyncTest::RecordingHandler;
using AsyncTest::TestAction;
using Mode = AsyncTest::TestAction::Mode;
using Testing::CausedBy;
using Testing::ErrorIs;
using Testing::IsSuccessError;
using Testing::VirtualSlot;

const Common::Error kFailure(0x40001, Common::Location{});

// A synchronous step: calls its function and completes with success at once.
class Step : public Async::Action
{
public:
    explicit Step(std::function<void()> body) : m_body(std::move(body)) {}
    std::shared_ptr<Async::Job> Perform(Async::ActionHandler& handler) override
    {
        m_body();
        handler.Completed(Common::Success);
        return nullptr;
    }

private:
    std::function<void()> m_body;
};

std::shared_ptr<Async::Action> MakeStep(std::function<void()> body)
{
    return std::make_shared<Step>(std::move(body));
}

TEST(JournalSlots, ProcessJournalAndFuture)
{
    EXPECT_EQ(VirtualSlot(&Async::Process::MakeCompletionWaitAction), 3u);
    EXPECT_EQ(VirtualSlot(&Async::Process::MakeResultWaitAction), 4u);
    EXPECT_EQ(VirtualSlot(&Async::Journal::Perform), 2u);
    EXPECT_EQ(VirtualSlot(&Async::Journal::Add), 5u);
    EXPECT_EQ(VirtualSlot(&Async::Journal::AddFuture), 6u);
    EXPECT_EQ(VirtualSlot(&Async::Journal::IsCyclic), 7u);
    EXPECT_EQ(VirtualSlot(&Async::Future<unsigned>::GetCell), 0u);
}

TEST(Journal, RunsItsActionsInOrder)
{
    std::vector<char> order;
    Async::Journal journal;
    journal.Add(MakeStep([&] { order.push_back('a'); }));
    journal.Add(nullptr);
    journal.Add(MakeStep([&] { order.push_back('b'); }));
    RecordingHandler handler;
    const std::shared_ptr<Async::Job> job = journal.Perform(handler);
    EXPECT_EQ(order, (std::vector<char>{'a', 'b'}));
    EXPECT_EQ(handler.calls.load(), 1);
    EXPECT_THAT(handler.Last(), IsSuccessError());
}

TEST(Journal, AnEmptyJournalSucceedsAtOnce)
{
    Async::Journal journal;
    RecordingHandler handler;
    EXPECT_EQ(journal.Perform(handler), nullptr); // tests empty, though it holds the run's data
    EXPECT_THAT(handler.Last(), IsSuccessError());
}

TEST(Journal, AConditionalEndSkipsWhatFollowsOnlyWhenItHolds)
{
    for (const bool holds : {true, false}) {
        std::vector<char> order;
        Async::Journal journal;
        journal.Add(MakeStep([&] { order.push_back('a'); }));
        journal.BreakIf([holds] { return holds; });
        journal.Add(MakeStep([&] { order.push_back('b'); }));
        journal.BreakIf([] { return false; });
        journal.Add(MakeStep([&] { order.push_back('c'); }));
        RecordingHandler handler;
        const std::shared_ptr<Async::Job> job = journal.Perform(handler);
        const std::vector<char> expected = holds ? std::vector<char>{'a'} : std::vector<char>{'a', 'b', 'c'};
        EXPECT_EQ(order, expected);
        EXPECT_THAT(handler.Last(), IsSuccessError());
    }
}

TEST(Journal, BranchesOverTheReadyMadeConditions)
{
    std::vector<char> order;
    std::function<bool()> yes, no;
    Async::MakeTrueCondition(yes);
    Async::MakeFalseCondition(no);
    Async::Journal journal;
    journal.AddBranch(no, MakeStep([&] { order.push_back('n'); }));
    journal.AddBranch(yes, MakeStep([&] { order.push_back('y'); }));
    journal.Add(MakeStep([&] { order.push_back('z'); }));
    RecordingHandler handler;
    const std::shared_ptr<Async::Job> job = journal.Perform(handler);
    EXPECT_EQ(order, (std::vector<char>{'y', 'z'}));
    EXPECT_THAT(handler.Last(), IsSuccessError());
}

TEST(Journal, AFailureEndsTheRun)
{
    Async::Journal journal;
    auto after = std::make_shared<TestAction>(Mode::CompleteInPerform);
    journal.Add(std::make_shared<TestAction>(Mode::CompleteInPerform, kFailure));
    journal.Add(after);
    RecordingHandler handler;
    const std::shared_ptr<Async::Job> job = journal.Perform(handler);
    EXPECT_THAT(handler.Last(), CausedBy(ErrorIs(0x40001)));
    EXPECT_EQ(after->performs.load(), 0);
}

TEST(Journal, ACyclicJournalRepeatsWhileTheNegatedEndConditionLetsItPass)
{
    Async::Future<unsigned> counter;
    Async::CyclicJournal journal;
    journal.BreakIf(Async::MakeNegatedCondition(std::bind(std::less<unsigned>(), counter, 5u)));
    journal.Add(MakeStep([cell = counter.GetCell()] { ++*cell; }));
    RecordingHandler handler;
    const std::shared_ptr<Async::Job> job = journal.Perform(handler);
    EXPECT_EQ(*counter.GetCell(), 5u);
    EXPECT_THAT(handler.Last(), IsSuccessError());
}

// The run's handler first, then the completion waits (success), then the
// result waits (the run's result).
TEST(Journal, WaitersHearAfterTheHandlerCompletionWaitsFirst)
{
    std::vector<std::string> log;
    auto logging = [&log](std::string name) {
        return std::make_unique<RecordingHandler>([&log, name](const Common::Error& result) {
            log.push_back(name + (result.IsSuccess() ? " success" : " failure"));
        });
    };
    auto running = std::make_shared<TestAction>(Mode::CompleteLater);
    auto journal = std::make_unique<Async::Journal>();
    journal->Add(running);
    const std::unique_ptr<Async::Action> resultWait = journal->MakeResultWaitAction();
    const std::unique_ptr<Async::Action> completionWait = journal->MakeCompletionWaitAction();
    auto resultWaiter = logging("result wait");
    auto completionWaiter = logging("completion wait");
    auto handler = logging("handler");
    const std::shared_ptr<Async::Job> j1 = resultWait->Perform(*resultWaiter);
    const std::shared_ptr<Async::Job> j2 = completionWait->Perform(*completionWaiter);
    const std::shared_ptr<Async::Job> job = journal->Perform(*handler);
    journal.reset(); // the job keeps the workflow and the waiters alive
    EXPECT_TRUE(log.empty());
    running->Complete(kFailure);
    EXPECT_EQ(log, (std::vector<std::string>{"handler failure", "completion wait success", "result wait failure"}));
}

TEST(Journal, AFutureActionPerformsWhatTheCellHoldsThen)
{
    Async::Future<std::unique_ptr<Async::Action>> next;
    std::vector<char> order;
    Async::Journal journal;
    journal.Add(MakeStep([&order, cell = next.GetCell()] {
        order.push_back('a');
        *cell = std::make_unique<Step>([&order] { order.push_back('f'); });
    }));
    journal.AddFuture(next);
    RecordingHandler handler;
    const std::shared_ptr<Async::Job> job = journal.Perform(handler);
    EXPECT_EQ(order, (std::vector<char>{'a', 'f'}));
    EXPECT_THAT(handler.Last(), IsSuccessError());

    // A cell still empty when the run reaches it is an invalid result, not a crash.
    Async::Future<std::unique_ptr<Async::Action>> empty;
    RecordingHandler emptyHandler;
    EXPECT_EQ(Async::MakeFutureAction(empty)->Perform(emptyHandler), nullptr);
    EXPECT_THAT(emptyHandler.Last(), ErrorIs(Async::ASYNC_ERROR_RESULT_INVALID));
}

TEST(Conditions, ANegationEvaluatesItsConditionAnewEachCall)
{
    Async::Future<unsigned> value;
    const std::function<bool()> isZero = std::bind(std::equal_to<unsigned>(), value, 0u);
    const std::function<bool()> negated = Async::MakeNegatedCondition(isZero);
    std::function<bool()> filled;
    Async::MakeNegatedCondition(filled, isZero);
    EXPECT_FALSE(negated());
    EXPECT_FALSE(filled());
    *value.GetCell() = 3;
    EXPECT_TRUE(negated());
    EXPECT_TRUE(filled());
    EXPECT_THROW(Async::MakeNegatedCondition(std::function<bool()>())(), std::bad_function_call);
}

TEST(ResultToOutParameter, StoresTheCallsResultIntoTheCell)
{
    Async::Future<unsigned> total, clamped;
    *total.GetCell() = 250;
    Async::Detail::ResultToOutParameter assign(
        std::bind([](unsigned a, unsigned b) { return std::min(a, b); }, total, 100u), *clamped.GetCell());
    assign();
    EXPECT_EQ(*clamped.GetCell(), 100u);
}

TEST(ActionFactoryExecutor, PerformsTheMadeActionAndDestroysItOncePerformReturned)
{
    std::vector<std::string> log;
    struct Made : TestAction
    {
        explicit Made(std::vector<std::string>& events) : TestAction(Mode::CompleteLater), log(events) {}
        ~Made() override { log.push_back("destroyed"); }
        std::vector<std::string>& log;
    };
    Made* made = nullptr;
    const std::unique_ptr<Async::Action> action = Async::Detail::CreateActionFactoryExecutorAction([&] {
        log.push_back("made");
        auto created = std::make_unique<Made>(log);
        made = created.get();
        return std::unique_ptr<Async::Action>(std::move(created));
    });
    RecordingHandler handler;
    const std::shared_ptr<Async::Job> job = action->Perform(handler);
    EXPECT_EQ(log, (std::vector<std::string>{"made", "destroyed"}));
    ASSERT_NE(job, nullptr);

    const std::unique_ptr<Async::Action> throwing = Async::Detail::CreateActionFactoryExecutorAction(
        []() -> std::unique_ptr<Async::Action> { Common::ThrowError(kFailure); });
    EXPECT_THROW((void)throwing->Perform(handler), Common::Error);

    const std::unique_ptr<Async::Action> none = Async::Detail::CreateActionFactoryExecutorAction(
        [] { return std::unique_ptr<Async::Action>(); });
    RecordingHandler noneHandler;
    EXPECT_EQ(none->Perform(noneHandler), nullptr);
    EXPECT_THAT(noneHandler.Last(), ErrorIs(Async::ASYNC_ERROR_RESULT_INVALID));
}

// Registers one batch on a service thread.
class RegisterWork : public Async::Work
{
public:
    RegisterWork(unsigned batch, std::vector<unsigned>& registered, std::mutex& lock)
        : m_batch(batch), m_registered(registered), m_lock(lock)
    {
    }
    Common::Error Run() override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_registered.push_back(m_batch);
        return Common::Success;
    }
    void Detach() override {}

private:
    unsigned m_batch;
    std::vector<unsigned>& m_registered;
    std::mutex& m_lock;
};

// The registration: an action whose work runs on a service thread; its job
// keeps the work alive.
class RegisterAction : public Async::Action
{
public:
    RegisterAction(unsigned batch, std::vector<unsigned>& registered, std::mutex& lock)
        : m_work(std::make_shared<RegisterWork>(batch, registered, lock))
    {
    }
    std::shared_ptr<Async::Job> Perform(Async::ActionHandler& handler) override
    {
        Async::Service* service = nullptr;
        (void)GetAsyncService(&service);
        return Async::Detail::AttachLifeCycleData(service->PerformWork(*m_work, handler), m_work);
    }

private:
    std::shared_ptr<RegisterWork> m_work;
};

// A synchronous assignment step as the data layer builds it: the call's
// result goes into the future's cell, and the step keeps a share of the cell.
template <typename Call>
std::shared_ptr<Async::Action> MakeAssignment(Call call, const Async::Future<unsigned>& target)
{
    const std::shared_ptr<unsigned> cell = target.GetCell();
    return Async::Detail::MakeSilentSynchronousAction(
        std::function<void()>(Async::Detail::ResultToOutParameter(std::move(call), *cell)), cell);
}

bool IsLess(unsigned left, unsigned right)
{
    return left < right;
}

unsigned GetBatchSize(unsigned total, unsigned done, unsigned step)
{
    return std::min(total - done, step);
}

unsigned SumCounts(unsigned left, unsigned right)
{
    return left + right;
}

// The shape of a deletion by pattern: an outer journal counts, then a cyclic
// journal ends when done reaches total, computes a batch, registers it on
// another thread, advances and reports progress. The outer journal object is
// destroyed right after Perform.
TEST(JournalThreads, ADeletionShapedCycleRegistersEveryBatchAndSucceeds)
{
    struct Case
    {
        unsigned total;
        std::vector<unsigned> batches;
    };
    for (const Case& c : {Case{250, {100, 100, 50}}, Case{0, {}}, Case{200, {100, 100}}}) {
        Async::Future<unsigned> total, done, batch;
        std::vector<unsigned> registered, progress;
        std::mutex lock;

        auto cycle = std::make_shared<Async::CyclicJournal>();
        cycle->BreakIf(Async::MakeNegatedCondition(std::bind(&IsLess, done, total)));
        cycle->Add(MakeAssignment(std::bind(&GetBatchSize, total, done, 100u), batch));
        cycle->Add(std::shared_ptr<Async::Action>(Async::Detail::CreateActionFactoryExecutorAction(
            [batch, &registered, &lock] { return std::make_unique<RegisterAction>(batch, registered, lock); })));
        cycle->Add(MakeAssignment(std::bind(&SumCounts, done, batch), done));
        std::function<bool()> reporting;
        Async::MakeTrueCondition(reporting);
        cycle->AddBranch(reporting, MakeStep([&progress, done] { progress.push_back(done); }));

        auto outer = std::make_unique<Async::Journal>();
        outer->Add(MakeStep([cell = total.GetCell(), count = c.total] { *cell = count; }));
        outer->Add(cycle);
        cycle.reset();

        Async::JobControl control;
        Async::WaitingHandler waiting(true);
        control.Perform(*outer, waiting, nullptr);
        outer.reset();
        EXPECT_THAT(waiting.Wait(nullptr), IsSuccessError());
        EXPECT_EQ(registered, c.batches);
        std::vector<unsigned> expectedProgress;
        unsigned sum = 0;
        for (unsigned b : c.batches)
            expectedProgress.push_back(sum += b);
        EXPECT_EQ(progress, expectedProgress);
    }
}

} // namespace
