#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "enterprise/common/por/array_helpers.h"
#include "enterprise/common/por/assign.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/unit_copier.h"
#include "enterprise/common/por/unit_equality.h"
#include "testing/error_matchers.h"

namespace {

using ::testing::AllOf;
using namespace Testing;
using Por::Util::Assign;
using Por::Util::UnitsEqual;
using PorTesting::UnitPtr;

class AssignUnits : public ::testing::Test
{
protected:
    // Assign must raise a Por::ModuleError with `code`, leaving the target equal to what it was.
    void ExpectRejected(UnitPtr target, const Por::View::Unit& source, unsigned code, const char* function,
                        unsigned line, uint64_t lineTag)
    {
        UnitPtr snapshot = Por::Util::CopyUnit(*target, *factory);
        try {
            Assign(*target, source, *factory);
            ADD_FAILURE() << "accepted";
        } catch (const Por::ModuleError& error) {
            EXPECT_THAT(
                error,
                AllOf(ErrorIs(code), RaisedAt("enterprise/common/por/assign", function, line), HasLineTag(lineTag)));
            EXPECT_STREQ(error.GetParameterNames(), "TraceLevel,$module");
        }
        EXPECT_TRUE(UnitsEqual(*target, *snapshot));
    }

    std::unique_ptr<Por::Construction::UnitFactory> factory = Por::Construction::CreateInMemoryUnitFactory();
    PorTesting::Make m{*factory};
};

TEST_F(AssignUnits, WritesValuesAndKeepsTheTargetsTraits)
{
    UnitPtr target = m.With(m.String(u"old"), "a", m.Word(1));
    Assign(*target, *m.String(u"new"), *factory);
    EXPECT_TRUE(UnitsEqual(*target, *m.With(m.String(u"new"), "a", m.Word(1))));

    UnitPtr error = m.Error(Common::Success);
    const Common::Error source(0xFA0001, u"shared", Common::SourceFile("x").At("f", 1));
    Assign(*error, *m.Error(source), *factory);
    EXPECT_TRUE(UnitsEqual(*error, *m.Error(source)));

    UnitPtr nil = m.Nil();
    Assign(*nil, *m.Nil(), *factory);
    EXPECT_TRUE(UnitsEqual(*nil, *m.Nil()));
}

TEST_F(AssignUnits, ArraysAreReplacedWhole)
{
    UnitPtr target = m.Array(m.DWord(1), m.DWord(2), m.DWord(3));
    Assign(*target, *m.Array(m.With(m.String(u"s"), "t", m.Nil())), *factory);
    EXPECT_TRUE(UnitsEqual(*target, *m.Array(m.With(m.String(u"s"), "t", m.Nil()))));
    Assign(*target, *m.Array(), *factory);
    EXPECT_TRUE(UnitsEqual(*target, *m.Array()));
}

TEST_F(AssignUnits, CompositesByName)
{
    UnitPtr target = m.Composite(m.Prop("x", m.Word(1)), m.Prop("keep", m.Word(7)));
    Assign(*target, *m.Composite(m.Prop("x", m.Word(2))), *factory);
    EXPECT_TRUE(UnitsEqual(*target, *m.Composite(m.Prop("x", m.Word(2)), m.Prop("keep", m.Word(7)))));
}

TEST_F(AssignUnits, RejectedSourcesChangeNothing)
{
    const uint64_t tag94 = 0x783ECC9AF307E000ull, tag152 = 0x783ECC9AF307E03Aull, tag178 = 0x783ECC9AF307E054ull;
    ExpectRejected(m.With(m.Word(1), "a", m.Word(2)), *m.With(m.Word(5), "a", m.Word(1)), 0xFA0012,
                   "EnsureUnitsCanBeAssigned", 152, tag152);
    ExpectRejected(m.With(m.Word(1), "a", m.Word(1)), *m.With(m.With(m.Word(5), "a", m.Word(1)), "a", m.Word(2)),
                   0xFA0012, "EnsureUnitsCanBeAssigned", 152, tag152);
    ExpectRejected(m.SByte(1), *m.Byte(1), 0xFA0011, "Apply", 178, tag178);
    // Traits are checked before kinds.
    ExpectRejected(m.String(u"s"), *m.With(m.Byte(1), "x", m.Word(1)), 0xFA0012, "EnsureUnitsCanBeAssigned", 152,
                   tag152);
    // x alone would be assignable, but y is missing: nothing is written.
    ExpectRejected(m.Composite(m.Prop("x", m.Word(1)), m.Prop("z", m.Word(1))),
                   *m.Composite(m.Prop("x", m.Word(9)), m.Prop("y", m.Word(9))), 0xFA0010, "Process", 94, tag94);
    ExpectRejected(m.Composite(m.Prop("x", m.Composite(m.Prop("a", m.DWord(1))))),
                   *m.Composite(m.Prop("x", m.Composite(m.Prop("a", m.Word(1))))), 0xFA0011, "Apply", 178, tag178);
    ExpectRejected(m.Composite(m.Prop("x", m.Word(1))), *m.Composite(m.Prop("x", m.With(m.Word(2), "t", m.Nil()))),
                   0xFA0012, "EnsureUnitsCanBeAssigned", 152, tag152);
    ExpectRejected(m.Nil(), *m.Word(1), 0xFA0011, "Apply", 178, tag178);
}

TEST_F(AssignUnits, OntoItselfOrFromItsOwnElement)
{
    UnitPtr unit = m.Array(m.Word(1), m.Word(2));
    Assign(*unit, *unit, *factory);
    EXPECT_TRUE(UnitsEqual(*unit, *m.Array(m.Word(1), m.Word(2))));

    // A source inside the target: the elements are copied before the target array is cleared.
    UnitPtr outer = m.Array(m.Array(m.Word(3)));
    const Por::View::Unit* inner = Por::GetArrayElement(static_cast<const Por::View::Unit&>(*outer), 0);
    Assign(*outer, *inner, *factory);
    EXPECT_TRUE(UnitsEqual(*outer, *m.Array(m.Word(3))));
}

} // namespace
