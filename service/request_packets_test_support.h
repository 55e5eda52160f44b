// Test support of the service core tests: request packets laid out as the
// system's requests write them, replies read as the system's requests read
// them (strictly: "result" first, then the read-back parameters), and the
// small objects, keys and patterns the tests store and select.
//
// Threading: used on one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "enterprise/common/dml/object_key.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/unit_serialization.h"
#include "enterprise/serialize/xml_packet_deserializer.h"
#include "enterprise/serialize/xml_packet_serializer.h"
#include "platform/ipc/bytes.h"

namespace ServiceTesting {

using UnitPtr = std::shared_ptr<const Por::View::Unit>;

struct Argument
{
    std::string name;
    UnitPtr unit;
};

inline const Por::Construction::UnitFactory& Factory()
{
    return *Por::Construction::GetDefaultUnitFactory();
}

inline void WriteUnitArgument(Serialization::Serializer& out, const Argument& argument)
{
    Serialization::WriteScope scope(out, Serialization::MetaInfo(argument.name));
    Por::Serialization::SerializeUnit(out, argument.unit);
    scope.Close();
}

// "request_<interface>_<method>" holding one unit element per argument.
inline Ipc::Bytes RequestPacket(const std::string& interfaceName, const std::string& method,
                                const std::vector<Argument>& arguments)
{
    Serialization::XMLPacketSerializer out(2, -1);
    const Serialization::MetaInfo element("request_" + interfaceName + "_" + method);
    out.StartWriteMetaInfo(element);
    for (const Argument& argument : arguments)
        WriteUnitArgument(out, argument);
    out.FinishWriteMetaInfo(element);
    Ipc::Bytes packet;
    out.GetData(packet);
    return packet;
}

// "OpenStaticView": "specification" {"Pattern", "Options"}, then an empty "snapshot".
inline Ipc::Bytes ViewPacket(const UnitPtr& pattern, const UnitPtr& options)
{
    using Serialization::MetaInfo;
    Serialization::XMLPacketSerializer out(2, -1);
    const MetaInfo element("request_ViewManager_OpenStaticView");
    out.StartWriteMetaInfo(element);
    {
        Serialization::WriteScope specification(out, MetaInfo("specification"));
        WriteUnitArgument(out, {"Pattern", pattern});
        WriteUnitArgument(out, {"Options", options});
    }
    {
        Serialization::WriteScope snapshot(out, MetaInfo("snapshot"));
        Serialization::WriteScope vector(out, MetaInfo("vector"));
    }
    out.FinishWriteMetaInfo(element);
    Ipc::Bytes packet;
    out.GetData(packet);
    return packet;
}

struct Reply
{
    Common::Error result;
    bool hasSnapshot = false;
    std::vector<UnitPtr> snapshot;
    std::vector<std::string> readBack; // names of the children after "result"
};

// Reads "reply_<interface>_<method>": "result" strictly first; then, when
// "snapshot" follows, its items strictly in order.
inline Reply ReadReply(const Ipc::Bytes& packet, const std::string& interfaceName, const std::string& method)
{
    using Serialization::MetaInfo;
    Reply reply;
    Serialization::XMLPacketDeserializer in(packet.data(), packet.size(), 0);
    Serialization::ReadScope element(in, MetaInfo("reply_" + interfaceName + "_" + method));
    in.Read(MetaInfo("result", true), reply.result);
    for (std::string next = in.GetCurrentMetaInfo().name; !next.empty(); next = in.GetCurrentMetaInfo().name) {
        reply.readBack.push_back(next);
        Serialization::ReadScope child(in, MetaInfo(next, true));
        if (next != "snapshot")
            continue;
        reply.hasSnapshot = true;
        Serialization::ReadScope vector(in, MetaInfo("vector", true));
        while (in.GetCurrentMetaInfo().name == "item") {
            Serialization::ReadScope item(in, MetaInfo("item", true));
            reply.snapshot.push_back(Por::Serialization::DeserializeUnit(in));
        }
    }
    return reply;
}

inline const Por::Name kPrimaryKey("PrimaryKey");
inline const Por::Name kObjectId("ObjectID");

// {ID: DWord id marked "PrimaryKey", Group: group, Size: size}
inline UnitPtr MakeObject(uint32_t id, const std::u16string& group, uint32_t size = 0)
{
    PorTesting::Make m(Factory());
    return m.Composite(m.Prop("Group", m.String(group)), m.Prop("ID", m.With(m.DWord(id), kPrimaryKey, m.Nil())),
                       m.Prop("Size", m.DWord(size)));
}

// {ID: DWord id marked "PrimaryKey", Group: group, Bytes: a Blob of `size` bytes}
inline UnitPtr MakeLargeObject(uint32_t id, const std::u16string& group, size_t size)
{
    PorTesting::Make m(Factory());
    std::vector<unsigned char> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(i * 7 + id);
    return m.Composite(m.Prop("Group", m.String(group)), m.Prop("ID", m.With(m.DWord(id), kPrimaryKey, m.Nil())),
                       m.Prop("Bytes", m.Blob(bytes)));
}

// The key as GetObjectKey finds it in an object.
inline UnitPtr Key(uint32_t id)
{
    PorTesting::Make m(Factory());
    return m.With(m.DWord(id), kPrimaryKey, m.Nil());
}

// The key pattern a client makes of it (the key with "ObjectID").
inline UnitPtr KeyPattern(uint32_t id)
{
    return Dml::MakeKeyPattern(*Key(id), Factory());
}

// {Group: group}: every object of the group.
inline UnitPtr GroupPattern(const std::u16string& group)
{
    PorTesting::Make m(Factory());
    return m.Composite(m.Prop("Group", m.String(group)));
}

// View options {LimitOptions: DWord limit}, with a "Counter" when asked.
inline UnitPtr LimitOptions(uint32_t limit, bool counter = false)
{
    PorTesting::Make m(Factory());
    if (counter)
        return m.Composite(m.Prop("LimitOptions", m.DWord(limit)),
                           m.Prop("Counter", m.Composite(m.Prop("CounterObjectTemplate", m.Composite()))));
    return m.Composite(m.Prop("LimitOptions", m.DWord(limit)));
}

} // namespace ServiceTesting
