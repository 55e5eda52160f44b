#include "service/service_core.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/common/location.h"
#include "enterprise/common/dml/object_key.h"
#include "enterprise/common/dml/operation_records.h"
#include "enterprise/common/dml/view_options.h"
#include "enterprise/common/ipc/unit_codec.h"
#include "enterprise/common/por/blob_walking_route.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/serialize/xml_packet_deserializer.h"
#include "platform/ipc/ipc_errors.h"
#include "platform/ipc/reply_budget.h"
#include "platform/ipc/request_packet.h"
#include "service/object_key.h"
#include "service/object_selection.h"
#include "service/patch_applier.h"
#include "service/service_errors.h"
#include "service/store_errors.h"
#include "service/store_location.h"
#include "xidl/method_tables.h"
#include "xidl/view_management.h"

namespace Service {

namespace {

using Serialization::Deserializer;
using Serialization::MetaInfo;
using Serialization::Serializer;
using UnitPtr = std::shared_ptr<const Por::View::Unit>;
using UnitCodec = Binding::Detail::ValueCodec<UnitPtr>;
namespace Methods = Dml::Methods;
namespace Operation = Dml::Operation;

constexpr Common::SourceFile kSource("service/service_core");

[[noreturn]] void Refuse(const std::string& reason, const char* function, uint32_t line)
{
    throw ServiceErrors::MakeReasonError(ServiceErrors::kRequestRefused, ServiceErrors::kRequestRefusedText, reason,
                                         kSource.At(function, line));
}

const Por::Construction::UnitFactory& Factory()
{
    return *Por::Construction::GetDefaultUnitFactory();
}

// What a reply packet holds beside its read-back parameters: its head, its
// element and result.
constexpr size_t kReplyPacketRoom = 4096;

// The room a unit whose stored form has `formSize` bytes takes in a reply: its
// Base64 text and the elements around it.
size_t ReplyRoomOf(size_t formSize)
{
    return (formSize + 2) / 3 * 4 + 128;
}

// One request being answered: its method, its service code, its arguments
// (read whole before the work, which never sees the request), the writer of
// its read-back parameters (used only when the result is success) and the
// size of the reply they make, and the lease of the reply's share of the
// server's reply budget.
struct Call
{
    const Methods::Row& method;
    int32_t serviceCode;
    Ipc::ReplyLease* lease;      // null: no budget
    std::vector<UnitPtr> units;  // the ObjectManager methods' parameters
    Dml::ViewSpec specification; // OpenStaticView's
    std::function<void(Serializer&)> writeResults;
    size_t replySize = kReplyPacketRoom;
};

// The method's parameters in order, each a unit that must be there; the reply
// answers them back as they came.
void ReadUnitParameters(Call& call, Deserializer& in)
{
    for (size_t i = 0; i < call.method.ParameterCount(); ++i) {
        const char* const name = call.method.parameters[i];
        UnitPtr unit;
        UnitCodec::Read(in, MetaInfo(name), unit);
        if (!unit)
            Refuse(std::string("the argument \"") + name + "\" holds no unit", "ReadArguments", __LINE__);
        call.replySize += ReplyRoomOf(Por::Util::MeasureBinaryUnit(*unit));
        call.units.push_back(std::move(unit));
    }
    call.writeResults = [&method = call.method, units = call.units](Serializer& out) {
        for (size_t i = 0; i < units.size(); ++i)
            UnitCodec::Write(out, MetaInfo(method.parameters[i]), units[i]);
    };
}

// What view options ask; options that cannot be read are refused.
Dml::ViewRequest ReadViewOptions(const Por::View::Unit* options)
{
    Dml::ViewRequest request;
    std::string fault;
    if (!Dml::ReadViewRequest(options, request, fault))
        Refuse(fault, "ReadViewOptions", __LINE__);
    return request;
}

size_t LimitOf(const Dml::ViewRequest& request)
{
    return request.limit ? size_t{*request.limit} : kNoLimit;
}

Common::Error StoreAsNew(Call& call, Store& store, const Por::View::Unit& object)
{
    const Ipc::Bytes key = MakeKeyBytes(Dml::GetObjectKey(object));
    Ipc::Bytes body;
    Por::Util::WriteBinaryUnit(object, body);
    return store.Run(Store::Mode::Write,
                     [&](Transaction& objects) { return objects.Insert(call.serviceCode, key, body); });
}

// A delete-by-pattern record removes up to its limit of matching objects.
Common::Error ExecuteOperation(Call& call, Store& store, const Por::View::Unit& record)
{
    if (!Operation::IsOfClass(record, Operation::DeleteByPattern::ClassName))
        Refuse("operation records other than delete-by-pattern are not executed", "ExecuteOperation", __LINE__);
    const Por::View::Unit* pattern = Operation::DeleteByPattern::GetPattern(record);
    if (!pattern)
        Refuse("the delete-by-pattern record carries no pattern", "ExecuteOperation", __LINE__);
    const size_t limit = LimitOf(ReadViewOptions(Operation::DeleteByPattern::GetOptions(record)));
    const Selection selection(*pattern);
    return store.Run(Store::Mode::Write, [&](Transaction& objects) {
        size_t removed = 0;
        return selection.Remove(objects, call.serviceCode, limit, removed);
    });
}

// The methods' work: on their arguments, once the request is let go.

Common::Error RegisterObject(Call& call, Store& store)
{
    const Por::View::Unit& object = *call.units[0];
    return Operation::IsOfClass(object, Operation::Definition::ClassName) ? ExecuteOperation(call, store, object)
                                                                          : StoreAsNew(call, store, object);
}

Common::Error UpdateObject(Call& call, Store& store)
{
    const Por::View::Unit& objectId = *call.units[0];
    const Por::View::Unit& patch = *call.units[1];
    const Ipc::Bytes key = MakeKeyBytes(objectId);
    return store.Run(Store::Mode::Write, [&](Transaction& objects) {
        bool found = false;
        StoredObject stored;
        Common::Error error = objects.Get(call.serviceCode, key, found, stored);
        if (!error.IsSuccess())
            return error;
        if (!found)
            return MakeStoreError(kObjectNotFound, kSource.At("UpdateObject", __LINE__));
        UnitPtr old;
        error = ReadStoredUnit(stored.body, old);
        if (!error.IsSuccess())
            return error;
        const std::unique_ptr<Por::Construction::Unit> updated = ApplyPatch(*old, patch, Factory());
        Ipc::Bytes body;
        Por::Util::WriteBinaryUnit(*updated, body);
        return objects.Replace(call.serviceCode, key, MakeKeyBytes(Dml::GetObjectKey(*updated)), body);
    });
}

Common::Error UnregisterObject(Call& call, Store& store)
{
    const Ipc::Bytes key = MakeKeyBytes(*call.units[0]);
    return store.Run(Store::Mode::Write, [&](Transaction& objects) { return objects.Remove(call.serviceCode, key); });
}

// The parameters: the view's specification (ReadViewSpecification), then the
// snapshot the reply fills.
Common::Error OpenStaticView(Call& call, Store& store)
{
    const Dml::ViewSpec& specification = call.specification;
    if (!specification.Pattern)
        Refuse("the view has no pattern", "OpenStaticView", __LINE__);
    const Dml::ViewRequest request = ReadViewOptions(specification.Options.get());
    const Selection selection(*specification.Pattern);
    std::vector<UnitPtr> snapshot;
    Common::Error error = store.Run(Store::Mode::Read, [&](Transaction& objects) {
        if (request.counter) {
            uint64_t count = 0;
            Common::Error counted = selection.Count(objects, call.serviceCode, count);
            if (counted.IsSuccess())
                snapshot.push_back(Dml::MakeCounterAnswer(count, Factory()));
            return counted;
        }
        std::vector<ObjectPlace> places;
        Common::Error listed = selection.Locate(objects, call.serviceCode, LimitOf(request), places);
        if (!listed.IsSuccess())
            return listed;
        // The objects are known in size before any is read: they and their
        // reply, which are held together while it is written, wait for their
        // share of the reply budget first.
        size_t forms = 0;
        for (const ObjectPlace& place : places) {
            forms += place.bodySize;
            call.replySize += ReplyRoomOf(place.bodySize);
        }
        if (call.lease)
            call.lease->Take(forms + call.replySize);
        for (const ObjectPlace& place : places) {
            SelectedObject object;
            listed = selection.ReadAt(objects, call.serviceCode, place, object);
            if (!listed.IsSuccess())
                return listed;
            snapshot.push_back(std::move(object.unit));
        }
        return listed;
    });
    call.writeResults = [snapshot = std::move(snapshot), name = call.method.parameters[1]](Serializer& out) {
        Binding::Detail::ValueCodec<std::vector<UnitPtr>>::Write(out, MetaInfo(name), snapshot);
    };
    return error;
}

void ReadViewSpecification(Call& call, Deserializer& in)
{
    Binding::Detail::ValueCodec<Dml::ViewSpec>::Read(in, MetaInfo(call.method.parameters[0]), call.specification);
}

// A method: the reader of its arguments, then its work.
struct ServedMethod
{
    const Methods::Interface& table;
    const Methods::Row& method;
    void (*read)(Call& call, Deserializer& in);
    Common::Error (*serve)(Call& call, Store& store);
};

constexpr ServedMethod kServed[] = {
    {Methods::ObjectManager::kInterface, Methods::ObjectManager::kRegisterObject, &ReadUnitParameters, &RegisterObject},
    {Methods::ObjectManager::kInterface, Methods::ObjectManager::kUpdateObject, &ReadUnitParameters, &UpdateObject},
    {Methods::ObjectManager::kInterface, Methods::ObjectManager::kUnregisterObject, &ReadUnitParameters,
     &UnregisterObject},
    {Methods::ViewManager::kInterface, Methods::ViewManager::kOpenStaticView, &ReadViewSpecification, &OpenStaticView},
};

const ServedMethod* FindMethod(const std::string& interfaceName, const std::string& methodName)
{
    for (const ServedMethod& served : kServed)
        if (interfaceName == served.table.name && methodName == served.method.name)
            return &served;
    return nullptr;
}

// A name the packet reader reads back as it was written: a letter, '_' or ':'
// first, then letters, digits and "_:.-". A binary packet can carry any bytes
// in a name; a reply named after them would reach no reader.
bool IsReadableName(const std::string& name)
{
    auto isStart = [](char c) { return c == '_' || c == ':' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    auto isName = [&](char c) { return isStart(c) || c == '-' || c == '.' || (c >= '0' && c <= '9'); };
    return !name.empty() && isStart(name[0]) && std::all_of(name.begin(), name.end(), isName);
}

Common::Error RefuseCall(const std::string& reason, uint32_t line)
{
    return ServiceErrors::MakeReasonError(ServiceErrors::kRequestRefused, ServiceErrors::kRequestRefusedText, reason,
                                          kSource.At("Handle", line));
}

// The call's failure for a packet whose first element is no request: the
// deserializer's own error when it has no element at all.
Common::Error NoRequestElement(Deserializer& in, const std::string& element)
{
    if (element.empty()) {
        try {
            in.StartReadMetaInfo(MetaInfo(std::string(Ipc::kRequestPrefix)));
        } catch (const Common::Error& error) {
            return error;
        }
    }
    if (!IsReadableName(element))
        return RefuseCall("the packet holds no request element", __LINE__);
    return RefuseCall("the packet holds no request element (\"" + element + "\")", __LINE__);
}

// The request being answered: its tree, which reads the bytes where they lie,
// and those bytes when they were handed over.
struct Request
{
    std::unique_ptr<Serialization::XMLPacketDeserializer> tree;
    Ipc::Bytes* owned = nullptr;

    // Lets the tree go, then the bytes (their memory too); again does nothing.
    void LetGo()
    {
        tree.reset();
        if (owned)
            Ipc::Bytes().swap(*owned);
    }
};

// Answers a request of a method this service serves: reads its arguments,
// lets the request go, then does the work; `writeResults` receives the writer
// of its read-back parameters.
Common::Error Serve(const ServedMethod& served, Store& store, Request& request, const std::string& element,
                    const Ipc::CallContext& context, std::function<void(Serializer&)>& writeResults, size_t& replySize)
{
    Call call{served.method, context.serviceCode, context.replyLease, {}, {}, {}};
    {
        Serialization::ReadScope arguments(*request.tree, MetaInfo(element));
        served.read(call, *request.tree);
    } // the request element is left: nothing reads the tree any more
    request.LetGo();
    const Common::Error result = served.serve(call, store);
    writeResults = std::move(call.writeResults);
    replySize = call.replySize;
    return result;
}

} // namespace

ServiceCore::ServiceCore(std::unique_ptr<Store> store) : m_store(std::move(store))
{
}

ServiceCore::ServiceCore(StoreOpener opener) : m_opener(std::move(opener))
{
}

Common::Error ServiceCore::GetStore(Store*& store)
{
    Common::LockGuard guard(m_lock);
    if (!m_store) {
        Common::Error error = m_opener(m_store);
        if (!error.IsSuccess()) {
            m_store.reset();
            return error;
        }
    }
    store = m_store.get();
    return Common::Success;
}

Common::Error ServiceCore::Handle(const Ipc::CallContext& context, Ipc::ByteView request, Ipc::Bytes& reply)
{
    return Answer(context, request, nullptr, reply);
}

Common::Error ServiceCore::HandleOwned(const Ipc::CallContext& context, Ipc::Bytes& request, Ipc::Bytes& reply)
{
    return Answer(context, request, &request, reply);
}

Common::Error ServiceCore::Answer(const Ipc::CallContext& context, Ipc::ByteView bytes, Ipc::Bytes* owned,
                                  Ipc::Bytes& reply)
{
    // The request's bytes outlive its tree: read where they lie.
    Request request{std::make_unique<Serialization::XMLPacketDeserializer>(
                        bytes.data(), bytes.size(), 0, Serialization::XMLPacketDeserializer::Text::Borrowed),
                    owned};
    Serialization::XMLPacketDeserializer& in = *request.tree;
    const std::string element = in.GetCurrentMetaInfo().name;
    std::string interfaceName;
    std::string methodName;
    if (!Ipc::SplitRequestElement(element, interfaceName, methodName))
        return NoRequestElement(in, element);
    if (!IsReadableName(element))
        return RefuseCall("the request element's name holds characters no reply name can hold", __LINE__);

    Common::Error result;
    std::function<void(Serializer&)> writeResults;
    size_t replySize = 0;
    try {
        const ServedMethod* served = FindMethod(interfaceName, methodName);
        if (!served) {
            result = Ipc::MakeIpcError(Ipc::kNotSupported, Ipc::kNotSupportedText, kSource.At("Handle", __LINE__));
        } else {
            Store* store = nullptr;
            result = GetStore(store);
            if (result.IsSuccess())
                result = Serve(*served, *store, request, element, context, writeResults, replySize);
        }
    } catch (const Common::Error& thrown) {
        result = thrown;
    }
    // The results hold what they answer: the request goes before the reply is
    // written (if it did not go before the work).
    request.LetGo();

    const std::string replyName = Ipc::ReplyElement(interfaceName, methodName);
    if (!result.IsSuccess() || !writeResults)
        replySize = 0;
    else if (context.replyLease && context.replyLease->GetBytes() < replySize)
        context.replyLease->Take(replySize); // a view took its share with its objects
    const Common::Error written = Ipc::WriteReplyPacket(replyName, result, replySize != 0 ? writeResults : nullptr,
                                                        reply, replySize);
    if (written.IsSuccess())
        return written;
    // The results could not be written (too large for a packet): the failure
    // is the answer.
    return Ipc::WriteReplyPacket(replyName, written, nullptr, reply);
}

Ipc::PacketHandler& GetServiceHandler()
{
    // Never destroyed: calls of the local road may still run at exit.
    static ServiceCore* const core = new ServiceCore(&OpenLocalStore);
    return *core;
}

} // namespace Service
