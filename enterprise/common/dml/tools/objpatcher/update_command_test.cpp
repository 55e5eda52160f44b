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
#include "enterprise/common/dml/view_options.h"
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

std::u16string Parameter(const Common::Error& error, const char* name)
{
    const char16_t* value = error.GetWideTextParameter(name);
    return value ? value : u"(none)";
}

std::u16string Reason(const Common::Error& error)
{
    return Parameter(error, "reason");
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
    EXPECT_EQ(Reason(error), u"The input holds neither 'Pattern' nor 'ID': the command needs one of them.");
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
    EXPECT_EQ(Reason(error), u"The input holds neither 'Diff' nor 'State': the command needs one of them.");
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

TEST_F(ProcessorOfUpdate, CountsTheUpdatesAndKeepsTheObjectThatFailed)
{
    registry.answer = [](const DmlTesting::FakeObjectRegistry::Call&, size_t index) {
        return index == 1 ? Common::Error(0xFC0005, u"refused", Common::NoLocation) : Common::Error();
    };
    const UnitPtr input = StateInput();
    const auto processor = GetUpdateProcessor(*input, &postOffice, &registry, kFactory);
    EXPECT_EQ(processor->GetUpdatedCount(), 0u);
    EXPECT_FALSE(processor->GetFailedObject());

    const auto refused = Object(2, 1);
    (void)Feed(*processor, {Object(1, 1), refused, Object(3, 1)});
    EXPECT_EQ(processor->GetUpdatedCount(), 2u);
    EXPECT_EQ(processor->GetFailedObject(), refused);

    const std::shared_ptr<const Por::View::Unit> keyless = m.Composite(m.Prop("Size", m.DWord(1)));
    (void)Feed(*processor, {keyless});
    EXPECT_EQ(processor->GetUpdatedCount(), 2u);
    EXPECT_EQ(processor->GetFailedObject(), keyless) << "a failure before the update counts too";
}

// The run of "update" over a view of the fake post office, whose objects get
// the keys 1, 2, ... in order.
class RunOfUpdate : public ProcessorOfUpdate
{
protected:
    void Answer(uint32_t objects)
    {
        postOffice.answer = [objects](const Dml::ViewSpec&) {
            DmlTesting::FakePostOffice::View view;
            for (uint32_t id = 1; id <= objects; ++id)
                view.units.push_back(Object(id, 1));
            return view;
        };
    }
    void RefuseCall(size_t refused)
    {
        registry.answer = [refused](const DmlTesting::FakeObjectRegistry::Call&, size_t index) {
            return index == refused ? Common::Error(0xFC0005, u"refused", Common::NoLocation) : Common::Error();
        };
    }

    // "update" of every object towards "Size" 7.
    Common::Error Run()
    {
        const UnitPtr update = m.Composite(m.Prop("Pattern", m.Composite()),
                                           m.Prop("State", m.Composite(m.Prop("Size", m.DWord(7)))));
        const Dml::ViewSpec specification = GetViewSpec(*update, kFactory);
        const auto processor = GetUpdateProcessor(*update, &postOffice, &registry, kFactory);
        Dml::SynchronousDataStore store(&postOffice, &registry);
        return ThrownBy([&] {
            RunUpdate(store, Core::EntryPoint(Common::Location{1, "test", "Report", 1}), specification, *processor);
        });
    }
};

TEST_F(RunOfUpdate, AViewBelowItsLimitIsASuccess)
{
    for (const uint32_t objects : {0u, 1u, Dml::kDefaultViewLimit - 1}) {
        Answer(objects);
        EXPECT_THAT(Run(), Testing::IsSuccessError()) << objects;
    }
    EXPECT_EQ(registry.Calls().size(), Dml::kDefaultViewLimit);
}

TEST_F(RunOfUpdate, AFullViewUpdatesEveryObjectThenFails)
{
    Answer(Dml::kDefaultViewLimit);
    const Common::Error error = Run();
    EXPECT_THAT(error, ErrorIs(0xFC0201u));
    EXPECT_THAT(error,
                HasText(u"DML: The view was full at its limit of 2000 objects: 2000 objects were updated, and "
                        u"more objects may match."));
    EXPECT_STREQ(error.GetLocation().file, "enterprise/common/dml/tools/objpatcher/main");
    const auto calls = registry.Calls();
    ASSERT_EQ(calls.size(), Dml::kDefaultViewLimit);
    EXPECT_EQ(Render(*calls.back().first), "DWord 2000 <PrimaryKey>");
}

TEST_F(RunOfUpdate, AFailureNamesTheObjectAndTheCountUpdatedBeforeIt)
{
    struct Case
    {
        uint32_t objects;
        size_t refused;
        const char16_t* key;
        const char16_t* updated;
    };
    const Case cases[] = {
        {1, 0, u".DWord(1) .Trait(\"PrimaryKey\").Nil().End() .End()", u"0"},
        {3, 1, u".DWord(2) .Trait(\"PrimaryKey\").Nil().End() .End()", u"1"},
        // A failure in a full view is that failure, not the full view.
        {Dml::kDefaultViewLimit, Dml::kDefaultViewLimit - 1, u".DWord(2000) .Trait(\"PrimaryKey\").Nil().End() .End()",
         u"1999"},
    };
    for (const Case& c : cases) {
        Answer(c.objects);
        RefuseCall(registry.Calls().size() + c.refused); // the index counts every call of the registry
        const Common::Error error = Run();
        EXPECT_THAT(error, Testing::ChainContains(ErrorIs(0xFC0005u))) << c.objects;
        EXPECT_EQ(Parameter(error, "object"), c.key);
        EXPECT_EQ(Parameter(error, "objects updated"), c.updated);
    }
    EXPECT_EQ(registry.Calls().size(), 1u + 2u + Dml::kDefaultViewLimit) << "the run stops at the failure";
}

TEST_F(RunOfUpdate, AnObjectWithoutAKeyStopsTheRunWithTheCountOnly)
{
    postOffice.answer = [](const Dml::ViewSpec&) {
        return DmlTesting::FakePostOffice::View{{Object(1, 1), m.Composite(m.Prop("Size", m.DWord(1))), Object(3, 1)},
                                                Common::Error()};
    };
    const Common::Error error = Run();
    EXPECT_THAT(error, Testing::ChainContains(ErrorIs(0xFC000Au)));
    EXPECT_EQ(error.GetWideTextParameter("object"), nullptr);
    EXPECT_EQ(Parameter(error, "objects updated"), u"1");
    EXPECT_EQ(registry.Calls().size(), 1u);
}

TEST_F(RunOfUpdate, AFailedViewIsThrownWithNothingUpdated)
{
    postOffice.answer = [](const Dml::ViewSpec&) {
        return DmlTesting::FakePostOffice::View{{}, Common::Error(0xAD0103, u"lost", Common::NoLocation)};
    };
    const Common::Error error = Run();
    EXPECT_THAT(error, Testing::ChainContains(ErrorIs(0xAD0103u)));
    EXPECT_EQ(error.GetWideTextParameter("object"), nullptr);
    EXPECT_EQ(Parameter(error, "objects updated"), u"0");
}

// The same run with the view and every update completing on other threads,
// as the IPC library's threads complete them.
TEST(RunOfUpdateThreads, CountsAndNamesTheStopAcrossThreads)
{
    AsyncTest::Completers completers(3);
    DmlTesting::FakePostOffice postOffice(&completers);
    DmlTesting::FakeObjectRegistry registry(&completers);
    postOffice.answer = [](const Dml::ViewSpec&) {
        DmlTesting::FakePostOffice::View view;
        for (uint32_t id = 1; id <= 40; ++id)
            view.units.push_back(Object(id, 1));
        return view;
    };
    registry.answer = [](const DmlTesting::FakeObjectRegistry::Call&, size_t index) {
        return index == 30 ? Common::Error(0xFC0005, u"refused", Common::NoLocation) : Common::Error();
    };
    const UnitPtr input = m.Composite(m.Prop("Pattern", m.Composite()),
                                      m.Prop("State", m.Composite(m.Prop("Size", m.DWord(7)))));
    const Dml::ViewSpec specification = GetViewSpec(*input, kFactory);
    Dml::SynchronousDataStore store(&postOffice, &registry);
    auto run = [&](uint64_t& updated) {
        const auto processor = GetUpdateProcessor(*input, &postOffice, &registry, kFactory);
        const Common::Error error = ThrownBy([&] {
            RunUpdate(store, Core::EntryPoint(Common::Location{1, "test", "Report", 1}), specification, *processor);
        });
        updated = processor->GetUpdatedCount();
        return error;
    };

    uint64_t updated = 0;
    Common::Error error = run(updated);
    EXPECT_THAT(error, Testing::ChainContains(ErrorIs(0xFC0005u)));
    EXPECT_EQ(Parameter(error, "object"), u".DWord(31) .Trait(\"PrimaryKey\").Nil().End() .End()");
    EXPECT_EQ(Parameter(error, "objects updated"), u"30");
    EXPECT_EQ(updated, 30u);

    registry.answer = [](const DmlTesting::FakeObjectRegistry::Call&, size_t) { return Common::Error(); };
    error = run(updated);
    EXPECT_THAT(error, Testing::IsSuccessError());
    EXPECT_EQ(updated, 40u);
    EXPECT_EQ(registry.Calls().size(), 31u + 40u);
}

} // namespace
