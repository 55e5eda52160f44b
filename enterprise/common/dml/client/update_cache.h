// The queue of one topic of a shared subscription, between the producer (the
// subscription dispatcher, which pushes batches or a failure through the
// Consumer operations) and one channel's reader (CheckOut).
//
// CheckOut is answered at once when the cache has something to give: all
// pending updates (delivered in push order, then success), or else a stored
// failure (kept for every later CheckOut until a push replaces it). Otherwise
// one job is parked, and the next push completes it: its reader gets the
// pending updates and its handler the pushed result. A second CheckOut while
// one is parked fails at once with 0xFC000C. A push always stores its result
// (a batch stores success, clearing an earlier failure).
//
// The handler of a parked job is taken by an atomic exchange by whichever of
// the completing push, the job's Cancel (0xF90002) and the cache's destructor
// (0xF90002) comes first; the others find nothing, so it completes once. A
// cancelled job stays parked until the next push removes it.
//
// Threading: one recursive mutex guards pending, the parked job and the stored
// result; it is never held while a reader or handler runs. Push runs on the
// producer's thread, CheckOut and Cancel on the reader's threads. A caller
// that holds another lock may take the cache's, never the reverse.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "core/common/mutex.h"
#include "core/common/non_copyable.h"
#include "enterprise/common/async/base_job.h"
#include "enterprise/common/dml/service_interfaces.h"
#include "xidl/view_management.h"

namespace Dml::Client {

// The receiving side of a subscription batch.
class Consumer : private Common::NonCopyable
{
public:
    virtual ~Consumer() = default;
    virtual void Consume(const std::vector<ViewManagement::ViewUpdate>& updates) = 0;
    virtual void Fail(const Common::Error& error) = 0;
};

class InMemoryUpdateCache final : public Consumer
{
public:
    class CheckoutJob;

    InMemoryUpdateCache() = default;
    // A job still parked is completed with 0xF90002.
    ~InMemoryUpdateCache() override;

    // The job is empty when the handler was completed before CheckOut returned.
    std::shared_ptr<Async::Job> CheckOut(UpdateReader& reader, Async::ActionHandler& handler);
    void Consume(const std::vector<ViewManagement::ViewUpdate>& updates) override;
    void Fail(const Common::Error& error) override;
    void Push(const std::vector<ViewManagement::ViewUpdate>& updates, const Common::Error& error);

private:
    Common::Mutex m_mutex;
    std::vector<ViewManagement::ViewUpdate> m_pending COMMON_GUARDED_BY(m_mutex);
    CheckoutJob* m_parked COMMON_GUARDED_BY(m_mutex) = nullptr;
    std::shared_ptr<CheckoutJob> m_parkedOwner COMMON_GUARDED_BY(m_mutex);
    Common::Error m_result COMMON_GUARDED_BY(m_mutex);
};

class InMemoryUpdateCache::CheckoutJob final : public Async::BaseJob
{
public:
    CheckoutJob(UpdateReader& reader, Async::ActionHandler& handler) : m_reader(reader), m_handler(&handler) {}

    // Completes the handler with 0xF90002 unless someone took it first.
    void Cancel() override;

    UpdateReader& Reader() const { return m_reader; }
    Async::ActionHandler* TakeHandler() noexcept { return m_handler.exchange(nullptr); }

private:
    UpdateReader& m_reader;
    std::atomic<Async::ActionHandler*> m_handler;
};

} // namespace Dml::Client
