// One call's outcome and the transport interface behind both roads.
//
// A Transport carries request bytes to a PacketHandler and brings back its
// reply bytes: LocalTransport calls the process's own handler, SocketTransport
// a service process over a stream socket. A call is either
//   - exchanged: Exchange blocks the calling thread until the outcome is in;
//     it needs no other thread of the library to deliver it, so it may be
//     made from inside a completion; or
//   - started: Start returns once the request is handed over (the socket
//     road writes it on the calling thread, waiting only while the socket
//     cannot take more bytes), and the Completion runs exactly once,
//     later, on a completion thread (never inside Start, never on the socket
//     reader), with the reply (success) or the failure and an empty reply.
//     Cancel completes a call that has not completed yet with kCallCanceled,
//     promptly and on a completion thread; the reply that arrives later is
//     dropped without being read.
//
// Threading: a Transport is used from any number of threads at once. Cancel
// may race the outcome; exactly one of them completes the call.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>

#include "core/common/error.h"
#include "core/common/mutex.h"
#include "platform/ipc/bytes.h"

namespace Ipc {

using Completion = std::function<void(const Common::Error& result, Bytes&& reply)>;

class CallHandle
{
public:
    virtual ~CallHandle() = default;
    virtual void Cancel() = 0;
};

class Transport
{
public:
    virtual ~Transport() = default;
    virtual Common::Error Exchange(ByteView request, Bytes& reply) = 0;
    virtual std::shared_ptr<CallHandle> Start(Bytes request, Completion completion) = 0;
};

// The once-only outcome of one call, shared by the caller and whoever answers.
// Made with a Completion it posts the outcome to a completion thread; made
// without one it keeps the outcome for Wait.
class CallOutcome
{
public:
    CallOutcome() = default;
    explicit CallOutcome(Completion completion) : m_completion(std::move(completion)) {}

    // Delivers the outcome unless one was delivered already; true for the
    // caller that delivered it.
    bool Finish(Common::Error result, Bytes reply) COMMON_EXCLUDES(m_lock);
    bool IsFinished() const COMMON_EXCLUDES(m_lock);
    // Blocks until the outcome is in (the form without a Completion).
    Common::Error Wait(Bytes& reply) COMMON_EXCLUDES(m_lock);

private:
    mutable Common::NonRecursiveMutex m_lock;
    std::condition_variable m_done;
    bool m_finished COMMON_GUARDED_BY(m_lock) = false;
    Common::Error m_result COMMON_GUARDED_BY(m_lock);
    Bytes m_reply COMMON_GUARDED_BY(m_lock);
    Completion m_completion COMMON_GUARDED_BY(m_lock);
};

// A fresh kCallCanceled error located at the caller's Cancel.
Common::Error MakeCanceledError();

} // namespace Ipc
