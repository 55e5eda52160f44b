// Async::WaitingHandler: the handler a blocking caller gives to a job control,
// then blocks in Wait until the run completes.
//
// Wait first walks the calling thread's synchronization chain (so that work
// the thread holds goes on elsewhere), then waits for the completion without a
// time limit and returns its result. With the auto-reset event every caller
// uses, each completion serves one wait: a completion before the wait lets the
// wait return at once; a second wait without a second completion blocks. Two
// completions before a wait leave the second result.
//
// Threading: Completed from any thread, also before Wait has started; Wait on
// the blocking thread. The handler must not be destroyed while a thread waits.
#pragma once

#include "core/common/event.h"
#include "core/common/mutex.h"
#include "enterprise/common/async/job.h"
#include "platform/objrep/common_error.h"

namespace Async {

class WaitingHandler : public ActionHandler
{
public:
    // An auto-reset event when true, manual-reset when false; not signalled.
    explicit WaitingHandler(bool autoReset);

    // Keeps a copy of the result in place of the previous one, then signals.
    void Completed(const Common::Error& result) override;

    // Synchronizes the calling thread with `context` (every caller passes
    // null), waits for a completion and returns a copy of its result.
    Common::Error Wait(void* context);

private:
    Common::Event m_event;
    // Guards the result, so that a completion racing a finished wait is safe.
    Common::Mutex m_lock;
    Common::Error m_result COMMON_GUARDED_BY(m_lock);
};

} // namespace Async
