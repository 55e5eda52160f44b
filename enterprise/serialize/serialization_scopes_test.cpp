#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "core/common/trace.h"
#include "enterprise/serialize/deserializer.h"
#include "enterprise/serialize/dynamic_caster.h"
#include "enterprise/serialize/xml_packet_serializer.h"

namespace Binding::Detail {
class RequestBase;
}

namespace Serialization {
namespace {

constexpr Common::SourceFile kSource("enterprise/serialize/serialization_scopes_test");

// Records the element calls and context changes; can fail the next close.
class RecordingSerializer final : public Serializer
{
public:
    std::vector<std::string> calls;
    bool failClose = false;
    void* context = nullptr;

    void Write(const MetaInfo& m, bool) override { calls.push_back("write:" + m.name); }
    void Write(const MetaInfo& m, char) override { calls.push_back("write:" + m.name); }
    void Write(const MetaInfo& m, const Common::Guid&) override { calls.push_back("write:" + m.name); }
    void Write(const MetaInfo& m, const Common::Error&) override { calls.push_back("write:" + m.name); }
    void Write(const MetaInfo& m, const std::u16string&) override { calls.push_back("write:" + m.name); }
    void Write(const MetaInfo& m, const uint32_t&) override { calls.push_back("write:" + m.name); }
    void Write(const MetaInfo& m, const double&) override { calls.push_back("write:" + m.name); }
    void Write(const MetaInfo& m, const uint64_t&) override { calls.push_back("write:" + m.name); }
    void Write(const MetaInfo& m, const int32_t& v) override
    {
        calls.push_back("write:" + m.name + "=" + std::to_string(v));
    }
    void Write(const MetaInfo& m, const int64_t&) override { calls.push_back("write:" + m.name); }
    void Write(const MetaInfo& m, const std::string&) override { calls.push_back("write:" + m.name); }
    void Write(const MetaInfo& m, const int16_t&) override { calls.push_back("write:" + m.name); }
    void Write(const MetaInfo& m, const uint16_t&) override { calls.push_back("write:" + m.name); }
    void Write(const MetaInfo& m, const std::vector<unsigned char>&) override { calls.push_back("write:" + m.name); }
    void Write(const MetaInfo& m, const SharedData&) override { calls.push_back("write:" + m.name); }
    void GetData(std::vector<unsigned char>&) override {}
    SharedData GetSharedData() override { return {}; }
    MetaInfo GetCurrentMetaInfo() const override { return MetaInfo(); }
    void StartWriteMetaInfo(const MetaInfo& m) override
    {
        if (m.name == "bad-open")
            Common::ThrowError(Common::Error(0x9C0010, "open", kSource.At("Start", __LINE__)));
        calls.push_back("start:" + m.name);
    }
    void FinishWriteMetaInfo(const MetaInfo& m) override
    {
        calls.push_back("finish:" + m.name);
        if (failClose)
            Common::ThrowError(Common::Error(0x9C0011, "close", kSource.At("Finish", __LINE__)));
    }
    void SetContext(void* value) override
    {
        calls.push_back("set:" + std::to_string(reinterpret_cast<uintptr_t>(value)));
        context = value;
    }
    void* GetContext() const override { return context; }
};

class RecordingDeserializer final : public Deserializer
{
public:
    std::vector<std::string> calls;
    bool failClose = false;

    void Read(const MetaInfo&, bool&) override {}
    void Read(const MetaInfo&, char&) override {}
    void Read(const MetaInfo&, Common::Guid&) override {}
    void Read(const MetaInfo&, Common::Error&) override {}
    void Read(const MetaInfo&, std::u16string&) override {}
    void Read(const MetaInfo&, uint32_t&) override {}
    void Read(const MetaInfo&, double&) override {}
    void Read(const MetaInfo&, uint64_t&) override {}
    void Read(const MetaInfo&, int32_t&) override {}
    void Read(const MetaInfo&, int64_t&) override {}
    void Read(const MetaInfo&, std::string&) override {}
    void Read(const MetaInfo&, int16_t&) override {}
    void Read(const MetaInfo&, uint16_t&) override {}
    void Read(const MetaInfo&, std::vector<unsigned char>&) override {}
    void Read(const MetaInfo&, SharedData&) override {}
    MetaInfo GetCurrentMetaInfo() const override { return MetaInfo(); }
    void StartReadMetaInfo(const MetaInfo& m) override
    {
        if (m.name == "missing")
            Common::ThrowError(Common::Error(0x9C0002, "missing", kSource.At("Start", __LINE__)));
        calls.push_back("start:" + m.name);
    }
    void FinishReadMetaInfo(const MetaInfo& m) override
    {
        calls.push_back("finish:" + m.name);
        if (failClose)
            Common::ThrowError(Common::Error(0x9C0002, "close", kSource.At("Finish", __LINE__)));
    }
    uint64_t GetSubjectVersion() const override { return 0; }
};

// Collects the errors traced while it is installed.
class TraceCapture
{
public:
    TraceCapture()
    {
        s_traced.clear();
        m_registry.callbacks.push_back(Common::TraceCallbacks{nullptr, &OnError, nullptr, nullptr});
        m_previous = Common::Detail::SetTraceRegistryForTesting(&m_registry);
    }
    ~TraceCapture() { Common::Detail::SetTraceRegistryForTesting(m_previous); }

