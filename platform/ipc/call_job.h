// The call job of the IPC stand-in: runs one request over a Transport.
//
// Wait writes the request packet, exchanges it on the calling thread (no
// library thread is needed, so a completion may wait for a call of its own)
// and reads the reply into the request. Start hands the packet to the
// transport and returns; the outcome comes later on a completion thread:
// the request reads the reply, then the handler gets OnSuccess or OnError and
// then OnCompleted, once. Cancel ends a started call early: its handler gets
// OnError(kCallCanceled) and OnCompleted, and the late reply is dropped
// unread. A job canceled before Start completes at Start, on a completion
// thread.
//
// After OnCompleted nothing touches the job or its handler, so the handler
// may delete the job inside OnCompleted. A completion does not begin before
// Start has returned. The job must not be deleted before its outcome (a
// started job is deleted after OnCompleted).
//
// Threading: Start, Wait and Cancel from any thread; Cancel may race the
// outcome (exactly one completes the call).
#pragma once

#include <memory>

#include "platform/ipc/binding.h"
#include "platform/ipc/call.h"

namespace Ipc {

class CallJob final : public JobManagement::Job
{
public:
    CallJob(std::shared_ptr<Transport> transport, std::unique_ptr<Binding::Request> request);
    ~CallJob() override;

    Common::Error Wait(int context) override;
    Common::Error Start(JobManagement::JobHandler& handler) override;
    Common::Error Cancel() override;

    struct State;

private:
    std::shared_ptr<State> m_state;
};

} // namespace Ipc
