// The stand-in DML service's core: answers the system's request packets from
// the object store, on both roads.
//
// A request packet holds one element "request_<Interface>_<Method>"; the
// answer is a packet holding "reply_<Interface>_<Method>", whose first child
// is "result" (a Common::Error) followed, on success only, by the method's
// read-back parameters in order (platform/ipc/request_packet.h). Methods and
// their parameters are found by the rows of the interface tables
// (xidl/method_tables.h), options and operation records read by their DML
// readers (view_options.h, object_key.h, operation_records.h). Served:
// - ObjectManager "RegisterObject"(object): stores the object under its key
//   (0xFC000A without one, kObjectExists when the key is taken). A
//   delete-by-pattern operation record is executed instead of stored: up to
//   its "LimitOptions" objects matching its "Pattern" are removed, in store
//   order. Any other operation record is refused.
// - "UpdateObject"(objectId, patch): applies the patch (ApplyPatch) to the
//   object of that key and stores the result under its own key
//   (kObjectNotFound, kObjectExists when the new key belongs to another one).
// - "UnregisterObject"(objectId): removes the object of that key.
//   The three answer their parameters back as they came.
// - ViewManager "OpenStaticView"(specification, snapshot): answers "snapshot",
//   the objects the pattern selects (object_selection.h) in store order, at
//   most "LimitOptions" (a DWord) of them; with "Counter" in the options, one
//   Composite whose DWord "CounterValue" counts every match, not capped by
//   the limit. "EntryPoint" and other options are accepted and not used.
// - Every other method answers kNotSupported in "result".
// Each request runs in one store transaction (the ObjectManager methods as
// writes, which concurrent requests share, each in a savepoint of its own; a
// view as a read, which never waits for a write), for the caller's service
// code; a write is answered once its transaction is committed and synced.
// A delete-by-pattern record removes in one pass from where the previous
// record of the same pattern stopped, as long as the store says that place
// still holds (Transaction::RemoveSelected). Every failure of a method,
// including the deserializer's error for a malformed argument, is answered
// in "result"; only a packet without a request element, or whose request
// element has a name no reply name can be made of (a binary packet may carry
// any bytes in a name), fails the call itself. A method's arguments are read
// whole first; then the request's tree goes, and so do its bytes when they
// were handed over (HandleOwned: released, their memory too), before the
// store's work and the reply. A reply takes its share of the server's reply
// budget (CallContext::replyLease) before it is built: a view once it has
// located its objects, for them and its reply together, before it reads any
// of them (in the same read transaction); the other methods for their reply.
// The reply is written into room taken once for the size expected.
//
// Threading: Handle may run on many threads at once; writes take turns in
// the store's transactions, reads run side by side.
#pragma once

#include <functional>
#include <memory>

#include "core/common/mutex.h"
#include "platform/ipc/packet_handler.h"
#include "service/store.h"

namespace Service {

class ServiceCore final : public Ipc::PacketHandler
{
public:
    using StoreOpener = std::function<Common::Error(std::unique_ptr<Store>& store)>;

    // Serves the given store.
    explicit ServiceCore(std::unique_ptr<Store> store);
    // Opens the store at the first request that needs it; a failed opening
    // is that request's result and is tried again by the next one.
    explicit ServiceCore(StoreOpener opener);

    Common::Error Handle(const Ipc::CallContext& context, Ipc::ByteView request, Ipc::Bytes& reply) override;
    Common::Error HandleOwned(const Ipc::CallContext& context, Ipc::Bytes& request, Ipc::Bytes& reply) override;

private:
    // Answers `bytes`, which are `*owned` when they were handed over (else null).
    Common::Error Answer(const Ipc::CallContext& context, Ipc::ByteView bytes, Ipc::Bytes* owned, Ipc::Bytes& reply);
    Common::Error GetStore(Store*& store) COMMON_EXCLUDES(m_lock);

    Common::Mutex m_lock; // one opening at a time
    StoreOpener m_opener COMMON_GUARDED_BY(m_lock);
    std::unique_ptr<Store> m_store COMMON_GUARDED_BY(m_lock); // once opened, kept until the core goes
};

// The local road's service: a ServiceCore over the store at the local store
// path (store_location.h), opened at its first request. Lives until exit.
Ipc::PacketHandler& GetServiceHandler();

} // namespace Service
