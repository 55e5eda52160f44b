#include "service/service_core.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/common/location.h"
#include "enterprise/common/dml/object_key.h"
#include "enterprise/common/por/blob_walking_route.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/typed_access.h"
#include "enterprise/common/por/unit_serialization.h"
#include "enterprise/common/por/utils.h"
#include "enterprise/common/por/value_type_index.h"
#include "enterprise/serialize/xml_packet_deserializer.h"
#include "enterprise/serialize/xml_packet_serializer.h"
#include "platform/ipc/ipc_errors.h"
#include "service/object_key.h"
#include "service/object_selection.h"
#include "service/patch_applier.h"
#include "service/service_errors.h"
#include "service/store_errors.h"
#include "service/store_location.h"

namespace Service {

namespace {

using Serialization::Deserializer;
using Serialization::MetaInfo;
using Serialization::Serializer;
using UnitPtr = std::shared_ptr<const Por::View::Unit>;

constexpr Common::SourceFile kSource("service/service_core");

const Por::Name kIs("Is");
const Por::Name kNil("Nil");
const Por::Name kPattern("Pattern");
const Por::Name kOptions("Options");
const Por::Name kLimitOptions("LimitOptions");
const Por::Name kCounter("Counter");
const Por::Name kCounterValue("CounterValue");
constexpr const char16_t* kDefinitionClass = u"Dml::Operation::Definition";
constexpr const char16_t* kDeleteByPatternClass = u"Dml::Operation::DeleteByPattern";
constexpr const char* kRequestPrefix = "request_";

[[noreturn]] void Refuse(const std::string& reason, const char* function, uint32_t line)
{
    throw ServiceErrors::MakeReasonError(ServiceErrors::kRequestRefused, ServiceErrors::kRequestRefusedText, reason,
                                         kSource.At(function, line));
}

const Por::Construction::UnitFactory& Factory()
{
    return *Por::Construction::GetDefaultUnitFactory();
}

bool IsKind(const Por::View::Unit& unit, Por::ValueKind kind)
{
    return Por::Util::GetValueTypeIndex(unit) == static_cast<int>(kind);
}

// One request being answered: its arguments, its service code, and the
// writer of its read-back parameters (used only when the result is success).
struct Call
{
    Deserializer& in;
    int32_t serviceCode;
    std::function<void(Serializer&)> writeResults;
};

UnitPtr ReadUnitArgument(Deserializer& in, const char* name)
{
    Serialization::ReadScope scope(in, MetaInfo(name));
    UnitPtr unit = Por::Serialization::DeserializeUnit(in);
    scope.Close();
    return unit;
}

UnitPtr RequireUnitArgument(Deserializer& in, const char* name)
{
    UnitPtr unit = ReadUnitArgument(in, name);
    if (!unit)
        Refuse(std::string("the argument \"") + name + "\" holds no unit", "ReadArguments", __LINE__);
    return unit;
}

void WriteUnitElement(Serializer& out, const std::string& name, const UnitPtr& unit)
{
    Serialization::WriteScope scope(out, MetaInfo(name));
    Por::Serialization::SerializeUnit(out, unit);
    scope.Close();
}

// The parameters of an ObjectManager method, answered back as they came.
std::function<void(Serializer&)> EchoUnits(std::vector<std::pair<const char*, UnitPtr>> units)
{
    return [units = std::move(units)](Serializer& out) {
        for (const auto& [name, unit] : units)
            WriteUnitElement(out, name, unit);
    };
}

// A trait "Is" whose value is the String `text`.
bool HasIsValue(const Por::View::Unit& unit, const char16_t* text)
{
    static const std::u16string kNone;
    bool found = false;
    auto finder = Por::ProcessorOf<const Por::View::Trait>([&](const Por::View::Trait& trait) {
        found = Por::Util::GetUnitValue<std::u16string>(trait.GetValue(), kNone) == text;
        return found;
    });
    unit.traits().ForEachNamed(kIs, finder);
    return found;
}

struct ViewOptions
{
    size_t limit = kNoLimit;
    bool counter = false;
};

// No options (or a Nil) asks for nothing.
ViewOptions ReadViewOptions(const Por::View::Unit* options)
{
    ViewOptions result;
    if (!options || IsKind(*options, Por::ValueKind::Nil))
        return result;
    if (!IsKind(*options, Por::ValueKind::Composite))
        Refuse("the view options are not a Composite", "ReadViewOptions", __LINE__);
    if (const Por::View::Property* limit = Por::Util::FindConstProperty(*options, kLimitOptions)) {
        if (!IsKind(limit->GetValue(), Por::ValueKind::DWord))
            Refuse("\"LimitOptions\" is not a DWord", "ReadViewOptions", __LINE__);
        result.limit = Por::Util::GetUnitValue<unsigned int>(limit->GetValue());
    }
    result.counter = Por::Util::HasProperty(*options, kCounter);
    return result;
}

UnitPtr MakeCounterAnswer(uint64_t count)
{
    std::unique_ptr<Por::Construction::Unit> answer = Factory().CreateComposite();
    Por::Util::AddProperty(*answer, kCounterValue,
                           Factory().CreateDWord(static_cast<unsigned int>(std::min<uint64_t>(count, UINT32_MAX))),
                           Factory());
    return answer;
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
    if (!HasIsValue(record, kDeleteByPatternClass))
        Refuse("operation records other than delete-by-pattern are not executed", "ExecuteOperation", __LINE__);
    const Por::View::Property* pattern = Por::Util::FindConstProperty(record, kPattern);
    if (!pattern ||
        (IsKind(pattern->GetValue(), Por::ValueKind::Nil) && Por::Util::HasTrait(pattern->GetValue(), kNil)))
        Refuse("the delete-by-pattern record carries no pattern", "ExecuteOperation", __LINE__);
    const Por::View::Property* options = Por::Util::FindConstProperty(record, kOptions);
    const ViewOptions viewOptions = ReadViewOptions(options ? &options->GetValue() : nullptr);
    const Selection selection(pattern->GetValue());
    return store.Run(Store::Mode::Write, [&](Transaction& objects) {
        size_t removed = 0;
        return selection.Remove(objects, call.serviceCode, viewOptions.limit, removed);
    });
}

Common::Error RegisterObject(Call& call, Store& store)
{
    const UnitPtr object = RequireUnitArgument(call.in, "object");
    call.writeResults = EchoUnits({{"object", object}});
    return HasIsValue(*object, kDefinitionClass) ? ExecuteOperation(call, store, *object)
                                                 : StoreAsNew(call, store, *object);
}

Common::Error UpdateObject(Call& call, Store& store)
{
    const UnitPtr objectId = RequireUnitArgument(call.in, "objectId");
    const UnitPtr patch = RequireUnitArgument(call.in, "patch");
    call.writeResults = EchoUnits({{"objectId", objectId}, {"patch", patch}});
    const Ipc::Bytes key = MakeKeyBytes(*objectId);
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
        const std::unique_ptr<Por::Construction::Unit> updated = ApplyPatch(*old, *patch, Factory());
        Ipc::Bytes body;
        Por::Util::WriteBinaryUnit(*updated, body);
        return objects.Replace(call.serviceCode, key, MakeKeyBytes(Dml::GetObjectKey(*updated)), body);
    });
}

