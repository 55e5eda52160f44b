#include "platform/ipc/call_job.h"

#include <string>

#include "core/common/mutex.h"
#include "platform/ipc/completion_pool.h"
#include "platform/ipc/ipc_errors.h"
#include "platform/ipc/request_packet.h"

namespace Ipc {

namespace {

constexpr Common::SourceFile kSource("platform/ipc/call_job");

} // namespace

// Shared by the job and the completion of its call, so the completion never
// needs the job.
struct CallJob::State
{
    State(std::shared_ptr<Transport> transport, std::unique_ptr<Binding::Request> request)
        : request(std::move(request)), transport(std::move(transport))
    {
    }

    // Read by the one that waits for or starts the call, and by its completion.
    const std::unique_ptr<Binding::Request> request;

    Common::NonRecursiveMutex lock; // held by Start until it returns
    std::shared_ptr<Transport> transport COMMON_GUARDED_BY(lock);
    std::shared_ptr<CallHandle> call COMMON_GUARDED_BY(lock);
    bool used COMMON_GUARDED_BY(lock) = false;     // waited for or started
    bool canceled COMMON_GUARDED_BY(lock) = false; // Cancel came before Start
};

namespace {

// Reads the reply into the request, then completes the handler. Touches
// nothing of the job: the handler may delete it inside OnCompleted.
void Complete(const std::shared_ptr<CallJob::State>& state, JobManagement::JobHandler& handler, Common::Error result,
              const Bytes& reply, const std::string& replyElement)
{
    {
        // Start has returned once its lock is free.
        Common::LockGuard started(state->lock);
    }
    if (result.IsSuccess())
        result = ReadReplyPacket(*state->request, reply, replyElement);
    if (result.IsSuccess())
        handler.OnSuccess();
    else
        handler.OnError(result);
    handler.OnCompleted();
}

} // namespace

CallJob::CallJob(std::shared_ptr<Transport> transport, std::unique_ptr<Binding::Request> request)
    : m_state(std::make_shared<State>(std::move(transport), std::move(request)))
{
}

CallJob::~CallJob() = default;

Common::Error CallJob::Wait(int)
{
    std::shared_ptr<Transport> transport;
    {
        Common::LockGuard guard(m_state->lock);
        if (m_state->used)
            return MakeIpcError(kNotSupported, kNotSupportedText, kSource.At("Wait", __LINE__));
        m_state->used = true;
        if (m_state->canceled)
            return MakeCanceledError();
        transport = m_state->transport;
    }
    Bytes packet;
    std::string replyElement;
    Common::Error result = WriteRequestPacket(*m_state->request, packet, replyElement);
    if (!result.IsSuccess())
        return result;
    Bytes reply;
    result = transport->Exchange(packet, reply);
    if (!result.IsSuccess())
        return result;
    return ReadReplyPacket(*m_state->request, reply, replyElement);
}

Common::Error CallJob::Start(JobManagement::JobHandler& handler)
{
    std::shared_ptr<State> state = m_state; // the job may be gone once the lock is released
    Common::LockGuard guard(state->lock);
    if (state->used)
        return MakeIpcError(kNotSupported, kNotSupportedText, kSource.At("Start", __LINE__));
    state->used = true;
    if (state->canceled) {
        PostCompletion([state, &handler] { Complete(state, handler, MakeCanceledError(), {}, {}); });
        return Common::Success;
    }
    Bytes packet;
    std::string replyElement;
    const Common::Error written = WriteRequestPacket(*state->request, packet, replyElement);
    if (!written.IsSuccess())
        return written;
    state->call = state->transport->Start(std::move(packet),
                                          [state, &handler, replyElement](const Common::Error& result, Bytes&& reply) {
                                              Complete(state, handler, result, reply, replyElement);
                                          });
    return Common::Success;
}

Common::Error CallJob::Cancel()
{
    std::shared_ptr<CallHandle> call;
    {
        Common::LockGuard guard(m_state->lock);
        if (!m_state->used)
            m_state->canceled = true;
        call = m_state->call;
    }
    if (call)
        call->Cancel(); // completes on a completion thread, never here
    return Common::Success;
}

} // namespace Ipc
