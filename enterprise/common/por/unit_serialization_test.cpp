// The unit serialization bridge: "is_empty" and "value", the facets, and the
// XML packet form.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "enterprise/common/por/blob_walking_route.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/test_support/render.h"
#include "enterprise/common/por/unit_serialization.h"
#include "enterprise/serialize/xml_packet_deserializer.h"
#include "enterprise/serialize/xml_packet_serializer.h"
#include "testing/error_matchers.h"

namespace {

using namespace Por;
using PorTesting::UnitPtr;
using ::Serialization::MetaInfo;
using ::Serialization::SharedData;

const Construction::InMemoryUnitFactory kFactory;
const PorTesting::Make m(kFactory);

// A serializer that records "name=value" of the Boolean and byte-array
// writes, and offers the unit-aware facet when asked to.
class RecordingSerializer final : public Por::Serialization::PorAwareSerializer
{
public:
    explicit RecordingSerializer(bool offerFacet)
    {
        if (offerFacet)
            RegisterInterface<Por::Serialization::PorAwareSerializer>(this);
    }

    std::vector<std::string> log;

    ::Serialization::Serializer& WriteUnit(const MetaInfo& meta, const View::Unit* unit) override
    {
        log.push_back("WriteUnit(" + meta.name + (unit ? ", unit)" : ", null)"));
        return *this;
    }
    void Write(const MetaInfo& meta, bool value) override { log.push_back(meta.name + "=" + (value ? "1" : "0")); }
    void Write(const MetaInfo& meta, const std::vector<unsigned char>& value) override
    {
        log.push_back(meta.name + "=" + std::to_string(value.size()) + " bytes");
    }
#define POR_TEST_IGNORED_WRITE(Type)           \
    void Write(const MetaInfo&, Type) override \
    {                                          \
        log.push_back("other write");          \
    }
    POR_TEST_IGNORED_WRITE(char)
    POR_TEST_IGNORED_WRITE(const Common::Guid&)
    POR_TEST_IGNORED_WRITE(const Common::Error&)
    POR_TEST_IGNORED_WRITE(const std::u16string&)
    POR_TEST_IGNORED_WRITE(const uint32_t&)
    POR_TEST_IGNORED_WRITE(const double&)
    POR_TEST_IGNORED_WRITE(const uint64_t&)
    POR_TEST_IGNORED_WRITE(const int32_t&)
    POR_TEST_IGNORED_WRITE(const int64_t&)
    POR_TEST_IGNORED_WRITE(const std::string&)
    POR_TEST_IGNORED_WRITE(const int16_t&)
    POR_TEST_IGNORED_WRITE(const uint16_t&)
    POR_TEST_IGNORED_WRITE(const SharedData&)
#undef POR_TEST_IGNORED_WRITE
    void GetData(std::vector<unsigned char>&) override
    {
    }
    SharedData GetSharedData() override
    {
        return SharedData();
    }
    MetaInfo GetCurrentMetaInfo() const override
    {
        return MetaInfo();
    }
    void StartWriteMetaInfo(const MetaInfo&) override
    {
    }
    void FinishWriteMetaInfo(const MetaInfo&) override
    {
    }
    void SetContext(void*) override
    {
    }
    void* GetContext() const override
    {
        return nullptr;
    }
};

// A deserializer that answers the Boolean read with `flag` (or leaves it) and
// the byte-array read with `bytes`, recording what was read.
class ScriptedDeserializer final : public ::Serialization::Deserializer
{
public:
    bool touchFlag = true;
    bool flag = false;
    std::vector<unsigned char> bytes;
    std::vector<std::string> log;

