#include "enterprise/common/dml/client/subscription_dispatcher.h"

#include <functional>
#include <utility>

#include "core/common/error.h"
#include "core/common/message_catalogue.h"
#include "enterprise/common/async/action_adaptor.h"
#include "enterprise/common/async/immediate_result_action.h"
#include "enterprise/common/dml/client/custom_action_failure_handler.h"
#include "enterprise/common/dml/client/remote_subscription_source.h"
#include "enterprise/common/dml/dml_errors.h"
#include "enterprise/common/por/header_names.h"
#include "enterprise/common/por/typed_access.h"
#include "enterprise/common/por/unit_holder.h"
#include "enterprise/common/por/utils.h"
#include "xidl/view_manager.h"

namespace Dml::Client {
namespace {

using ViewManagement::ViewUpdate;

// The error an update's Key carries; success when it holds none.
Common::Error ErrorOf(const ViewUpdate& update)
{
    return Por::Util::GetUnitValue<Common::Error>(*update.Key, Common::Success);
}

} // namespace

RemoteSubscriptionDispatcher::RemoteSubscriptionDispatcher(const std::shared_ptr<Binding::AccessPoint>& accessPoint)
    : m_accessPoint(accessPoint)
{
}

RemoteSubscriptionDispatcher::~RemoteSubscriptionDispatcher()
{
    if (m_subscriberId == 0)
        return;
    // The cycle's destructor cancels the pull and waits for the run's end; its
    // Fail comes here from the completing thread, so no lock is held now.
    m_cycle.reset();
    Fail(Common::MakeTraceLevelError(DML_ERROR_VIEW_CLOSING, Common::GetMessageText(kViewClosingText),
                                     kRemoteSubscriptionSource.At("~RemoteSubscriptionDispatcher", 435)));
    (void)ViewManagement::ViewManager_Proxy(m_accessPoint).Unsubscribe(m_subscriberId); // best effort
}

Common::Error RemoteSubscriptionDispatcher::Subscribe()
{
    Common::LockGuard guard(m_mutex);
    if (!m_result.IsSuccess())
        return m_result;
    if (m_subscriberId != 0)
        return Common::Success;
    ViewManagement::Subscription subscription;
    const Common::Error subscribed =
        ViewManagement::ViewManager_Proxy(m_accessPoint).Subscribe(ViewManagement::SubscriptionSpec(), subscription);
    if (!subscribed.IsSuccess())
        return subscribed;
    if (subscription.ID == 0) {
        // Subscriber 0 means "not subscribed": pulling for it could never end
        // the subscription, so the reply is a failure and nothing is kept.
        return Common::Error(DML_ERROR_NO_SUBSCRIBER, Common::GetMessageText(kNoSubscriberText),
                             kRemoteSubscriptionSource.At("Subscribe", __LINE__));
    }
    m_subscriberId = subscription.ID;
    m_cycle = std::make_shared<ProductionCycle>(MakePullTransmissionUpdates(m_accessPoint, *this, m_subscriberId));
    m_cycle->Start();
    return Common::Success;
}

uint32_t RemoteSubscriptionDispatcher::GetSubscriberID()
{
    Common::LockGuard guard(m_mutex);
    return m_subscriberId;
}

std::unique_ptr<RemoteChannel> RemoteSubscriptionDispatcher::CreateChannel(uint32_t interestId)
{
    const uint32_t subscriberId = GetSubscriberID();
    std::shared_ptr<InMemoryUpdateCache> cache = TakeCache(interestId);
    return std::make_unique<RemoteChannel>(m_accessPoint, interestId, ViewManagement::TopicID{subscriberId, interestId},
                                           std::move(cache));
}

TopicEntry& RemoteSubscriptionDispatcher::GetTopicSlot(uint32_t interestId)
{
    TopicEntry& entry = m_topics[interestId];
    if (entry.watched.expired()) {
        entry.held = std::make_shared<InMemoryUpdateCache>();
        entry.watched = entry.held;
    }
    return entry;
}

std::shared_ptr<InMemoryUpdateCache> RemoteSubscriptionDispatcher::TakeCache(uint32_t interestId)
{
    Common::LockGuard guard(m_mutex);
    return std::move(GetTopicSlot(interestId).held);
}

std::shared_ptr<InMemoryUpdateCache> RemoteSubscriptionDispatcher::LockCache(uint32_t interestId)
{
    Common::LockGuard guard(m_mutex);
    return GetTopicSlot(interestId).watched.lock();
}

void RemoteSubscriptionDispatcher::PushToTopic(uint32_t interestId, const std::vector<ViewUpdate>& batch)
{
    if (const std::shared_ptr<InMemoryUpdateCache> cache = LockCache(interestId))
        cache->Consume(batch);
}

void RemoteSubscriptionDispatcher::FailTopic(uint32_t interestId, const Common::Error& error)
{
    if (const std::shared_ptr<InMemoryUpdateCache> cache = LockCache(interestId))
        cache->Fail(error);
}

void RemoteSubscriptionDispatcher::EraseTopic(uint32_t interestId)
{
    Common::LockGuard guard(m_mutex);
    m_topics.erase(interestId);
}

uint32_t RemoteSubscriptionDispatcher::GetChannelID(const ViewUpdate& update)
{
    if (!update.Key)
        return 0;
    try {
        return Por::Util::GetUnitValue<unsigned int>(Por::Util::GetUniqueTraitByName(*update.Key, Por::kChannelIdName));
    } catch (const Common::Error&) {
        return 0;
    }
}

ViewUpdate RemoteSubscriptionDispatcher::StripChannelID(const ViewUpdate& update)
{
    ViewUpdate stripped = update;
    std::shared_ptr<const Por::View::Unit> hidden = std::make_shared<const Por::View::ExcludeTraitUnit>(
        *update.Key, Por::kChannelIdName);
    stripped.Key = Async::Detail::AttachLifeCycleData(std::move(hidden), update.Key);
    return stripped;
}

void RemoteSubscriptionDispatcher::Consume(const std::vector<ViewUpdate>& updates)
{
    std::vector<ViewUpdate> batch;
    bool started = false;
    uint32_t current = 0;
    for (const ViewUpdate& update : updates) {
        if (!update.Key)
            continue; // nothing to route by, nothing to deliver
        const uint32_t id = GetChannelID(update);
        if (started && id != current) {
            if (!batch.empty())
                PushToTopic(current, batch);
            batch.clear();
        }
        if (Por::Util::HasTrait(*update.Key, Por::kChannelCreationName)) {
            // not delivered
        } else if (Por::Util::HasTrait(*update.Key, Por::kChannelRemovalName)) {
            batch.clear();
            FailTopic(id, ErrorOf(update));
            EraseTopic(id);
        } else if (Por::Util::HasTrait(*update.Key, Por::kChannelErrorName)) {
            batch.clear();
            FailTopic(id, ErrorOf(update));
        } else {
            batch.push_back(StripChannelID(update));
        }
        current = id;
        started = true;
    }
    if (!batch.empty())
        PushToTopic(current, batch);
}

void RemoteSubscriptionDispatcher::Fail(const Common::Error& error)
{
    std::map<unsigned int, TopicEntry> topics;
    {
        Common::LockGuard guard(m_mutex);
        m_result = error;
        topics.swap(m_topics);
    }
    for (const auto& [interestId, entry] : topics) {
        if (const std::shared_ptr<InMemoryUpdateCache> cache = entry.watched.lock())
            cache->Fail(error);
    }
}

RemoteChannel::RemoteChannel(const std::shared_ptr<Binding::AccessPoint>& accessPoint, uint32_t interestId,
                             const ViewManagement::TopicID& topic, std::shared_ptr<InMemoryUpdateCache> cache)
    : RemoteSubscriptionBase(accessPoint), m_interestId(interestId), m_topic(topic), m_cache(std::move(cache))
{
}

RemoteChannel::~RemoteChannel()
{
    if (!m_cache)
        return; // the interest belongs to the channel that owns the cache
    m_removed->store(true);
    RemoveInterest(m_topic, m_accessPoint);
}

std::shared_ptr<Async::Job> RemoteChannel::Read(UpdateReader& reader, Async::ActionHandler& handler)
{
    if (!m_cache) {
        return Async::CompleteWithResult(Common::Error(DML_ERROR_ALREADY_RUNNING,
                                                       Common::GetMessageText(kTopicTakenText),
                                                       kRemoteSubscriptionSource.At("Read", __LINE__)),
                                         handler);
    }
    const ViewManagement::TopicID topic = m_topic;
    const std::weak_ptr<Binding::AccessPoint> accessPoint = m_accessPoint;
    const std::shared_ptr<std::atomic<bool>> removed = m_removed;
    auto removeOnFailure = std::make_shared<Async::Detail::CustomActionFailureHandler<std::function<void()>>>(
        handler, [topic, accessPoint, removed] {
            if (!removed->load())
                RemoveInterest(topic, accessPoint);
        });
    std::shared_ptr<Async::Job> job = m_cache->CheckOut(reader, *removeOnFailure);
    if (!job)
        return nullptr;
    return Async::Detail::AttachLifeCycleData(std::move(job), removeOnFailure);
}

} // namespace Dml::Client