Common::Error UnregisterObject(Call& call, Store& store)
{
    const UnitPtr objectId = RequireUnitArgument(call.in, "objectId");
    call.writeResults = EchoUnits({{"objectId", objectId}});
    const Ipc::Bytes key = MakeKeyBytes(*objectId);
    return store.Run(Store::Mode::Write, [&](Transaction& objects) { return objects.Remove(call.serviceCode, key); });
}

Common::Error OpenStaticView(Call& call, Store& store)
{
    UnitPtr pattern;
    UnitPtr options;
    {
        Serialization::ReadScope specification(call.in, MetaInfo("specification"));
        pattern = ReadUnitArgument(call.in, "Pattern");
        options = ReadUnitArgument(call.in, "Options");
        specification.Close();
    }
    if (!pattern)
        Refuse("the view has no pattern", "OpenStaticView", __LINE__);
    const ViewOptions viewOptions = ReadViewOptions(options.get());
    const Selection selection(*pattern);
    std::vector<UnitPtr> snapshot;
    Common::Error error = store.Run(Store::Mode::Read, [&](Transaction& objects) {
        if (viewOptions.counter) {
            uint64_t count = 0;
            Common::Error counted = selection.Count(objects, call.serviceCode, count);
            if (counted.IsSuccess())
                snapshot.push_back(MakeCounterAnswer(count));
            return counted;
        }
        std::vector<SelectedObject> selected;
        Common::Error listed = selection.List(objects, call.serviceCode, viewOptions.limit, selected);
        for (SelectedObject& object : selected)
            snapshot.push_back(std::move(object.unit));
        return listed;
    });
    call.writeResults = [snapshot = std::move(snapshot)](Serializer& out) {
        Serialization::WriteScope parameter(out, MetaInfo("snapshot"));
        Serialization::WriteScope vector(out, MetaInfo(Serialization::kVectorTag));
        for (const UnitPtr& unit : snapshot)
            WriteUnitElement(out, Serialization::kItemTag, unit);
        vector.Close();
        parameter.Close();
    };
    return error;
}