    void Read(const MetaInfo& meta, bool& value) override
    {
        log.push_back(meta.name);
        if (touchFlag)
            value = flag;
    }
    void Read(const MetaInfo& meta, std::vector<unsigned char>& value) override
    {
        log.push_back(meta.name);
        value = bytes;
    }
#define POR_TEST_IGNORED_READ(Type)            \
    void Read(const MetaInfo&, Type&) override \
    {                                          \
        log.push_back("other read");           \
    }
    POR_TEST_IGNORED_READ(char)
    POR_TEST_IGNORED_READ(Common::Guid)
    POR_TEST_IGNORED_READ(Common::Error)
    POR_TEST_IGNORED_READ(std::u16string)
    POR_TEST_IGNORED_READ(uint32_t)
    POR_TEST_IGNORED_READ(double)
    POR_TEST_IGNORED_READ(uint64_t)
    POR_TEST_IGNORED_READ(int32_t)
    POR_TEST_IGNORED_READ(int64_t)
    POR_TEST_IGNORED_READ(std::string)
    POR_TEST_IGNORED_READ(int16_t)
    POR_TEST_IGNORED_READ(uint16_t)
    POR_TEST_IGNORED_READ(SharedData)
#undef POR_TEST_IGNORED_READ
    MetaInfo GetCurrentMetaInfo() const override
    {
        return MetaInfo();
    }
    void StartReadMetaInfo(const MetaInfo&) override
    {
    }
    void FinishReadMetaInfo(const MetaInfo&) override
    {
    }
    uint64_t GetSubjectVersion() const override
    {
        return 0;
    }
};

TEST(UnitSerialization, FacetsAreFoundByTheirLookupNames)
{
    EXPECT_STREQ(Common::InterfaceKey<Por::Serialization::PorAwareSerializer>(),
                 "PN3Por13Serialization18PorAwareSerializerE");
    EXPECT_STREQ(Common::InterfaceKey<Por::Serialization::PorAwareDeserializer>(),
                 "PN3Por13Serialization20PorAwareDeserializerE");
}

TEST(UnitSerialization, WritesIsEmptyAndTheBinaryForm)
{
    RecordingSerializer serializer(false);
    const UnitPtr nil = m.Nil();
    EXPECT_EQ(&Por::Serialization::SerializeUnit(serializer, nil.get()), &serializer);
    EXPECT_EQ(&Por::Serialization::SerializeUnit(serializer, std::shared_ptr<const View::Unit>()), &serializer);
    EXPECT_THAT(serializer.log, ::testing::ElementsAre("is_empty=0", "value=3 bytes", "is_empty=1"));
}

TEST(UnitSerialization, AUnitAwareSerializerTakesTheWholeUnit)
{
    RecordingSerializer serializer(true);
    const UnitPtr nil = m.Nil();
    (void)Por::Serialization::SerializeUnit(serializer, nil.get());
    (void)Por::Serialization::SerializeUnit(serializer, nullptr);
    EXPECT_THAT(serializer.log, ::testing::ElementsAre("WriteUnit(, unit)", "WriteUnit(, null)"));
}

TEST(UnitSerialization, ReadsIsEmptyThenTheValue)
{
    struct Case
    {
        const char* what;
        bool touchFlag;
        bool flag;
        std::vector<unsigned char> bytes;
        const char* unit;
        std::vector<std::string> reads;
    };
    const Case cases[] = {
        {"a unit", true, false, {0x55, 0x06, 1, 0, 0, 0, 0x45}, "DWord 1", {"is_empty", "value"}},
        {"empty", true, true, {0x55, 0x00, 0x45}, "null", {"is_empty"}},
        {"the flag left untouched", false, false, {0x55, 0x00, 0x45}, "null", {"is_empty"}},
        {"no bytes", true, false, {}, "null", {"is_empty", "value"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedDeserializer deserializer;
        deserializer.touchFlag = c.touchFlag;
        deserializer.flag = c.flag;
        deserializer.bytes = c.bytes;
        const UnitPtr unit = Por::Serialization::DeserializeUnit(deserializer);
        EXPECT_EQ(unit ? PorTesting::Render(*unit) : "null", c.unit);
        EXPECT_EQ(deserializer.log, c.reads);
    }
}

TEST(UnitSerialization, TheSharedPointerIsReplacedOnlyBySuccess)
{
    ScriptedDeserializer deserializer;
    deserializer.bytes = {0x55, 0x02, 0x07, 0x45};
    std::shared_ptr<Construction::Unit> unit = m.Nil();
    const std::weak_ptr<Construction::Unit> old = unit;
    (void)Por::Serialization::DeserializeUnit(deserializer, unit);
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(PorTesting::Render(*unit), "Byte 7");
    EXPECT_TRUE(old.expired()) << "the old unit is released";

    ScriptedDeserializer corrupted;
    corrupted.bytes = {0x55, 0x58};
    const Construction::Unit* before = unit.get();
    EXPECT_THROW((void)Por::Serialization::DeserializeUnit(corrupted, unit), Common::Error);
    EXPECT_EQ(unit.get(), before);
}

TEST(UnitSerialization, ThroughAnXmlPacket)
{
    ::Serialization::XMLPacketSerializer serializer(2, 0);
    const UnitPtr nil = m.Nil();
    serializer.StartWriteMetaInfo(MetaInfo("u"));
    (void)Por::Serialization::SerializeUnit(serializer, nil.get());
    serializer.FinishWriteMetaInfo(MetaInfo("u"));
    serializer.StartWriteMetaInfo(MetaInfo("n"));
    (void)Por::Serialization::SerializeUnit(serializer, nullptr);
    serializer.FinishWriteMetaInfo(MetaInfo("n"));
    std::vector<unsigned char> packet;
    serializer.GetData(packet);
    const std::string text(packet.begin(), packet.end());
    EXPECT_THAT(text, ::testing::HasSubstr("<u><is_empty>0</is_empty><value>VQBF</value></u>"));
    EXPECT_THAT(text, ::testing::HasSubstr("<n><is_empty>1</is_empty></n>"));

    ::Serialization::XMLPacketDeserializer deserializer(packet.data(), packet.size(), 0);
    deserializer.StartReadMetaInfo(MetaInfo("u"));
    const UnitPtr readNil = Por::Serialization::DeserializeUnit(deserializer);
    deserializer.FinishReadMetaInfo(MetaInfo("u"));
    deserializer.StartReadMetaInfo(MetaInfo("n"));
    const UnitPtr readNull = Por::Serialization::DeserializeUnit(deserializer);
    deserializer.FinishReadMetaInfo(MetaInfo("n"));
    ASSERT_NE(readNil, nullptr);
    EXPECT_EQ(PorTesting::Render(*readNil), "Nil");
    EXPECT_EQ(readNull, nullptr);
}

// A unit in an XML packet is written from its form piece by piece; the packet
// is the one the whole form written as a byte array makes, for forms of every
// length modulo three, small and large, and with elements refused for their
// target version.
TEST(UnitSerialization, AnXmlPacketGetsTheBytesOfTheWholeForm)
{
    std::vector<UnitPtr> units;
    for (size_t length : {0, 1, 2, 3, 4, 5, 6, 7, 100, 101, 102, 300000}) {
        units.push_back(m.String(std::u16string(length, u'x')));
        units.push_back(m.Composite(m.Prop("a", m.Byte(static_cast<unsigned char>(length))),
                                    m.Prop("text", m.String(std::u16string(length % 7, u'\u00E9')))));
    }
    units.push_back(m.With(m.Array(m.Nil(), m.QWord(1), m.Boolean(true)), "t", m.Word(2)));
    for (const int target : {0, 1}) {
        for (const UnitPtr& unit : units) {
            MetaInfo refused("r");
            refused.targetVersion = 1;
            auto write = [&](bool whole) {
                ::Serialization::XMLPacketSerializer serializer(2, target);
                for (const MetaInfo& meta : {MetaInfo("u"), refused}) {
                    serializer.StartWriteMetaInfo(meta);
                    if (whole) {
                        serializer.Write(Por::Serialization::kIsEmptyMetaInfo, false);
                        std::vector<unsigned char> form;
                        Por::Util::WriteBinaryUnit(*unit, form);
                        serializer.Write(Por::Serialization::kValueMetaInfo, form);
                    } else {
                        (void)Por::Serialization::SerializeUnit(serializer, unit.get());
                    }
                    serializer.FinishWriteMetaInfo(meta);
                }
                std::vector<unsigned char> packet;
                serializer.GetData(packet);
                return packet;
            };
            EXPECT_EQ(write(false), write(true)) << PorTesting::Render(*unit).substr(0, 80);
            std::vector<unsigned char> form;
            Por::Util::WriteBinaryUnit(*unit, form);
            EXPECT_EQ(Por::Util::MeasureBinaryUnit(*unit), form.size());
        }
    }
}

} // namespace
