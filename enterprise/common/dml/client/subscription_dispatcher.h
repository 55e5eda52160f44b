// The shared subscription of one connection and its channels.
//
// RemoteSubscriptionDispatcher subscribes once ("Subscribe"), keeps one pull
// cycle of "ReadSubscription" running and routes each batch to per-topic
// update caches by the "ChannelID" trait of each update's Key (none, several
// or not a DWord: interest 0). Consecutive updates of one channel go out as
// one push, with their channel traits hidden. A "ChannelCreation" update is
// never delivered; "ChannelError" fails the topic with the error its Key
// carries, "ChannelRemoval" does so and forgets the topic; updates of that
// channel earlier in the run are discarded. An update without a Key is
// skipped. A failed pull (or the destructor) fails every live topic and is
// kept: every later Subscribe returns it. A "Subscribe" reply without a
// subscriber ID is a failure of its own, and nothing is stored.
//
// A topic's cache is held by the dispatcher until a channel takes it, so
// updates that come before the channel are queued for its first Read; the
// dispatcher then only watches it. The destructor ends the cycle (the live
// channels are failed with its cancellation), fails what is left with
// 0xFC000B and sends "Unsubscribe".
//
// RemoteChannel is the subscription of one topic: Read checks out of the
// topic's cache. A failed Read (a stored failure, an overlapping Read, a
// cancellation, a pushed failure) first removes the interest with a
// synchronous "RemoveInterest"; so does the destructor, after which the
// channel's failure path sends nothing more. A second channel of an interest
// whose cache a live channel owns gets no cache: its Read fails at once, and
// it never removes the interest (the live channel still reads it).
//
// Threading: the dispatcher's recursive mutex guards the subscriber ID, the
// cycle, the topic map and the stored result; it is held for the whole of
// Subscribe. Caches are called after it is released (a pull failing at once
// inside Subscribe fails the topics with it held again, by recursion): the
// dispatcher's lock may be held while a cache's is taken, never the reverse.
// Consume and Fail run on the pull's completion thread; channels run on their
// callers' threads. The destructor blocks until the cycle has ended and
// "Unsubscribe" is answered.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "core/common/mutex.h"
#include "enterprise/common/dml/client/production_cycle.h"
#include "enterprise/common/dml/client/remote_subscription.h"
#include "enterprise/common/dml/client/update_cache.h"

namespace Dml::Client {

class RemoteChannel;

struct TopicEntry
{
    std::shared_ptr<InMemoryUpdateCache> held;  // until a channel takes it
    std::weak_ptr<InMemoryUpdateCache> watched; // the topic's current cache
};

class RemoteSubscriptionDispatcher final : public Consumer
{
public:
    explicit RemoteSubscriptionDispatcher(const std::shared_ptr<Binding::AccessPoint>& accessPoint);
    ~RemoteSubscriptionDispatcher() override;

    Common::Error Subscribe();
    uint32_t GetSubscriberID();
    std::unique_ptr<RemoteChannel> CreateChannel(uint32_t interestId);

    void Consume(const std::vector<ViewManagement::ViewUpdate>& updates) override;
    void Fail(const Common::Error& error) override;

    // The interest an update is routed to.
    static uint32_t GetChannelID(const ViewManagement::ViewUpdate& update);
    // The update with its Key's "ChannelID" trait hidden.
    static ViewManagement::ViewUpdate StripChannelID(const ViewManagement::ViewUpdate& update);

private:
    TopicEntry& GetTopicSlot(uint32_t interestId) COMMON_REQUIRES(m_mutex);
    std::shared_ptr<InMemoryUpdateCache> TakeCache(uint32_t interestId);
    std::shared_ptr<InMemoryUpdateCache> LockCache(uint32_t interestId);
    void PushToTopic(uint32_t interestId, const std::vector<ViewManagement::ViewUpdate>& batch);
    void FailTopic(uint32_t interestId, const Common::Error& error);
    void EraseTopic(uint32_t interestId);

    std::shared_ptr<Binding::AccessPoint> m_accessPoint;
    std::shared_ptr<ProductionCycle> m_cycle COMMON_GUARDED_BY(m_mutex);
    Common::Mutex m_mutex;
    uint32_t m_subscriberId COMMON_GUARDED_BY(m_mutex) = 0;
    std::map<unsigned int, TopicEntry> m_topics COMMON_GUARDED_BY(m_mutex);
    Common::Error m_result COMMON_GUARDED_BY(m_mutex);
};

class RemoteChannel final : public RemoteSubscriptionBase
{
public:
    // `cache` is empty when another channel owns the topic's cache.
    RemoteChannel(const std::shared_ptr<Binding::AccessPoint>& accessPoint, uint32_t interestId,
                  const ViewManagement::TopicID& topic, std::shared_ptr<InMemoryUpdateCache> cache);
    ~RemoteChannel() override;

    std::shared_ptr<Async::Job> Read(UpdateReader& reader, Async::ActionHandler& handler) override;

private:
    uint32_t m_interestId;
    ViewManagement::TopicID m_topic;
    std::shared_ptr<InMemoryUpdateCache> m_cache;
    // Set once the destructor removed the interest.
    std::shared_ptr<std::atomic<bool>> m_removed = std::make_shared<std::atomic<bool>>(false);
};

} // namespace Dml::Client
