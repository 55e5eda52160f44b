// The subscription pull cycle over a scripted access point.
#include "enterprise/common/dml/client/production_cycle.h"

#include <atomic>
#include <memory>
#include <mutex>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "enterprise/common/dml/client/client_test_kit.h"
#include "testing/error_matchers.h"

namespace {

using ClientTesting::QueueViewManagerReply;
using ClientTesting::UpdateItems;
using ClientTesting::ViewManagerReply;
using IpcTesting::ScriptedAccessPoint;
using testing::ElementsAre;
using Testing::ErrorIs;
using testing::HasSubstr;

// Records each batch's labels and each failure.
class RecordingConsumer final : public Dml::Client::Consumer
{
public:
    void Consume(const std::vector<Dml::ViewManagement::ViewUpdate>& updates) override
    {
        std::vector<std::string> labels;
        for (const auto& update : updates)
            labels.push_back(IpcTesting::LabelOf(update.Key));
        std::lock_guard<std::mutex> guard(m_lock);
        m_batches.push_back(labels);
    }
    void Fail(const Common::Error& error) override
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_failures.push_back(error);
        }
        failed.Set();
    }
    std::vector<std::vector<std::string>> Batches()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_batches;
    }
    std::vector<Common::Error> Failures()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_failures;
    }

    Common::Event failed{true, false};

private:
    std::mutex m_lock;
    std::vector<std::vector<std::string>> m_batches;
    std::vector<Common::Error> m_failures;
};

const std::string kReplyElement = "reply_ViewManager_ReadSubscription";

std::string Batch(const std::vector<std::string>& labels)
{
    return "<updates><TopicUpdates>" + UpdateItems(labels) + "</TopicUpdates></updates>";
}

TEST(ProductionCycle, EachReplyIsConsumedAndTheNextPullFollowsUntilDestructionFailsItAsCanceled)
{
    auto accessPoint = std::make_shared<ScriptedAccessPoint>(ViewManagerReply("ReadSubscription", Common::Success),
                                                             kReplyElement);
    for (int i = 0; i < 3; ++i)
        QueueViewManagerReply(*accessPoint, "ReadSubscription", Common::Success, Batch({}));
    std::atomic<int> pulls{0};
    Common::Event fourthSent(true, false);
    Common::Event cancelAsked(true, false);
    accessPoint->beforeReply = [&] {
        if (++pulls == 4) {
            fourthSent.Set();
            cancelAsked.Wait();
        }
    };
    accessPoint->onCancel = [&] { cancelAsked.Set(); };
    RecordingConsumer consumer;
    {
        Dml::Client::ProductionCycle cycle(Dml::Client::MakePullTransmissionUpdates(accessPoint, consumer, 17));
        cycle.Start();
        fourthSent.Wait();
        EXPECT_THAT(consumer.Batches(), ElementsAre(ElementsAre(), ElementsAre(), ElementsAre()));
        EXPECT_TRUE(consumer.Failures().empty());
    }
    // The destructor returned after the outstanding pull was cancelled and failed.
    ASSERT_EQ(consumer.Failures().size(), 1u);
    EXPECT_THAT(consumer.Failures()[0], ErrorIs(0xF90002));
    EXPECT_EQ(consumer.Batches().size(), 3u);
    const std::vector<std::string> sent = accessPoint->Sent();
    ASSERT_EQ(sent.size(), 4u);
    for (const std::string& packet : sent)
        EXPECT_THAT(packet, HasSubstr("<request_ViewManager_ReadSubscription><subscriber>17</subscriber>"));
}

TEST(ProductionCycle, AFailedPullFailsTheConsumerOnceAndEndsTheCycle)
{
    const Common::Error remote(0xFC0017, u"gone", Common::NoLocation);
    auto accessPoint = std::make_shared<ScriptedAccessPoint>(ViewManagerReply("ReadSubscription", remote),
                                                             kReplyElement);
    QueueViewManagerReply(*accessPoint, "ReadSubscription", Common::Success, Batch({"a", "b"}));
    RecordingConsumer consumer;
    {
        Dml::Client::ProductionCycle cycle(Dml::Client::MakePullTransmissionUpdates(accessPoint, consumer, 3));
        cycle.Start();
        consumer.failed.Wait();
    }
    EXPECT_THAT(consumer.Batches(), ElementsAre(ElementsAre("a", "b")));
    ASSERT_EQ(consumer.Failures().size(), 1u);
    EXPECT_THAT(consumer.Failures()[0], ErrorIs(0xFC0017));
    EXPECT_EQ(accessPoint->Sent().size(), 2u) << "no pull after the failure";
}

TEST(ProductionCycle, ACycleNeverStartedSendsNothingAndDestroysItsAction)
{
    struct Action final : Async::Action
    {
        explicit Action(bool& destroyed) : m_destroyed(destroyed) {}
        ~Action() override { m_destroyed = true; }
        std::shared_ptr<Async::Job> Perform(Async::ActionHandler&) override { return nullptr; }
        bool& m_destroyed;
    };
    bool destroyed = false;
    {
        Dml::Client::ProductionCycle cycle(std::make_unique<Action>(destroyed));
    }
    EXPECT_TRUE(destroyed);
}

} // namespace
