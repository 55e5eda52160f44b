// Equality of units, exercised through the test-only list units (interfaces
// only; traits and properties kept in insertion order).

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/common/location.h"
#include "enterprise/common/por/test_support/list_units.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/unit_equality.h"

namespace {

using Por::Util::TraitsEqual;
using Por::Util::TraitsIncluded;
using Por::Util::UnitsEqual;
using Por::Util::ValuesEqual;
using PorTesting::UnitPtr;

class UnitEquality : public ::testing::Test
{
protected:
    PorTesting::ListUnitFactory factory;
    PorTesting::Make m{factory};
    static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
};

TEST_F(UnitEquality, IdentityBeforeValues)
{
    UnitPtr nan = m.Double(kNaN);
    EXPECT_TRUE(UnitsEqual(*nan, *nan));
    EXPECT_FALSE(ValuesEqual(*nan, *nan));
    EXPECT_FALSE(UnitsEqual(*nan, *m.Double(kNaN)));
}

TEST_F(UnitEquality, ValuesOfOneKind)
{
    struct Case
    {
        const char* what;
        UnitPtr a;
        UnitPtr b;
        bool equal;
    };
    const Common::SourceFile here("enterprise/common/por/unit_equality_test");
    Case cases[] = {
        {"nil", m.Nil(), m.Nil(), true},
        {"+0 and -0", m.Double(0.0), m.Double(-0.0), true},
        {"booleans", m.Boolean(true), m.Boolean(false), false},
        {"sqwords", m.SQWord(-5), m.SQWord(-5), true},
        {"empty blobs", m.Blob({}), m.Blob({}), true},
        {"blobs of one length", m.Blob({1, 2}), m.Blob({1, 3}), false},
        {"blob and its prefix", m.Blob({1}), m.Blob({1, 0}), false},
        {"guids", m.Guid({1, 2, 3, {4}}), m.Guid({1, 2, 3, {4}}), true},
        {"guids differing in the last byte", m.Guid({1, 2, 3, {4}}), m.Guid({1, 2, 3, {4, 0, 0, 0, 0, 0, 0, 1}}),
         false},
        {"strings differing in case", m.String(u"abc"), m.String(u"ABC"), false},
        {"a trailing NUL unit counts", m.String(u"ab"), m.String(std::u16string(u"ab\0", 3)), false},
        {"errors differing only in text and place", m.Error(Common::Error(0xFA0001, u"x", here.At("a", 1))),
         m.Error(Common::Error(0xFA0001, u"y", here.At("b", 2))), true},
        {"errors of different codes", m.Error(Common::Error(0xFA0001, here.At("a", 1))),
         m.Error(Common::Error(0xFA0002, here.At("a", 1))), false},
        {"success errors", m.Error(Common::Success), m.Error(Common::Success), true},
        {"empty arrays", m.Array(), m.Array(), true},
        {"arrays in another order", m.Array(m.Word(1), m.Word(2)), m.Array(m.Word(2), m.Word(1)), false},
        {"array and a longer one", m.Array(m.Word(1)), m.Array(m.Word(1), m.Word(1)), false},
        {"composites built in another order", m.Composite(m.Prop("a", m.Word(1)), m.Prop("b", m.Nil())),
         m.Composite(m.Prop("b", m.Nil()), m.Prop("a", m.Word(1))), true},
        {"composite with an extra property", m.Composite(m.Prop("a", m.Word(1))),
         m.Composite(m.Prop("a", m.Word(1)), m.Prop("b", m.Nil())), false},
        {"property values compare with their traits", m.Composite(m.Prop("a", m.With(m.Word(1), "T", m.Nil()))),
         m.Composite(m.Prop("a", m.Word(1))), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UnitsEqual(*c.a, *c.b), c.equal) << c.what;
        EXPECT_EQ(UnitsEqual(*c.b, *c.a), c.equal) << c.what;
        EXPECT_EQ(ValuesEqual(*c.a, *c.b), c.equal) << c.what;
    }
}

TEST_F(UnitEquality, DifferentKindsAreNeverEqual)
{
    EXPECT_FALSE(ValuesEqual(*m.DWord(1), *m.QWord(1)));
    EXPECT_FALSE(ValuesEqual(*m.Array(), *m.Composite()));
    EXPECT_FALSE(ValuesEqual(*m.Nil(), *m.Boolean(false)));
    PorTesting::KindlessUnit kindless;
    EXPECT_FALSE(ValuesEqual(kindless, *m.Nil()));
    EXPECT_FALSE(ValuesEqual(*m.Nil(), kindless));
}

TEST_F(UnitEquality, TraitsAsSetsOfNameAndValue)
{
    UnitPtr plain = m.Word(1);
    UnitPtr marked = m.With(m.Word(1), "T", m.Nil());
    EXPECT_FALSE(UnitsEqual(*plain, *marked));
    EXPECT_TRUE(ValuesEqual(*plain, *marked));
    EXPECT_TRUE(TraitsIncluded(*plain, *marked));
    EXPECT_FALSE(TraitsIncluded(*marked, *plain));

    UnitPtr tu = m.With(m.With(m.Nil(), "T", m.Word(1)), "U", m.Word(2));
    UnitPtr ut = m.With(m.With(m.Nil(), "U", m.Word(2)), "T", m.Word(1));
    EXPECT_TRUE(UnitsEqual(*tu, *ut));

    UnitPtr t1 = m.With(m.Nil(), "T", m.Word(1));
    UnitPtr t12 = m.With(m.With(m.Nil(), "T", m.Word(1)), "T", m.Word(2));
    EXPECT_FALSE(UnitsEqual(*t1, *t12));
    EXPECT_FALSE(TraitsEqual(*t1, *t12));

    // Multiplicity does not count.
    UnitPtr t11 = m.With(m.With(m.Nil(), "T", m.Word(1)), "T", m.Word(1));
    EXPECT_TRUE(UnitsEqual(*t1, *t11));

    // A trait's value is compared with its own traits.
    UnitPtr deep = m.With(m.Nil(), "T", m.With(m.Word(1), "X", m.Nil()));
    UnitPtr shallow = m.With(m.Nil(), "T", m.Word(1));
    UnitPtr deepToo = m.With(m.Nil(), "T", m.With(m.Word(1), "X", m.Nil()));
    EXPECT_FALSE(UnitsEqual(*deep, *shallow));
    EXPECT_TRUE(UnitsEqual(*deep, *deepToo));
}

} // namespace
