// "update": the view of the input, the processor it chooses, and what each
// processor sends for the reported objects.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/dml/entry_point.h"
#include "enterprise/common/dml/synchronous_data_store.h"
#include "enterprise/common/dml/test_support/fake_services.h"
#include "enterprise/common/dml/tools/objpatcher/update_command.h"
#include "enterprise/common/dml/tools/objpatcher/update_processors.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/test_support/render.h"
#include "testing/error_matchers.h"

namespace {

using namespace Objpatcher;
using PorTesting::Render;
using PorTesting::UnitPtr;
using Testing::ErrorIs;
using Testing::HasText;
using Testing::RaisedAt;

const Por::Construction::InMemoryUnitFactory kFactory;
const PorTesting::Make m(kFactory);

UnitPtr Key(uint32_t id)
{
    return m.With(m.DWord(id), "PrimaryKey", m.Nil());
}

std::shared_ptr<const Por::View::Unit> Object(uint32_t id, uint32_t size)
{
    return m.Composite(m.Prop("ID", Key(id)), m.Prop("Size", m.DWord(size)));
}

Common::Error ThrownBy(const std::function<void()>& call)
{
    try {
        call();
    } catch (const Common::Error& error) {
        return error;
    }
    return Common::Error();
}

TEST(ViewSpecOfUpdate, PatternFirstThenAKeyPatternOfTheId)
{
    const UnitPtr both = m.Composite(m.Prop("Pattern", m.Composite(m.Prop("Kind", m.String(u"p")))),
                                     m.Prop("ID", m.DWord(5)));
    EXPECT_EQ(Render(*GetViewSpec(*both, kFactory).Pattern), "{Kind: String \"p\"}");
    const Dml::ViewSpec byId = GetViewSpec(*m.Composite(m.Prop("ID", m.DWord(5))), kFactory);
    EXPECT_EQ(Render(*byId.Pattern), "DWord 5 <ObjectID, PrimaryKey>");
    EXPECT_FALSE(byId.Options);
}

TEST(ViewSpecOfUpdate, NeitherPatternNorIdNamesIdAtGetViewSpec)
{
    const Common::Error error = ThrownBy([] { (void)GetViewSpec(*m.Composite(m.Prop("Diff", m.Nil())), kFactory); });
    EXPECT_THAT(error, ErrorIs(0xFA000Du));
    EXPECT_THAT(error, HasText(u"POR: Property 'ID' cannot be found."));
    EXPECT_THAT(error, RaisedAt("enterprise/common/dml/tools/objpatcher/main", "GetViewSpec", 253));
}

// The services of the processors: the post office answers views, the
// registry records what it is sent.
class ProcessorOfUpdate : public ::testing::Test
{
protected:
    // Selects by ID, brings "Size" to 7.
    static UnitPtr StateInput()
    {
        return m.Composite(m.Prop("ID", m.DWord(1)), m.Prop("State", m.Composite(m.Prop("Size", m.DWord(7)))));
    }

