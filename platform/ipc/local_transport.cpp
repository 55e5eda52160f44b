#include "platform/ipc/local_transport.h"

#include "platform/ipc/completion_pool.h"

namespace Ipc {

namespace {

class LocalCall : public CallHandle
{
public:
    explicit LocalCall(std::shared_ptr<CallOutcome> outcome) : m_outcome(std::move(outcome)) {}
    void Cancel() override { (void)m_outcome->Finish(MakeCanceledError(), {}); }

private:
    std::shared_ptr<CallOutcome> m_outcome;
};

} // namespace

LocalTransport::LocalTransport(PacketHandler& handler, CallContext context)
    : m_handler(handler), m_context(std::move(context))
{
}

Common::Error LocalTransport::Exchange(ByteView request, Bytes& reply)
{
    return InvokeHandler(m_handler, m_context, request, reply);
}

std::shared_ptr<CallHandle> LocalTransport::Start(Bytes request, Completion completion)
{
    auto outcome = std::make_shared<CallOutcome>(std::move(completion));
    PostCompletion([outcome, request = std::move(request), &handler = m_handler, context = m_context]() mutable {
        if (outcome->IsFinished())
            return;
        Bytes reply;
        // The handler may let the request go as soon as it has read it.
        Common::Error result = InvokeHandlerOwned(handler, context, request, reply);
        (void)outcome->Finish(std::move(result), std::move(reply)); // false after a Cancel: the reply is dropped
    });
    return std::make_shared<LocalCall>(std::move(outcome));
}

} // namespace Ipc
