// The tail-recursion controller: synchronous steps at constant stack, steps
// that complete on other threads, and loops rescued when their thread blocks
// or holds up.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "core/common/event.h"
#include "core/common/thread_id.h"
#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/async/tail_recursion_controller.h"
#include "enterprise/common/async/waiting_handler.h"
#include "platform/async/async_platform.h"

namespace {

// A chain of `total` steps; each step calls `step` with its index. The step
// function must lead to exactly one Continue (or none after the last step).
class Chain : public Async::TailRecursionController, public std::enable_shared_from_this<Chain>
{
public:
    Chain(int stepCount, std::function<void(Chain&, int)> stepFunction)
        : total(stepCount), m_step(std::move(stepFunction))
    {
        Initialize();
    }

    std::shared_ptr<void> KeepAlive() override { return shared_from_this(); }
    void ProcessStep() override
    {
        const int index = next++;
        if (index >= total) {
            finished.Set();
            return;
        }
        m_step(*this, index);
    }

    const int total;
    std::atomic<int> next{0};
    Common::Event finished{true, false};

private:
    std::function<void(Chain&, int)> m_step;
};

void RunSynchronousChain(int steps, AsyncTest::StackProbe& probe)
{
    auto chain = std::make_shared<Chain>(steps, [&](Chain& self, int) {
        probe.Mark();
        EXPECT_FALSE(self.Continue()); // inside the loop's own pass
    });
    chain->ProcessLoop();
    EXPECT_TRUE(chain->finished.TimedWait(0));
    EXPECT_EQ(chain->next.load(), steps + 1);
}

TEST(TailRecursionController, MillionSynchronousStepsRunInOneLoopAtConstantStack)
{
    AsyncPlatform::NoServiceScopeForTesting noService;
    AsyncTest::StackProbe probe;
    RunSynchronousChain(1000000, probe);
    EXPECT_LT(probe.Spread(), 16u * 1024);
}

TEST(TailRecursionControllerThreads, SynchronousStepsWithAServiceStayOnTheLoopsThread)
{
    AsyncTest::StackProbe probe;
    RunSynchronousChain(10000, probe);
    EXPECT_LT(probe.Spread(), 16u * 1024);
}

// Step 0 completes at once and then blocks in a waiting handler that only step
// 1 completes: the guard of step 0's pass must move the loop on.
void RunBlockedStep(Common::ThreadId& stepZeroThread, Common::ThreadId& stepOneThread)
{
    Async::WaitingHandler waiting(true);
    auto chain = std::make_shared<Chain>(2, [&](Chain& self, int index) {
        if (index == 0) {
            stepZeroThread = Common::GetCurrentThreadId();
            (void)self.Continue();
            EXPECT_TRUE(waiting.Wait(nullptr).IsSuccess());
        } else {
            stepOneThread = Common::GetCurrentThreadId();
            waiting.Completed(Common::Success);
            (void)self.Continue();
        }
    });
    chain->ProcessLoop();
    ASSERT_TRUE(chain->finished.Wait());
}

TEST(TailRecursionController, BlockedStepIsRescuedInlineWithoutAService)
{
    AsyncPlatform::NoServiceScopeForTesting noService;
    Common::ThreadId zero = 0;
    Common::ThreadId one = 0;
    RunBlockedStep(zero, one);
    EXPECT_EQ(one, zero);
}

TEST(TailRecursionControllerThreads, BlockedStepIsRescuedOnAServiceThread)
{
    Common::ThreadId zero = 0;
    Common::ThreadId one = 0;
    RunBlockedStep(zero, one);
    EXPECT_NE(one, zero);
}

TEST(TailRecursionControllerThreads, StepHoldingUpLongerThanAPeriodSeesTheNextStepOnAServiceThread)
{
    std::atomic<bool> stepOneRan{false};
    Common::ThreadId zero = 0;
    Common::ThreadId one = 0;
    auto chain = std::make_shared<Chain>(2, [&](Chain& self, int index) {
        if (index == 0) {
            zero = Common::GetCurrentThreadId();
            (void)self.Continue();
            // Holds up without blocking in a waiting handler.
            const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!stepOneRan.load() && std::chrono::steady_clock::now() < limit)
                Common::SpinPause();
        } else {
            one = Common::GetCurrentThreadId();
            stepOneRan = true;
            (void)self.Continue();
        }
    });
    chain->ProcessLoop();
    ASSERT_TRUE(chain->finished.Wait());
    EXPECT_TRUE(stepOneRan.load());
    EXPECT_NE(one, zero);
}

// The completion arrives on another thread after the loop's thread has left:
// the next step runs on the completing thread.
TEST(TailRecursionControllerThreads, CompletionOnAnotherThreadMovesTheLoopThere)
{
    std::thread completer;
    Common::Event loopReturned(true, false);
    Common::ThreadId one = 0;
    bool continuedHere = false;
    auto chain = std::make_shared<Chain>(2, [&](Chain& self, int index) {
        if (index == 0) {
            completer = std::thread([&self, &continuedHere, &loopReturned] {
                EXPECT_TRUE(loopReturned.Wait());
                continuedHere = self.Continue();
            });
            return;
        }
        one = Common::GetCurrentThreadId();
        (void)self.Continue();
    });
    chain->ProcessLoop();
    EXPECT_EQ(chain->next.load(), 1); // the loop left after step 0
    loopReturned.Set();
    ASSERT_TRUE(chain->finished.Wait());
    const Common::ThreadId completerId = completer.native_handle();
    completer.join();
    EXPECT_TRUE(continuedHere);
    EXPECT_EQ(one, completerId);
}

// Steps complete at random inline or on one of three other threads: the part
// of a step before it starts its action never runs on two threads at once.
TEST(TailRecursionControllerThreads, StepsNeverProcessOnTwoThreadsAtOnce)
{
    constexpr int kSteps = 20000;
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::vector<uint32_t> choices(kSteps);
    std::mt19937 random(7);
    for (uint32_t& choice : choices)
        choice = random() % 4;
    AsyncTest::Completers completers(3);
    auto chain = std::make_shared<Chain>(kSteps, [&](Chain& self, int index) {
        if (inside.fetch_add(1) != 0)
            ++overlaps;
        inside.fetch_sub(1);
        if (choices[index] == 0)
            (void)self.Continue();
        else
            completers.Post([&self] { (void)self.Continue(); });
    });
    chain->ProcessLoop();
    ASSERT_TRUE(chain->finished.Wait());
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(chain->next.load(), kSteps + 1);
}

} // namespace
