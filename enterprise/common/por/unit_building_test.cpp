// Building walker, value-first guide, merge of units and the fluent unit
// constructor.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/test_support/list_units.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/unit_building_walker.h"
#include "enterprise/common/por/unit_constructor.h"
#include "enterprise/common/por/unit_copier.h"
#include "enterprise/common/por/unit_equality.h"
#include "testing/error_matchers.h"

namespace {

using namespace Testing;
using Por::Util::MergeUnit;
using Por::Util::UnitsEqual;
using PorTesting::UnitPtr;

class UnitBuilding : public ::testing::Test
{
protected:
    std::unique_ptr<Por::Construction::UnitFactory> factory = Por::Construction::CreateInMemoryUnitFactory();
    PorTesting::Make m{*factory};
};

TEST_F(UnitBuilding, AWalkRebuildsAnEqualUnit)
{
    // From list units (any implementation) into in-memory ones.
    PorTesting::ListUnitFactory listFactory;
    PorTesting::Make list(listFactory);
    UnitPtr source = list.With(
        list.Composite(list.Prop("a", list.Byte(1)),
                       list.Prop("b", list.Array(list.Nil(), list.With(list.String(u"x"), "u", list.Word(2)))),
                       list.Prop("e", list.Composite())),
        "t", list.Boolean(true));
    Por::Util::UnitAccumulator accumulator(*factory);
    Por::Util::UnitBuildingWalker walker(&accumulator);
    Por::Util::WalkValueFirstGuide guide;
    Por::Util::WalkHierarchy(*source, guide, walker);
    UnitPtr rebuilt = accumulator.TakeUnit();
    ASSERT_NE(rebuilt, nullptr);
    EXPECT_TRUE(UnitsEqual(*rebuilt, *source));

    Por::Util::WalkHierarchyContent(*source, guide, walker);
    EXPECT_EQ(accumulator.TakeUnit(), nullptr); // the root is still open
    accumulator.End();
    EXPECT_NE(accumulator.TakeUnit(), nullptr);
}

TEST_F(UnitBuilding, MergeTable)
{
    struct Case
    {
        const char* what;
        UnitPtr target;
        UnitPtr source;
        UnitPtr expected;
        unsigned errorCode;
    };
    Case cases[] = {
        {"a property absent from the target", m.Composite(m.Prop("a", m.Word(1))),
         m.Composite(m.Prop("b", m.With(m.Word(2), "t", m.Nil()))),
         m.Composite(m.Prop("a", m.Word(1)), m.Prop("b", m.With(m.Word(2), "t", m.Nil()))), 0},
        {"values assigned, others kept", m.Composite(m.Prop("a", m.DWord(2)), m.Prop("b", m.DWord(3))),
         m.Composite(m.Prop("a", m.DWord(1))), m.Composite(m.Prop("a", m.DWord(1)), m.Prop("b", m.DWord(3))), 0},
        {"another kind onto a value", m.Composite(m.Prop("a", m.String(u"s"))), m.Composite(m.Prop("a", m.DWord(1))),
         nullptr, 0xFA0011},
        {"a Nil property is replaced", m.Composite(m.Prop("a", m.With(m.Nil(), "old", m.Nil()))),
         m.Composite(m.Prop("a", m.Composite(m.Prop("x", m.Word(1))))),
         m.Composite(m.Prop("a", m.Composite(m.Prop("x", m.Word(1))))), 0},
        {"an array onto a Nil property replaces it", m.Composite(m.Prop("a", m.Nil())),
         m.Composite(m.Prop("a", m.Array(m.Word(1)))), m.Composite(m.Prop("a", m.Array(m.Word(1)))), 0},
        {"arrays by position, surplus appended", m.Composite(m.Prop("a", m.Array(m.Word(1), m.Word(2)))),
         m.Composite(m.Prop("a", m.Array(m.Word(5), m.Word(6), m.Word(7)))),
         m.Composite(m.Prop("a", m.Array(m.Word(5), m.Word(6), m.Word(7)))), 0},
        {"a shorter array keeps the rest", m.Composite(m.Prop("a", m.Array(m.Word(1), m.Word(2)))),
         m.Composite(m.Prop("a", m.Array(m.Word(5)))), m.Composite(m.Prop("a", m.Array(m.Word(5), m.Word(2)))), 0},
        {"a value onto a composite is ignored", m.Composite(m.Prop("a", m.Composite(m.Prop("x", m.Nil())))),
         m.Composite(m.Prop("a", m.Word(1))), m.Composite(m.Prop("a", m.Composite(m.Prop("x", m.Nil())))), 0},
        {"the root value stays", m.Byte(2), m.Byte(1), m.Byte(2), 0},
        {"a Nil root is replaced", m.Nil(), m.Word(3), m.Word(3), 0},
        {"a null target", nullptr, m.Composite(m.Prop("a", m.Word(1))), m.Composite(m.Prop("a", m.Word(1))), 0},
        {"traits: another value is added", m.With(m.Word(9), "T", m.Word(2)), m.With(m.Word(1), "T", m.Word(1)),
         m.With(m.With(m.Word(9), "T", m.Word(2)), "T", m.Word(1)), 0},
        {"a replaced Nil root loses its traits", m.With(m.Nil(), "old", m.Nil()), m.With(m.Word(9), "T", m.Word(1)),
         m.With(m.Word(9), "T", m.Word(1)), 0},
        {"traits: an equal one is not doubled", m.With(m.Word(1), "T", m.Word(1)), m.With(m.Word(1), "T", m.Word(1)),
         m.With(m.Word(1), "T", m.Word(1)), 0},
        {"an existing Nil element is assigned", m.Array(m.Nil()), m.Array(m.Word(1)), nullptr, 0xFA0011},
        {"an array onto a composite root", m.Composite(), m.Array(m.Word(1)), nullptr, 0xFA0011},
        {"a composite onto an array root", m.Array(m.Word(1)), m.Composite(), nullptr, 0xFA0011},
        {"a property onto an array", m.Composite(m.Prop("a", m.Array())),
         m.Composite(m.Prop("a", m.Composite(m.Prop("x", m.Nil())))), nullptr, 0xFA000A},
    };
    for (Case& c : cases) {
        try {
            UnitPtr merged = MergeUnit(std::move(c.target), *c.source, *factory);
            EXPECT_EQ(c.errorCode, 0u) << c.what << ": no error";
            ASSERT_NE(merged, nullptr) << c.what;
            EXPECT_TRUE(UnitsEqual(*merged, *c.expected)) << c.what;
        } catch (const Common::Error& error) {
            EXPECT_THAT(error, ErrorIs(c.errorCode)) << c.what;
        }
    }
}

TEST_F(UnitBuilding, MergeChangesTheTargetInPlace)
{
    UnitPtr target = m.Composite(m.Prop("a", m.DWord(2)));
    const Por::Construction::Unit* raw = target.get();
    UnitPtr merged = MergeUnit(std::move(target), *m.Composite(m.Prop("a", m.DWord(1))), *factory);
    EXPECT_EQ(merged.get(), raw);
}

TEST_F(UnitBuilding, ConstructorChainsOverOneAccumulator)
{
    Por::Util::UnitConstructor c1(*factory);
    EXPECT_EQ(c1.Composite().Property("a").Byte(1).End().GetUnit(), nullptr); // root still open
    UnitPtr unit = c1.End().GetUnit();
    ASSERT_NE(unit, nullptr);
    EXPECT_TRUE(UnitsEqual(*unit, *m.Composite(m.Prop("a", m.Byte(1)))));
    EXPECT_EQ(c1.GetUnit(), nullptr);

    Por::Util::UnitConstructor c2 = c1.Composite();
    (void)c1.Property("a");
    (void)c2.Byte(1);
    (void)c1.End();
    (void)c2.End();
    unit = c1.GetUnit();
    ASSERT_NE(unit, nullptr);
    EXPECT_TRUE(UnitsEqual(*unit, *m.Composite(m.Prop("a", m.Byte(1)))));
    EXPECT_EQ(c2.GetFactory(), factory.get());
}

TEST_F(UnitBuilding, InsertWritesAnOpenDeepCopy)
{
    Por::Util::UnitConstructor constructor(*factory);
    UnitPtr inserted = m.Composite(m.Prop("x", m.String(u"s")));
    UnitPtr unit = constructor.Insert(*inserted).Property("y").Byte(2).End().End().GetUnit();
    ASSERT_NE(unit, nullptr);
    EXPECT_TRUE(UnitsEqual(*unit, *m.Composite(m.Prop("x", m.String(u"s")), m.Prop("y", m.Byte(2)))));

    UnitPtr marked = m.With(m.Array(m.Word(1)), "t", m.Nil());
    unit = constructor.Composite().Property("p").Insert(*marked).End().End().GetUnit();
    ASSERT_NE(unit, nullptr);
    EXPECT_TRUE(UnitsEqual(*unit, *m.Composite(m.Prop("p", m.With(m.Array(m.Word(1)), "t", m.Nil())))));
    EXPECT_TRUE(UnitsEqual(*marked, *m.With(m.Array(m.Word(1)), "t", m.Nil())));

    UnitPtr nil = constructor.GetFactory()->CreateNil();
    unit = constructor.Insert(*nil).End().GetUnit();
    ASSERT_NE(unit, nullptr);
    EXPECT_TRUE(UnitsEqual(*unit, *m.Nil()));
}

} // namespace