    DmlTesting::FakePostOffice postOffice;
    DmlTesting::FakeObjectRegistry registry;
};

TEST_F(ProcessorOfUpdate, NeitherDiffNorStateNamesStateAtGetUpdateProcessor)
{
    const Common::Error error = ThrownBy(
        [&] { (void)GetUpdateProcessor(*m.Composite(m.Prop("ID", m.DWord(1))), &postOffice, &registry, kFactory); });
    EXPECT_THAT(error, ErrorIs(0xFA000Du));
    EXPECT_THAT(error, HasText(u"POR: Property 'State' cannot be found."));
    EXPECT_THAT(error, RaisedAt("enterprise/common/dml/tools/objpatcher/main", "GetUpdateProcessor", 273));
    EXPECT_TRUE(registry.Calls().empty());
}

// Runs the processor over `objects` as a report does: one at a time, each
// after the previous one completed.
std::vector<Common::Error> Feed(Dml::AsyncReportReader& processor,
                                const std::vector<std::shared_ptr<const Por::View::Unit>>& objects)
{
    std::vector<Common::Error> results;
    for (const auto& object : objects) {
        AsyncTest::RecordingHandler handler;
        try {
            (void)processor.Read(object, handler);
            EXPECT_EQ(handler.calls.load(), 1);
            results.push_back(handler.Last());
        } catch (const Common::Error& error) {
            EXPECT_EQ(handler.calls.load(), 0);
            results.push_back(error);
        }
    }
    return results;
}

TEST_F(ProcessorOfUpdate, ADiffGoesUnchangedToEveryObjectUnderItsKey)
{
    const UnitPtr input = m.Composite(
        m.Prop("ID", m.DWord(1)),
        m.Prop("Diff", m.With(m.Composite(m.Prop("Size", m.DWord(9))), "PackedDiff", m.Nil())),
        m.Prop("State", m.Composite(m.Prop("Size", m.DWord(7)))));
    const auto processor = GetUpdateProcessor(*input, &postOffice, &registry, kFactory);
    const auto results = Feed(*processor, {Object(1, 1), Object(2, 9)});
    EXPECT_THAT(results, ::testing::Each(Testing::IsSuccessError()));
    const auto calls = registry.Calls();
    ASSERT_EQ(calls.size(), 2u);
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].method, "UpdateObject");
        EXPECT_EQ(Render(*calls[i].first), "DWord " + std::to_string(i + 1) + " <PrimaryKey>");
        EXPECT_EQ(Render(*calls[i].patch), "{Size: DWord 9} <PackedDiff>");
    }
}

TEST_F(ProcessorOfUpdate, AStateGivesEachObjectItsOwnPatchAndTheEmptyDiffIsStillSent)
{
    const UnitPtr input = StateInput();
    const auto processor = GetUpdateProcessor(*input, &postOffice, &registry, kFactory);
    (void)Feed(*processor, {Object(1, 1), Object(2, 7)});
    const auto calls = registry.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(Render(*calls[0].patch), "{Size: DWord 7} <PackedDiff>");
    EXPECT_EQ(Render(*calls[1].patch), "Nil <EmptyDiff, PackedDiff>");
}

TEST_F(ProcessorOfUpdate, AnObjectWithoutAKeyFailsAndNothingIsSent)
{
    const UnitPtr input = StateInput();
    const auto processor = GetUpdateProcessor(*input, &postOffice, &registry, kFactory);
    const auto results = Feed(*processor, {m.Composite(m.Prop("Size", m.DWord(1)))});
    ASSERT_EQ(results.size(), 1u);
    EXPECT_THAT(results[0], ErrorIs(0xFC000Au));
    EXPECT_TRUE(registry.Calls().empty());
}

TEST_F(ProcessorOfUpdate, InAReportTheFirstRefusalStopsTheRemainingObjects)
{
    postOffice.answer = [](const Dml::ViewSpec&) {
        return DmlTesting::FakePostOffice::View{{Object(1, 1), Object(2, 1), Object(3, 1)}, Common::Error()};
    };
    registry.answer = [](const DmlTesting::FakeObjectRegistry::Call&, size_t index) {
        return index == 1 ? Common::Error(0xFC0005, u"refused", Common::NoLocation) : Common::Error();
    };
    const UnitPtr input = m.Composite(m.Prop("Pattern", m.Composite()),
                                      m.Prop("State", m.Composite(m.Prop("Size", m.DWord(7)))));
    const Dml::ViewSpec specification = GetViewSpec(*input, kFactory);
    const auto processor = GetUpdateProcessor(*input, &postOffice, &registry, kFactory);
    Dml::SynchronousDataStore store(&postOffice, &registry);
    const Common::Error error = ThrownBy([&] {
        store.Report(Core::EntryPoint(Common::Location{1, "test", "Report", 1}), specification, *processor);
    });
    EXPECT_THAT(error, Testing::ChainContains(ErrorIs(0xFC0005u)));
    EXPECT_EQ(registry.Calls().size(), 2u);
}

} // namespace
