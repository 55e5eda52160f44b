// The unit accumulator, driven by event scripts (test_support/event_script.h).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/test_support/event_script.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/typed_access.h"
#include "enterprise/common/por/unit_accumulator.h"
#include "enterprise/common/por/unit_equality.h"
#include "testing/error_matchers.h"

namespace {

using namespace Testing;
using Por::Util::UnitAccumulator;
using PorTesting::UnitPtr;

class Accumulator : public ::testing::Test
{
protected:
    struct Case
    {
        const char* what;
        UnitPtr start; // continued unit; null for an empty accumulator
        bool continuing;
        const char* script;
        UnitPtr expected;       // null: TakeUnit gives null
        unsigned errorCode = 0; // non-zero: the script raises it
    };

    void Check(Case* cases, size_t count)
    {
        for (size_t i = 0; i < count; ++i) {
            Case& c = cases[i];
            std::optional<UnitAccumulator> accumulator;
            if (c.continuing)
                accumulator.emplace(std::move(c.start), *factory);
            else
                accumulator.emplace(*factory);
            try {
                PorTesting::RunScript(*accumulator, c.script);
            } catch (const Common::Error& error) {
                EXPECT_THAT(error, ErrorIs(c.errorCode)) << c.what;
                continue;
            }
            EXPECT_EQ(c.errorCode, 0u) << c.what << ": no error";
            UnitPtr result = accumulator->TakeUnit();
            if (!c.expected) {
                EXPECT_EQ(result, nullptr) << c.what;
                continue;
            }
            ASSERT_NE(result, nullptr) << c.what;
            EXPECT_TRUE(Por::Util::UnitsEqual(*result, *c.expected)) << c.what;
            EXPECT_EQ(accumulator->TakeUnit(), nullptr) << c.what << ": taken once";
        }
    }

