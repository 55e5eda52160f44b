#include "enterprise/common/dml/client/update_cache.h"

#include <utility>

#include "core/common/message_catalogue.h"
#include "enterprise/common/async/error.h"
#include "enterprise/common/async/immediate_result_action.h"
#include "enterprise/common/dml/client/async_request.h"
#include "enterprise/common/dml/client/remote_subscription_source.h"
#include "enterprise/common/dml/dml_errors.h"
#include "enterprise/common/dml/safe_invoke.h"

namespace Dml::Client {

InMemoryUpdateCache::~InMemoryUpdateCache()
{
    if (m_parked)
        NotifyHandler(Async::GetCanceledError(), m_parked->TakeHandler());
}

std::shared_ptr<Async::Job> InMemoryUpdateCache::CheckOut(UpdateReader& reader, Async::ActionHandler& handler)
{
    std::vector<ViewManagement::ViewUpdate> updates;
    Common::Error stored;
    {
        Common::LockGuard guard(m_mutex);
        if (m_parked) {
            stored = Common::Error(DML_ERROR_ALREADY_RUNNING, Common::GetMessageText(kAlreadyRunningText),
                                   kRemoteSubscriptionSource.At("CheckOut", 280));
        } else if (!m_pending.empty()) {
            updates.swap(m_pending);
        } else if (m_result.IsSuccess()) {
            auto job = std::make_shared<CheckoutJob>(reader, handler);
            m_parked = job.get();
            m_parkedOwner = job;
            return job;
        } else {
            stored = m_result;
        }
    }
    DeliverUpdates(updates, reader);
    return Async::CompleteWithResult(stored, handler);
}

void InMemoryUpdateCache::Consume(const std::vector<ViewManagement::ViewUpdate>& updates)
{
    Push(updates, Common::Success);
}

void InMemoryUpdateCache::Fail(const Common::Error& error)
{
    Push({}, error);
}

void InMemoryUpdateCache::Push(const std::vector<ViewManagement::ViewUpdate>& updates, const Common::Error& error)
{
    std::shared_ptr<CheckoutJob> taken;
    Async::ActionHandler* handler = nullptr;
    std::vector<ViewManagement::ViewUpdate> delivered;
    {
        Common::LockGuard guard(m_mutex);
        m_result = error;
        taken = std::move(m_parkedOwner);
        m_parked = nullptr;
        m_pending.insert(m_pending.end(), updates.begin(), updates.end());
        if (taken)
            handler = taken->TakeHandler();
        if (handler)
            delivered.swap(m_pending);
    }
    if (handler) {
        DeliverUpdates(delivered, taken->Reader());
        NotifyHandler(error, handler);
    }
    taken.reset();
}

void InMemoryUpdateCache::CheckoutJob::Cancel()
{
    NotifyHandler(Async::GetCanceledError(), TakeHandler());
}

} // namespace Dml::Client
