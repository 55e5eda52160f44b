#include "enterprise/common/dml/safe_invoke.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/common/error.h"
#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/dml/dml_errors.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/test_support/render.h"
#include "enterprise/common/por/unit_accessor.h"
#include "testing/error_matchers.h"

namespace {

using Testing::CausedBy;
using Testing::ErrorIs;
using Testing::HasText;
using Testing::RaisedAt;

constexpr Common::SourceFile kTestSource("enterprise/common/dml/reader_test");

using Snapshot = std::vector<std::shared_ptr<const Por::View::Unit>>;

// Records what it reads; throws `failure` for the unit rendered as `failOn`.
class RecordingReader final : public Dml::ReportReader
{
public:
    using Dml::ReportReader::Read;
    void Read(const Por::View::Unit& unit) override
    {
        read.push_back(PorTesting::Render(unit));
        if (read.back() == failOn)
            failure();
    }
    std::vector<std::string> read;
    std::string failOn;
    std::function<void()> failure;
};

Snapshot MakeSnapshot(std::initializer_list<int> values)
{
    const PorTesting::Make m(*Por::Construction::GetDefaultUnitFactory());
    Snapshot snapshot;
    for (int value : values)
        snapshot.push_back(value < 0 ? nullptr : std::shared_ptr<const Por::View::Unit>(m.DWord(unsigned(value))));
    return snapshot;
}

TEST(SafeInvoke, TheBaseErrorIsFixed)
{
    const Common::Error error = Dml::GetBaseError();
    EXPECT_THAT(error, ErrorIs(Dml::DML_ERROR_CALLBACK));
    EXPECT_THAT(error, HasText(u"Exception from callback."));
    EXPECT_THAT(error, RaisedAt("enterprise/common/dml/safe_invoke", "GetBaseError", 28));
    EXPECT_EQ(error.GetLocation().LineTag, 0x31c021eefb054a2bull);
}

TEST(SafeInvoke, AnEscapedErrorIsTracedBeneathTheBaseError)
{
    AsyncTest::TraceCapture traces;
    const Common::Error escaped(0x40007, kTestSource.At("Read", 3));
    Dml::HandleCallbackException(escaped);
    Dml::HandleCallbackException(Common::Success);
    const std::vector<Common::Error> traced = traces.AtLevel(1);
    ASSERT_EQ(traced.size(), 2u);
    EXPECT_THAT(traced[0], ErrorIs(Dml::DML_ERROR_CALLBACK));
    EXPECT_THAT(traced[0], CausedBy(ErrorIs(0x40007)));
    EXPECT_FALSE(traced[1].GetCause().GetRecord());
}

TEST(SafeInvoke, ASnapshotReachesTheReaderPastAFailingUnitAndSkipsNullUnits)
{
    AsyncTest::TraceCapture traces;
    RecordingReader reader;
    reader.failOn = "DWord 2";
    reader.failure = [] { Common::ThrowError(Common::Error(0x40001, kTestSource.At("Read", 9))); };
    const Snapshot snapshot = MakeSnapshot({1, -1, 2, 3});
    Dml::DeliverSnapshot(snapshot, reader);
    EXPECT_THAT(reader.read, testing::ElementsAre("DWord 1", "DWord 2", "DWord 3"));
    EXPECT_EQ(snapshot.size(), 4u);
    ASSERT_EQ(traces.AtLevel(1).size(), 1u);
    EXPECT_THAT(traces.AtLevel(1)[0], CausedBy(ErrorIs(0x40001)));
}

TEST(SafeInvoke, OtherExceptionsLeaveTheDelivery)
{
    RecordingReader reader;
    reader.failOn = "DWord 2";
    reader.failure = [] { throw std::runtime_error("not an error value"); };
    EXPECT_THROW(Dml::DeliverSnapshot(MakeSnapshot({1, 2, 3}), reader), std::runtime_error);
    EXPECT_THAT(reader.read, testing::ElementsAre("DWord 1", "DWord 2"));
}

TEST(SafeInvoke, TheAccessorReadTakesTheUnitAtItsPath)
{
    RecordingReader reader;
    const PorTesting::Make m(*Por::Construction::GetDefaultUnitFactory());
    Por::UnitAccessor root(m.Composite(m.Prop("a", m.DWord(5))));
    reader.Read(root["a"]);
    reader.Read(root["missing"]);
    EXPECT_THAT(reader.read, testing::ElementsAre("DWord 5"));
}

// Records each update as "<type>:<key>[:<packed>]"; throws on the key "DWord 2".
class RecordingUpdateReader final : public Dml::UpdateReader
{
public:
    void ReadType0(const Por::View::Unit& key) override { Record("0:" + PorTesting::Render(key), key); }
    void ReadType1(const Por::View::Unit& key, const Por::View::Unit& packed) override
    {
        Record("1:" + PorTesting::Render(key) + ":" + PorTesting::Render(packed), key);
    }
    void ReadType2(const Por::View::Unit& key) override { Record("2:" + PorTesting::Render(key), key); }
    std::vector<std::string> read;

private:
    void Record(std::string text, const Por::View::Unit& key)
    {
        read.push_back(std::move(text));
        if (PorTesting::Render(key) == "DWord 2")
            Common::ThrowError(Common::Error(0x40003, kTestSource.At("ReadType", 1)));
    }
};

TEST(SafeInvoke, UpdatesGoToTheirTypesOperationSkippingWhatCannotBeDelivered)
{
    AsyncTest::TraceCapture traces;
    const PorTesting::Make m(*Por::Construction::GetDefaultUnitFactory());
    auto unit = [&](unsigned value) { return std::shared_ptr<const Por::View::Unit>(m.DWord(value)); };
    using Dml::ViewManagement::ViewUpdate;
    const std::vector<ViewUpdate> updates = {
        {0, unit(1), nullptr},  {1, unit(2), unit(20)}, // the reader throws: traced, the loop goes on
        {2, unit(3), nullptr},  {3, unit(4), nullptr},  // never read
        {7, unit(5), nullptr},                          // unknown type
        {0, nullptr, nullptr},                          // an empty Key
        {1, unit(6), nullptr},                          // type 1 without its packed update
        {1, unit(7), unit(70)},
    };
    RecordingUpdateReader reader;
    Dml::DeliverUpdates(updates, reader);
    EXPECT_THAT(reader.read,
                testing::ElementsAre("0:DWord 1", "1:DWord 2:DWord 20", "2:DWord 3", "1:DWord 7:DWord 70"));
    ASSERT_EQ(traces.AtLevel(1).size(), 1u);
    EXPECT_THAT(traces.AtLevel(1)[0], CausedBy(ErrorIs(0x40003)));
}

} // namespace