struct Method
{
    const char* interfaceName;
    const char* methodName;
    Common::Error (*serve)(Call& call, Store& store);
};

constexpr Method kMethods[] = {
    {"ObjectManager", "RegisterObject", &RegisterObject},
    {"ObjectManager", "UpdateObject", &UpdateObject},
    {"ObjectManager", "UnregisterObject", &UnregisterObject},
    {"ViewManager", "OpenStaticView", &OpenStaticView},
};

// "request_<Interface>_<Method>" into its two names.
bool SplitRequestName(const std::string& element, std::string& interfaceName, std::string& methodName)
{
    const size_t prefix = std::char_traits<char>::length(kRequestPrefix);
    if (element.compare(0, prefix, kRequestPrefix) != 0)
        return false;
    const size_t separator = element.find('_', prefix);
    if (separator == std::string::npos || separator == prefix || separator + 1 == element.size())
        return false;
    interfaceName = element.substr(prefix, separator - prefix);
    methodName = element.substr(separator + 1);
    return true;
}

const Method* FindMethod(const std::string& interfaceName, const std::string& methodName)
{
    for (const Method& method : kMethods)
        if (interfaceName == method.interfaceName && methodName == method.methodName)
            return &method;
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
            in.StartReadMetaInfo(MetaInfo(kRequestPrefix));
        } catch (const Common::Error& error) {
            return error;
        }
    }
    if (!IsReadableName(element))
        return RefuseCall("the packet holds no request element", __LINE__);
    return RefuseCall("the packet holds no request element (\"" + element + "\")", __LINE__);
}

void WriteReply(const std::string& replyName, const Common::Error& result,
                const std::function<void(Serializer&)>* writeResults, Ipc::Bytes& reply)
{
    Serialization::XMLPacketSerializer out(2, -1);
    const MetaInfo replyMeta(replyName);
    out.StartWriteMetaInfo(replyMeta);
    out.Write(MetaInfo("result"), result);
    if (writeResults && *writeResults)
        (*writeResults)(out);
    out.FinishWriteMetaInfo(replyMeta);
    out.GetData(reply);
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
    Serialization::XMLPacketDeserializer in(request.data(), request.size(), 0);
    const std::string element = in.GetCurrentMetaInfo().name;
    std::string interfaceName;
    std::string methodName;
    if (!SplitRequestName(element, interfaceName, methodName))
        return NoRequestElement(in, element);
    if (!IsReadableName(element))
        return RefuseCall("the request element's name holds characters no reply name can hold", __LINE__);

    Call call{in, context.serviceCode, {}};
    Common::Error result;
    try {
        const Method* method = FindMethod(interfaceName, methodName);
        if (!method) {
            result = Ipc::MakeIpcError(Ipc::kNotSupported, Ipc::kNotSupportedText, kSource.At("Handle", __LINE__));
        } else {
            Store* store = nullptr;
            result = GetStore(store);
            if (result.IsSuccess()) {
                Serialization::ReadScope arguments(in, MetaInfo(element));
                result = method->serve(call, *store);
            }
        }
    } catch (const Common::Error& thrown) {
        result = thrown;
    }

    const std::string replyName = "reply_" + interfaceName + "_" + methodName;
    try {
        WriteReply(replyName, result, result.IsSuccess() ? &call.writeResults : nullptr, reply);
    } catch (const Common::Error& thrown) {
        // The results could not be written (too large for a packet): the
        // failure is the answer.
        WriteReply(replyName, thrown, nullptr, reply);
    }
    return Common::Success;
}

Ipc::PacketHandler& GetServiceHandler()
{
    // Never destroyed: calls of the local road may still run at exit.
    static ServiceCore* const core = new ServiceCore(&OpenLocalStore);
    return *core;
}

} // namespace Service