    std::unique_ptr<Por::Construction::UnitFactory> factory = Por::Construction::CreateInMemoryUnitFactory();
    PorTesting::Make m{*factory};
};

TEST_F(Accumulator, BuildsNewUnits)
{
    Case cases[] = {
        {"composite", nullptr, false, "C Pa B5 E E", m.Composite(m.Prop("a", m.Byte(5)))},
        {"root still open", nullptr, false, "C Pa B5 E", nullptr},
        {"a second root value is ignored", nullptr, false, "B1 B2 E", m.Byte(1)},
        {"array elements each end", nullptr, false, "A B1 E B2 E E", m.Array(m.Byte(1), m.Byte(2))},
        {"an element in a non-array is dropped", nullptr, false, "C Pa B1 B2 E E E",
         m.Composite(m.Prop("a", m.Byte(1)))},
        {"a Nil root is replaced", nullptr, false, "N B3 E", m.Byte(3)},
        {"a property without value", nullptr, false, "C Pp E", nullptr, 0xFA000B},
        {"a property seen again is assigned", nullptr, false, "C Pa B1 E Pa B2 E E",
         m.Composite(m.Prop("a", m.Byte(2)))},
        {"assigning another kind", nullptr, false, "C Pa B1 E Pa Sx E E", nullptr, 0xFA0011},
        {"two roots in a row", nullptr, false, "B1 E B2 E", m.Byte(2)},
        {"an empty root ends", nullptr, false, "B1 E E", nullptr},
        {"traits at every level", nullptr, false, "C Pa W1 Tx N E E Tt b1 E E",
         m.With(m.Composite(m.Prop("a", m.With(m.Word(1), "x", m.Nil()))), "t", m.Boolean(true))},
        {"nested arrays", nullptr, false, "A A B1 E E A E E", m.Array(m.Array(m.Byte(1)), m.Array())},
        {"a Nil property is replaced by an array", nullptr, false, "C Pa N E Pa A B1 E E E",
         m.Composite(m.Prop("a", m.Array(m.Byte(1))))},
        // Each frame takes the name it is opened with, whatever name a frame
        // at its depth held before.
        {"names of any length at one depth", nullptr, false,
         "C Pa-name-longer-than-any-short-string-buffer C Pb B1 E E Pc B2 E Tanother-long-trait-name-for-the-frame N E "
         "Td N E E",
         m.With(m.With(m.Composite(
                           m.Prop("a-name-longer-than-any-short-string-buffer", m.Composite(m.Prop("b", m.Byte(1)))),
                           m.Prop("c", m.Byte(2))),
                       "another-long-trait-name-for-the-frame", m.Nil()),
                "d", m.Nil())},
    };
    Check(cases, std::size(cases));
}

TEST_F(Accumulator, ATakenStringKeepsItsUnitsWhereTheyLie)
{
    // Long enough to lie in a block of its own: the unit holds that block.
    std::u16string text(1000, u'x');
    const char16_t* units = text.data();
    UnitAccumulator accumulator(*factory);
    accumulator.TakeString(text);
    accumulator.End();
    const UnitPtr result = accumulator.TakeUnit();
    ASSERT_NE(result, nullptr);
    const std::u16string& held = Por::Util::GetUnitValue<std::u16string>(*result);
    EXPECT_EQ(held, std::u16string(1000, u'x'));
    EXPECT_EQ(held.data(), units);

    // Onto an existing String property the text is assigned, as String does.
    std::u16string again(1000, u'y');
    UnitAccumulator continuing(m.Composite(m.Prop("a", m.String(u"old"))), *factory);
    continuing.Composite();
    continuing.Property(Por::Name("a"));
    continuing.TakeString(again);
    continuing.End();
    continuing.End();
    const UnitPtr continued = continuing.TakeUnit();
    ASSERT_NE(continued, nullptr);
    EXPECT_TRUE(Por::Util::UnitsEqual(*continued, *m.Composite(m.Prop("a", m.String(std::u16string(1000, u'y'))))));
}

TEST_F(Accumulator, ContinuesExistingUnits)
{
    Case cases[] = {
        {"merge of a composite",
         m.Composite(m.Prop("a", m.Byte(1)), m.Prop("b", m.Nil()),
                     m.Prop("c", m.Array(m.Byte(1), m.Byte(2), m.Byte(3)))),
         true, "C Pa B9 E Pb Ss E Pc A B7 E E Pd W4 E E",
         m.Composite(m.Prop("a", m.Byte(9)), m.Prop("b", m.String(u"s")),
                     m.Prop("c", m.Array(m.Byte(7), m.Byte(2), m.Byte(3))), m.Prop("d", m.Word(4)))},
        {"another kind onto a property", m.Composite(m.Prop("a", m.Byte(1))), true, "C Pa Sx E E", nullptr, 0xFA0011},
        {"an array root by position", m.Array(m.Byte(1), m.Byte(2)), true, "A B5 E B6 E B7 E E",
         m.Array(m.Byte(5), m.Byte(6), m.Byte(7))},
        {"an existing Nil element is assigned", m.Array(m.Nil()), true, "A B1 E E", nullptr, 0xFA0011},
        {"array events onto a string property", m.Composite(m.Prop("a", m.String(u"x"))), true, "C Pa A B1 E E E",
         m.Composite(m.Prop("a", m.String(u"x")))},
        {"array events onto a Nil property", m.Composite(m.Prop("a", m.Nil())), true, "C Pa A B1 E E E",
         m.Composite(m.Prop("a", m.Array(m.Byte(1))))},
        {"a null unit", nullptr, true, "B4 E", m.Byte(4)},
        {"the root value is kept", m.Byte(2), true, "B1 E", m.Byte(2)},
        {"traits are added to an ignored value", m.With(m.Composite(m.Prop("a", m.Word(1))), "t", m.Word(1)), true,
         "C Pa W1 Tx N E E Tt W1 E Tt W2 E E",
         m.With(m.With(m.Composite(m.Prop("a", m.With(m.Word(1), "x", m.Nil()))), "t", m.Word(1)), "t", m.Word(2))},
    };
    Check(cases, std::size(cases));
}

TEST_F(Accumulator, UnsoundSequencesRaiseInsteadOfCrashing)
{
    Case cases[] = {
        {"a property before any value", nullptr, false, "Pa B1 E E", nullptr, 0xFA000A},
        {"a property on a scalar", nullptr, false, "B1 Pa", nullptr, 0xFA000A},
        {"a root trait before any value", nullptr, false, "Tt N E", nullptr, 0xFA000B},
        {"a second value on a Nil trait replaces it", nullptr, false, "B1 Tt N W5 E E",
         m.With(m.Byte(1), "t", m.Word(5))},
        {"a second value on a Nil element replaces it", nullptr, false, "A N B2 E E", m.Array(m.Byte(2))},
        {"a second value on an existing Nil element", m.Array(m.Nil()), true, "A N B2 E E", nullptr, 0xFA0011},
        {"an array onto a continued composite root", m.Composite(m.Prop("a", m.Byte(1))), true, "A B1 E E", nullptr,
         0xFA0011},
        {"a composite onto a continued array root", m.Array(m.Byte(1)), true, "C Pa B1 E E", nullptr, 0xFA0011},
        {"ends beyond the root", nullptr, false, "E E E B1 E", m.Byte(1)},
    };
    Check(cases, std::size(cases));
}

TEST_F(Accumulator, ThePropertyErrorNamesTheExpectedKind)
{
    UnitAccumulator accumulator(*factory);
    try {
        accumulator.Property("a");
        ADD_FAILURE() << "no error";
    } catch (const Common::Error& error) {
        EXPECT_THAT(error,
                    HasText(u"POR: There is a mismatch in object internal structure. Expected object type is "
                            u"'composite', actual object type is '17'."));
    }
}

TEST_F(Accumulator, DestructionReleasesOnlyOwnedUnits)
{
    // Open frames of every kind; LSan reports a leak, ASan a double free.
    UnitPtr target = m.Composite(m.Prop("p", m.Array(m.Composite(m.Prop("q", m.Word(1))))));
    const Por::View::Unit* raw = target.get();
    {
        UnitAccumulator accumulator(std::move(target), *factory);
        PorTesting::RunScript(accumulator, "C Pp A C Pq W2 Tt C Pnew Tu W3");
    }
    (void)raw;
    UnitAccumulator fresh(*factory);
    PorTesting::RunScript(fresh, "C Pa A B1 Tt C Pb S1");
}

} // namespace