    static std::vector<std::pair<int, unsigned>> s_traced;

private:
    static void OnError(int level, const Common::Error& error) { s_traced.emplace_back(level, error.GetCode()); }

    Common::TraceRegistry m_registry;
    Common::TraceRegistry* m_previous;
};
std::vector<std::pair<int, unsigned>> TraceCapture::s_traced;

using Calls = std::vector<std::string>;

TEST(WriteScope, ClosesAtEndOfBlockWithTheOpeningDescriptor)
{
    RecordingSerializer serializer;
    {
        MetaInfo meta("x");
        WriteScope scope(serializer, meta);
        meta.name = "changed";
        serializer.Write(MetaInfo("v"), int32_t{1});
    }
    EXPECT_EQ(serializer.calls, (Calls{"start:x", "write:v=1", "finish:x"}));
}

TEST(WriteScope, CloseErrorIsTracedAtLevelFourAndDropped)
{
    TraceCapture capture;
    RecordingSerializer serializer;
    serializer.failClose = true;
    EXPECT_NO_THROW({ WriteScope scope(serializer, MetaInfo("x")); });
    EXPECT_EQ(serializer.calls, (Calls{"start:x", "finish:x"}));
    EXPECT_EQ(TraceCapture::s_traced, (std::vector<std::pair<int, unsigned>>{{4, 0x9C0011u}}));
}

TEST(WriteScope, ErrorOfTheBodyWinsAndElementIsStillClosed)
{
    TraceCapture capture;
    RecordingSerializer serializer;
    serializer.failClose = true;
    try {
        WriteScope scope(serializer, MetaInfo("x"));
        throw std::runtime_error("body");
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "body");
    }
    EXPECT_EQ(serializer.calls, (Calls{"start:x", "finish:x"}));
    EXPECT_EQ(TraceCapture::s_traced.size(), 1u);
}

TEST(WriteScope, FailedOpenClosesNothing)
{
    RecordingSerializer serializer;
    EXPECT_THROW({ WriteScope scope(serializer, MetaInfo("bad-open")); }, Common::Error);
    EXPECT_TRUE(serializer.calls.empty());
}

TEST(WriteScope, ExplicitCloseRaisesAndEndsTheScope)
{
    RecordingSerializer serializer;
    {
        WriteScope scope(serializer, MetaInfo("x"));
        serializer.failClose = true;
        EXPECT_THROW(scope.Close(), Common::Error);
        scope.Close();
    }
    EXPECT_EQ(serializer.calls, (Calls{"start:x", "finish:x"}));
}

TEST(ReadScope, LeavesAtEndAndTracesLeavingErrors)
{
    TraceCapture capture;
    RecordingDeserializer deserializer;
    {
        ReadScope scope(deserializer, MetaInfo("x"));
        deserializer.failClose = true;
    }
    EXPECT_EQ(deserializer.calls, (Calls{"start:x", "finish:x"}));
    EXPECT_EQ(TraceCapture::s_traced, (std::vector<std::pair<int, unsigned>>{{4, 0x9C0002u}}));

    deserializer.calls.clear();
    EXPECT_THROW({ ReadScope scope(deserializer, MetaInfo("missing")); }, Common::Error);
    EXPECT_TRUE(deserializer.calls.empty());
}

TEST(ContextScope, SameValueTouchesNothing)
{
    RecordingSerializer serializer;
    int a = 0;
    serializer.context = &a;
    {
        ContextScope scope(serializer, &a);
    }
    EXPECT_TRUE(serializer.calls.empty());
    EXPECT_EQ(serializer.context, &a);
}

TEST(ContextScope, NestedScopesRestoreInReverseOrderAlsoWhenUnwinding)
{
    RecordingSerializer serializer;
    int a = 0, b = 0;
    std::vector<void*> seen;
    try {
        ContextScope outer(serializer, &a);
        seen.push_back(serializer.GetContext());
        ContextScope inner(serializer, &b);
        seen.push_back(serializer.GetContext());
        throw std::runtime_error("unwind");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(seen, (std::vector<void*>{&a, &b}));
    EXPECT_EQ(serializer.context, nullptr);
    auto set = [](void* p) { return "set:" + std::to_string(reinterpret_cast<uintptr_t>(p)); };
    EXPECT_EQ(serializer.calls, (Calls{set(&a), set(&b), set(&a), set(nullptr)}));
}

} // namespace

// The element serialization that ValueIterator<int32_t> uses.
void SerializeValue(Serializer& serializer, const int32_t& value)
{
    serializer.Write(MetaInfo(""), value);
}

namespace {

TEST(ValueIterator, WritesOneItemPerElement)
{
    std::vector<int32_t> values{4, 5};
    RecordingSerializer serializer;
    ValueIterator<int32_t> iterator(values.begin(), values.end());
    ContainerIterator& base = iterator;
    while (base.HasCurrent()) {
        base.SerializeCurrent(serializer);
        base.Next();
    }
    EXPECT_EQ(serializer.calls,
              (Calls{"start:item", "write:=4", "finish:item", "start:item", "write:=5", "finish:item"}));

    ValueIterator<int32_t> empty(values.end(), values.end());
    EXPECT_FALSE(empty.HasCurrent());

    XMLPacketSerializer packet(2, 0);
    packet.StartWriteMetaInfo(MetaInfo(kVectorTag));
    for (ValueIterator<int32_t> it(values.begin(), values.end()); it.HasCurrent(); it.Next())
        it.SerializeCurrent(packet);
    packet.FinishWriteMetaInfo(MetaInfo(kVectorTag));
    std::vector<unsigned char> bytes;
    packet.GetData(bytes);
    EXPECT_EQ(std::string(bytes.begin() + 19, bytes.end()),
              "<vector><item>4</item><item>5</item></vector></XML_SERIALIZER>");
}

class Offering : public Common::DynamicCasterImpl
{
public:
    Offering()
    {
        RegisterInterface<Binding::Detail::RequestBase>(reinterpret_cast<Binding::Detail::RequestBase*>(&m_first));
    }
    void Replace()
    {
        RegisterInterface<Binding::Detail::RequestBase>(reinterpret_cast<Binding::Detail::RequestBase*>(&m_second));
    }

