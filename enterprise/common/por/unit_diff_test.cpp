// The trait-marked diff: each pairing of old and new value kinds, traits and
// properties, and the edge cases, checked on the whole rendered result.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/test_support/budget_factory.h"
#include "enterprise/common/por/test_support/list_units.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/test_support/render.h"
#include "enterprise/common/por/unit_diff.h"

namespace {

using namespace Por;
using PorTesting::Render;
using PorTesting::UnitPtr;

const Construction::InMemoryUnitFactory kFactory;
const PorTesting::Make m(kFactory);

struct DiffCase
{
    const char* what;
    std::function<UnitPtr()> oldUnit;
    std::function<UnitPtr()> newUnit;
    std::string expected;
};

const std::string kAddedRecord = "{NewValue: DWord 2, PreviousValue: Nil <Added>} <FullDiff>";
const std::string kRemovedRecord = "{NewValue: Nil <Removed>, PreviousValue: DWord 1} <FullDiff>";

const DiffCase kCases[] = {
    {"equal units", [] { return m.With(m.Composite(m.Prop("a", m.DWord(1))), "T", m.Byte(1)); },
     [] { return m.With(m.Composite(m.Prop("a", m.DWord(1))), "T", m.Byte(1)); }, "Nil <EmptyDiff, PackedDiff>"},
    {"DWord to Nil", [] { return m.DWord(5); }, [] { return m.Nil(); }, "Nil <PackedDiff>"},
    {"Nil to SQWord", [] { return m.Nil(); }, [] { return m.SQWord(-1); }, "SQWord -1 <PackedDiff>"},
    {"same kind, other value", [] { return m.String(u"a"); }, [] { return m.String(u"b"); },
     "String \"b\" <PackedDiff>"},
    {"other error", [] { return m.Error(Common::Error(0x40002, Common::NoLocation)); },
     [] { return m.Error(Common::Error(0x40003, Common::NoLocation)); }, "Error 0x40003 <PackedDiff>"},
    {"errors differing only in text", [] { return m.Error(Common::Error(0x40002, u"one", Common::NoLocation)); },
     [] { return m.Error(Common::Error(0x40002, u"two", Common::NoLocation)); }, "Nil <EmptyDiff, PackedDiff>"},
    {"NaN to NaN", [] { return m.Double(std::nan("")); }, [] { return m.Double(std::nan("")); },
     "Double nan <PackedDiff>"},
    {"0.0 to -0.0", [] { return m.Double(0.0); }, [] { return m.Double(-0.0); }, "Nil <EmptyDiff, PackedDiff>"},
    {"array grows", [] { return m.With(m.Array(m.DWord(1), m.DWord(2)), "A", m.Nil()); },
     [] { return m.With(m.Array(m.DWord(1), m.DWord(2), m.DWord(3)), "A", m.Nil()); },
     "[DWord 1, DWord 2, DWord 3] <A, FixedTraitedFullCopy, FullElementCopy, PackedDiff>"},
    {"an element gains a trait", [] { return m.Array(m.DWord(1)); },
     [] { return m.Array(m.With(m.DWord(1), "E", m.Nil())); },
     "[DWord 1 <E>] <FixedTraitedFullCopy, FullElementCopy, PackedDiff>"},
    {"arrays differ, so do their traits", [] { return m.With(m.Array(m.DWord(1)), "Old", m.Nil()); },
     [] { return m.With(m.Array(m.DWord(2)), "New", m.Nil()); },
     "[DWord 2] <FixedTraitedFullCopy, FullElementCopy, New, PackedDiff>"},
    {"equal arrays, a new trait", [] { return m.Array(m.DWord(1)); },
     [] { return m.With(m.Array(m.DWord(1)), "T", m.DWord(2)); },
     "{} <PackedDiff, T=" + kAddedRecord + ", TraitsOnlyDiff>"},
    {"Boolean to Array, one-sided traits", [] { return m.With(m.Boolean(true), "T", m.DWord(1)); },
     [] { return m.With(m.Array(m.Byte(1)), "A", m.Nil()); },
     "[Byte 1] <A={NewValue: Nil, PreviousValue: Nil <Added>} <FullDiff>, PackedDiff, T=" + kRemovedRecord + ">"},
    {"Nil to Composite keeps the properties' traits only", [] { return m.Nil(); },
     [] { return m.With(m.Composite(m.Prop("a", m.With(m.DWord(1), "P", m.Nil()))), "U", m.Nil()); },
     "{a: DWord 1 <P>} <PackedDiff, U={NewValue: Nil, PreviousValue: Nil <Added>} <FullDiff>>"},
    {"composite changes", [] { return m.Composite(m.Prop("a", m.DWord(1)), m.Prop("b", m.DWord(2))); },
     [] { return m.Composite(m.Prop("a", m.DWord(1)), m.Prop("b", m.DWord(3)), m.Prop("c", m.DWord(4))); },
     "{b: DWord 3, c: DWord 4 <Added>} <PackedDiff>"},
    {"a property removed", [] { return m.Composite(m.Prop("a", m.DWord(1))); }, [] { return m.Composite(); },
     "{a: Nil <Removed>} <PackedDiff>"},
    {"a property value gains a trait", [] { return m.Composite(m.Prop("a", m.DWord(1))); },
     [] { return m.Composite(m.Prop("a", m.With(m.DWord(1), "T", m.DWord(2)))); },
     "{a: {} <T=" + kAddedRecord + ", TraitsOnlyDiff>} <PackedDiff>"},
    {"a trait changes its value", [] { return m.With(m.Nil(), "T", m.DWord(1)); },
     [] { return m.With(m.Nil(), "T", m.DWord(2)); },
     "{} <PackedDiff, T=" + kRemovedRecord + ", T=" + kAddedRecord + ", TraitsOnlyDiff>"},
    {"value and traits change", [] { return m.With(m.DWord(1), "T", m.DWord(1)); },
     [] { return m.With(m.DWord(2), "T", m.DWord(2)); },
     "DWord 2 <PackedDiff, T=" + kRemovedRecord + ", T=" + kAddedRecord + ">"},
    {"a record keeps the trait value's traits", [] { return m.Nil(); },
     [] { return m.With(m.Nil(), "T", m.With(m.DWord(2), "Inner", m.Nil())); },
     "{} <PackedDiff, T={NewValue: DWord 2 <Inner>, PreviousValue: Nil <Added>} <FullDiff>, TraitsOnlyDiff>"},
};

TEST(MakeDiff, GivesTheMarkedPatchOfEachCase)
{
    for (const DiffCase& c : kCases) {
        SCOPED_TRACE(c.what);
        const UnitPtr oldUnit = c.oldUnit();
        const UnitPtr newUnit = c.newUnit();
        EXPECT_EQ(Render(*Util::MakeDiff(*oldUnit, *newUnit, kFactory)), c.expected);
    }
}

TEST(MakeDiff, OfAUnitWithItselfIsEmpty)
{
    const UnitPtr unit = m.With(m.Double(std::nan("")), "T", m.Nil());
    EXPECT_EQ(Render(*Util::MakeDiff(*unit, *unit, kFactory)), "Double nan <PackedDiff>")
        << "a NaN is a change even against itself";
    const UnitPtr plain = m.Composite(m.Prop("a", m.Nil()));
    EXPECT_EQ(Render(*Util::MakeDiff(*plain, *plain, kFactory)), "Nil <EmptyDiff, PackedDiff>");
}

// A trait repeated on one side pairs with one equal trait on the other.
TEST(MakeDiff, RepeatedTraitsPairWithOneEqualTrait)
{
    const PorTesting::ListUnitFactory listFactory;
    const PorTesting::Make l(listFactory);
    const UnitPtr twice = l.With(l.With(l.Nil(), "T", l.DWord(1)), "T", l.DWord(1));
    const UnitPtr once = m.With(m.Nil(), "T", m.DWord(1));
    EXPECT_EQ(Render(*Util::MakeDiff(*twice, *once, kFactory)), "Nil <EmptyDiff, PackedDiff>");
    EXPECT_EQ(Render(*Util::MakeDiff(*once, *twice, kFactory)), "Nil <EmptyDiff, PackedDiff>");
}

TEST(MakeDiff, BuildsEverythingWithTheGivenFactoryAndLeavesTheInputs)
{
    const PorTesting::ListUnitFactory listFactory;
    const UnitPtr oldUnit = m.Composite(m.Prop("a", m.DWord(1)), m.Prop("b", m.Array(m.Nil())));
    const UnitPtr newUnit = m.With(m.Composite(m.Prop("b", m.Array())), "T", m.Nil());
    const std::string before = Render(*oldUnit) + Render(*newUnit);
    const UnitPtr diff = Util::MakeDiff(*oldUnit, *newUnit, listFactory);
    // List units keep traits in insertion order: the result is made of them.
    EXPECT_EQ(Render(*diff),
              "{a: Nil <Removed>, b: [] <FullElementCopy, FixedTraitedFullCopy>} <T={PreviousValue: "
              "Nil <Added>, NewValue: Nil} <FullDiff>, PackedDiff>");
    EXPECT_EQ(Render(*oldUnit) + Render(*newUnit), before);
}

// A creator failing at any point passes its exception on and leaks nothing
// (LSan).
TEST(MakeDiff, AFailingCreatorLeaksNothing)
{
    const UnitPtr oldUnit = m.With(m.Composite(m.Prop("a", m.DWord(1)), m.Prop("b", m.Array(m.Nil())),
                                               m.Prop("c", m.With(m.Nil(), "T", m.Byte(1)))),
                                   "Old", m.DWord(1));
    const UnitPtr newUnit = m.With(
        m.Composite(m.Prop("b", m.Array()), m.Prop("c", m.Nil()), m.Prop("d", m.With(m.String(u"x"), "U", m.Nil()))),
        "New", m.DWord(2));
    PorTesting::BudgetFactory counter;
    (void)Util::MakeDiff(*oldUnit, *newUnit, counter); // measures how many creations the diff takes
    for (int budget = 0; budget < counter.created; ++budget) {
        PorTesting::BudgetFactory factory;
        factory.budget = budget;
        EXPECT_THROW((void)Util::MakeDiff(*oldUnit, *newUnit, factory), std::bad_alloc) << budget;
    }
}

} // namespace
