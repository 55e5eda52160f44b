// Reads arbitrary bytes as the reply packet of "ViewManager" calls whose
// results have every shape (number, unit vector, update vector, nested
// records), the way the IPC client library reads a peer's reply: "result"
// first, then the request's own reading of its in-out arguments.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ipc/request_packet.h"
#include "xidl/view_manager.h"

namespace {

using namespace Dml::ViewManagement;

void ReadAs(std::unique_ptr<Binding::Request> request, const char* replyElement, Ipc::ByteView reply)
{
    (void)Ipc::ReadReplyPacket(*request, reply, replyElement); // any outcome; only the reading matters
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Ipc::ByteView reply(data, size);
    const Dml::ViewSpec spec;
    unsigned int viewId = 0;
    UnitVector snapshot;
    ReadAs(MakeOpenDynamicViewRequest(spec, viewId, snapshot), "reply_ViewManager_OpenDynamicView", reply);
    std::vector<ViewUpdate> updates;
    ReadAs(MakeAcquireUpdatesRequest(1, updates), "reply_ViewManager_AcquireUpdates", reply);
    Topic topic;
    ReadAs(MakeAddInterestRequest(TopicSpec(), topic), "reply_ViewManager_AddInterest", reply);
    SubscriptionContent content;
    ReadAs(MakeReadSubscriptionRequest(1, content), "reply_ViewManager_ReadSubscription", reply);
    Subscription subscription;
    ReadAs(MakeSubscribeRequest(SubscriptionSpec(), subscription), "reply_ViewManager_Subscribe", reply);
    return 0;
}