    int m_first = 0;
    int m_second = 0;
};

TEST(DynamicCaster, LooksUpByMangledPointerTypeName)
{
    EXPECT_STREQ(Common::InterfaceKey<Binding::Detail::RequestBase>(), "PN7Binding6Detail11RequestBaseE");
    EXPECT_STREQ(Common::InterfaceKey<ContainerIterator>(), "PN13Serialization17ContainerIteratorE");

    Offering offering;
    Common::DynamicCaster& caster = offering;
    EXPECT_EQ(caster.Cast("PN7Binding6Detail11RequestBaseE"), &offering.m_first);
    EXPECT_EQ(caster.Cast(nullptr), nullptr);
    EXPECT_EQ(caster.Cast(""), nullptr);
    EXPECT_EQ(caster.Cast("PN7Binding6Detail11RequestBase"), nullptr);
    EXPECT_EQ(Common::DynamicCast<Binding::Detail::RequestBase>(caster),
              reinterpret_cast<Binding::Detail::RequestBase*>(&offering.m_first));

    offering.Replace();
    EXPECT_EQ(caster.Cast("PN7Binding6Detail11RequestBaseE"), &offering.m_second);
}

TEST(MetaInfo, ConstructorsAndNamedDescriptors)
{
    MetaInfo strict("a", true);
    EXPECT_EQ(strict.name, "a");
    EXPECT_TRUE(strict.strictOrder);
    EXPECT_EQ(strict.version, 0u);
    EXPECT_EQ(strict.targetVersion, 0);
    EXPECT_EQ(strict.versionForTarget, 0u);
    EXPECT_EQ(strict.primaryTraits, nullptr);
    EXPECT_EQ(strict.secondaryTraits, nullptr);
    EXPECT_EQ(kClassIdMetaInfo.name, "ClassID");
    EXPECT_EQ(kObjectMetaInfo.name, "Object");
    EXPECT_FALSE(kObjectMetaInfo.strictOrder);
}

} // namespace
} // namespace Serialization
