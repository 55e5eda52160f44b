#include "enterprise/common/dml/view_options.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/common/guid.h"
#include "enterprise/common/dml/dml_errors.h"
#include "enterprise/common/por/blob_walking_route.h"
#include "enterprise/common/por/const_data_accessor.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/por_errors.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/test_support/render.h"
#include "enterprise/common/por/test_support/thrown_errors.h"
#include "enterprise/common/por/typed_access.h"
#include "testing/error_matchers.h"

namespace {

using PorTesting::Make;
using PorTesting::Render;
using PorTesting::UnitPtr;
using Testing::ErrorIs;

const Por::Construction::UnitFactory& Factory()
{
    return *Por::Construction::GetDefaultUnitFactory();
}

std::vector<unsigned char> BinaryForm(const Por::View::Unit& unit)
{
    std::vector<unsigned char> bytes;
    Por::Util::WriteBinaryUnit(unit, bytes);
    return bytes;
}

Dml::ViewSpec Spec(UnitPtr pattern, UnitPtr options)
{
    Dml::ViewSpec spec;
    spec.Pattern = std::shared_ptr<const Por::View::Unit>(std::move(pattern));
    spec.Options = std::shared_ptr<const Por::View::Unit>(std::move(options));
    return spec;
}

const Por::View::Unit& Child(const Por::View::Unit& unit, const Por::Name& name)
{
    return Por::ConstDataAccessor(&unit).GetChild(name).GetUnit();
}

TEST(ViewOptions, SortingByTimeStampAppendsTheAscendingTimeStampKey)
{
    const Make m(Factory());
    const Dml::ViewSpec spec = Spec(m.Composite(), nullptr);
    const Dml::ViewSpec sorted = Dml::SortByTimeStamp(spec, Factory());
    EXPECT_EQ(sorted.Pattern, spec.Pattern);
    EXPECT_EQ(spec.Options, nullptr);

    // Built independently: the trait name keeps its trailing blank.
    const UnitPtr expected = m.Composite(m.Prop(
        "SortingOptions", m.Array(m.Composite(m.Prop("DmlTimeStamp", m.With(m.SQWord(0), "Ascending ", m.Nil()))))));
    ASSERT_TRUE(sorted.Options);
    EXPECT_EQ(BinaryForm(*sorted.Options), BinaryForm(*expected));
    EXPECT_EQ(Render(*sorted.Options), "{SortingOptions: [{DmlTimeStamp: SQWord 0 <Ascending >}]}");

    const Dml::ViewSpec twice = Dml::SortByTimeStamp(sorted, Factory());
    EXPECT_EQ(Render(*twice.Options),
              "{SortingOptions: [{DmlTimeStamp: SQWord 0 <Ascending >}, {DmlTimeStamp: SQWord 0 <Ascending >}]}");
    EXPECT_EQ(Render(*sorted.Options), "{SortingOptions: [{DmlTimeStamp: SQWord 0 <Ascending >}]}");
}

TEST(ViewOptions, ASortKeyEndingInAnArrayOrCompositeAddsNothing)
{
    const Make m(Factory());
    UnitPtr options = m.Composite();
    Dml::AddAscendingSortKey(*options, *m.Composite(m.Prop("a", m.Array())), Factory());
    Dml::AddAscendingSortKey(*options, *m.Composite(), Factory());
    EXPECT_EQ(Render(*options), "{}");
    Dml::AddSortKey(*options, *m.Composite(m.Prop("a", m.Composite(m.Prop("b", m.DWord(1))))), "Descending", Factory());
    EXPECT_EQ(Render(*options), "{SortingOptions: [{a: {b: DWord 1 <Descending>}}]}");
}

TEST(ViewOptions, LimitingCopiesTheOptionsAndSetsTheLimit)
{
    const Make m(Factory());
    const Dml::ViewSpec spec = Spec(
        m.Composite(), m.Composite(m.Prop("LimitOptions", m.DWord(2000)), m.Prop("Other", m.String(u"kept"))));
    const Dml::ViewSpec limited = Dml::LimitViewSpec(spec, 100, Factory());
    EXPECT_EQ(limited.Pattern, spec.Pattern);
    EXPECT_EQ(Render(*limited.Options), "{LimitOptions: DWord 100, Other: String \"kept\"}");
    EXPECT_EQ(Render(*spec.Options), "{LimitOptions: DWord 2000, Other: String \"kept\"}");

    const Dml::ViewSpec bare = Dml::LimitViewSpec(Spec(m.Composite(), nullptr), 7, Factory());
    EXPECT_EQ(Render(*bare.Options), "{LimitOptions: DWord 7}");
    EXPECT_TRUE(Dml::HasLimitOptions(*bare.Options));
    EXPECT_TRUE(Dml::HasLimitOptions(*m.Composite(m.Prop("LimitOptions", m.Nil()))));
    EXPECT_FALSE(Dml::HasLimitOptions(*m.Composite(m.Prop("Limit", m.DWord(1)))));
}

TEST(ViewOptions, MistypedOptionsAreTypeMismatchesAndLeaveTheSpecAlone)
{
    const Make m(Factory());
    const Dml::ViewSpec wrongLimit = Spec(m.Composite(), m.Composite(m.Prop("LimitOptions", m.QWord(5))));
    const Dml::ViewSpec wrongSorting = Spec(m.Composite(), m.Composite(m.Prop("SortingOptions", m.DWord(1))));
    const Dml::ViewSpec notComposite = Spec(m.Composite(), m.DWord(1));
    EXPECT_THAT(PorTesting::ErrorOf([&] { (void)Dml::LimitViewSpec(wrongLimit, 1, Factory()); }),
                ErrorIs(PorErrors::kTypeMismatch));
    EXPECT_THAT(PorTesting::ErrorOf([&] { (void)Dml::SortByTimeStamp(wrongSorting, Factory()); }),
                ErrorIs(PorErrors::kTypeMismatch));
    EXPECT_THAT(PorTesting::ErrorOf([&] { (void)Dml::MakeCounterViewSpec(notComposite, Factory()); }),
                ErrorIs(PorErrors::kTypeMismatch));
    EXPECT_EQ(Render(*wrongLimit.Options), "{LimitOptions: QWord 5}");
    EXPECT_EQ(Render(*wrongSorting.Options), "{SortingOptions: DWord 1}");
}

TEST(ViewOptions, TheEntryPointIsReplacedNotAdded)
{
    constexpr Common::SourceFile kCaller("enterprise/common/dml/tools/objpatcher/main", 0x100);
    const Make m(Factory());
    UnitPtr options = m.Composite();
    Dml::SetEntryPoint(*options, Core::EntryPoint(kCaller.At("main", 10)), Factory());
    Dml::SetEntryPoint(*options, Core::EntryPoint(kCaller.At("main", 20)), Factory());
    EXPECT_EQ(Render(*options),
              "{EntryPoint: {File: String \"enterprise/common/dml/tools/objpatcher/main\", ID: QWord "
              "276, Line: DWord 20}}");
}

TEST(ViewOptions, ACounterViewCarriesAFreshTemplateEachTime)
{
    const Make m(Factory());
    const Dml::ViewSpec spec = Spec(m.Composite(), m.Composite(m.Prop("LimitOptions", m.DWord(150))));
    const Dml::ViewSpec first = Dml::MakeCounterViewSpec(spec, Factory());
    const Dml::ViewSpec second = Dml::MakeCounterViewSpec(spec, Factory());
    EXPECT_EQ(first.Pattern, spec.Pattern);
    EXPECT_EQ(Render(*spec.Options), "{LimitOptions: DWord 150}");

    const Por::View::Unit& id = Child(Child(Child(*first.Options, "Counter"), "CounterObjectTemplate"), "ID");
    const Por::View::Unit& otherId = Child(Child(Child(*second.Options, "Counter"), "CounterObjectTemplate"), "ID");
    const Por::GuidType& guid = Por::Util::GetUnitValue<Por::GuidType>(id);
    EXPECT_NE(guid, Por::Util::GetUnitValue<Por::GuidType>(otherId));
    EXPECT_EQ(guid.third >> 12, 4); // a random version-4 GUID
    EXPECT_EQ(Render(*first.Options),
              "{Counter: {CounterObjectTemplate: {ID: Guid " + Common::GuidToString(guid) +
                  " <PrimaryKey>}}, LimitOptions: DWord 150}");
}

TEST(ViewOptions, ACounterTemplateNeedsAKey)
{
    const Make m(Factory());
    UnitPtr options = m.Composite();
    EXPECT_THAT(PorTesting::ErrorOf([&] { Dml::AddCounterTemplate(*options, *m.Composite(), Factory()); }),
                ErrorIs(Dml::DML_ERROR_NO_OBJECT_KEY));
    EXPECT_EQ(Render(*options), "{}");
}

TEST(ViewOptions, TheCounterValueReadsZeroUnlessItIsADWord)
{
    const Make m(Factory());
    EXPECT_EQ(Dml::GetCounterValue(*m.Composite(m.Prop("CounterValue", m.DWord(250)))), 250u);
    EXPECT_EQ(Dml::GetCounterValue(*m.Composite(m.Prop("CounterValue", m.QWord(250)))), 0u);
    EXPECT_EQ(Dml::GetCounterValue(*m.Composite(m.Prop("Other", m.DWord(250)))), 0u);
    EXPECT_EQ(Dml::GetCounterValue(*m.DWord(250)), 0u);
}

// What a service reads of the options its writers above make.

struct ViewRequestCase
{
    const char* name;
    std::function<UnitPtr(const Make&)> options; // null: no options at all
    bool read;
    std::optional<uint32_t> limit;
    bool counter;
    std::string fault;
};

TEST(ViewRequest, ReadsTheBoundAndTheCounterOrSaysWhatCannotBeRead)
{
    const std::vector<ViewRequestCase> cases = {
        {"no options", nullptr, true, std::nullopt, false, ""},
        {"a Nil", [](const Make& m) { return m.Nil(); }, true, std::nullopt, false, ""},
        {"an empty Composite", [](const Make& m) { return m.Composite(); }, true, std::nullopt, false, ""},
        {"a limit",
         [](const Make& m) {
             UnitPtr options = m.Composite();
             Dml::SetLimitOptions(*options, 2000, Factory());
             return options;
         },
         true, 2000u, false, ""},
        {"a limit of zero", [](const Make& m) { return m.Composite(m.Prop("LimitOptions", m.DWord(0))); }, true, 0u,
         false, ""},
        {"a counter and a limit",
         [](const Make& m) {
             UnitPtr options = m.Composite(m.Prop("LimitOptions", m.DWord(7)));
             Dml::AddCounterRequest(*options, Factory());
             return options;
         },
         true, 7u, true, ""},
        {"a counter of any content", [](const Make& m) { return m.Composite(m.Prop("Counter", m.Nil())); }, true,
         std::nullopt, true, ""},
        {"other options are passed over",
         [](const Make& m) {
             UnitPtr options = m.Composite();
             Dml::SetEntryPoint(*options, Core::EntryPoint(Common::SourceFile("caller").At("main", 1)), Factory());
             Dml::AddAscendingSortKey(*options, *Dml::MakeTimeStampSortKey(Factory()), Factory());
             return options;
         },
         true, std::nullopt, false, ""},
        {"a QWord limit", [](const Make& m) { return m.Composite(m.Prop("LimitOptions", m.QWord(5))); }, false,
         std::nullopt, false, "\"LimitOptions\" is not a DWord"},
        {"options that are a DWord", [](const Make& m) { return m.DWord(5); }, false, std::nullopt, false,
         "the view options are not a Composite"},
    };
    const Make m(Factory());
    for (const ViewRequestCase& c : cases) {
        SCOPED_TRACE(c.name);
        const UnitPtr options = c.options ? c.options(m) : nullptr;
        Dml::ViewRequest request;
        request.limit = 99;
        request.counter = true;
        std::string fault;
        ASSERT_EQ(Dml::ReadViewRequest(options.get(), request, fault), c.read);
        EXPECT_EQ(fault, c.fault);
        if (c.read) {
            EXPECT_EQ(request.limit, c.limit);
            EXPECT_EQ(request.counter, c.counter);
        }
    }
}

TEST(ViewRequest, TheCounterAnswerReadsBackAsItsCountUpToTheLargestDWord)
{
    for (const uint64_t count : {uint64_t{0}, uint64_t{2001}, uint64_t{UINT32_MAX}, uint64_t{UINT32_MAX} + 1}) {
        const UnitPtr answer = Dml::MakeCounterAnswer(count, Factory());
        EXPECT_EQ(Dml::GetCounterValue(*answer), std::min<uint64_t>(count, UINT32_MAX)) << count;
    }
    EXPECT_EQ(Render(*Dml::MakeCounterAnswer(3, Factory())), "{CounterValue: DWord 3}");
}

} // namespace
