// Golden outputs of the unit printer.

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <sstream>

#include "core/common/location.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/unit_printer.h"

namespace {

using PorTesting::UnitPtr;

class UnitPrinter : public ::testing::Test
{
protected:
    static std::string Print(const Por::View::Unit& unit, bool newlines = true, const std::string& prefix = "")
    {
        std::ostringstream out;
        Por::Util::PrintUnit(unit, prefix, out, newlines);
        return out.str();
    }

    std::unique_ptr<Por::Construction::UnitFactory> factory = Por::Construction::CreateInMemoryUnitFactory();
    PorTesting::Make m{*factory};
};

TEST_F(UnitPrinter, CompositeWithATraitedProperty)
{
    UnitPtr unit = m.Composite(m.Prop("a", m.With(m.DWord(5), "t", m.String(u"x"))));
    EXPECT_EQ(Print(*unit), "Root (Composite)\n  a (j) = 5\n    [t (Common::String) = x]\n");
    EXPECT_EQ(Print(*unit, false), "Root (Composite)  a (j) = 5    [t (Common::String) = x]");
    EXPECT_EQ(Print(*m.Nil(), true, ">"), ">Root (NIL)\n");
}

TEST_F(UnitPrinter, ScalarFormats)
{
    struct Case
    {
        UnitPtr unit;
        const char* text;
    };
    Case cases[] = {
        {m.Boolean(true), "Root (b) = 1\n"},
        {m.Byte(200), "Root (h) = 200\n"},
        {m.SByte(-1), "Root (a) = -1\n"},
        {m.Word(65535), "Root (t) = 65535\n"},
        {m.SWord(-2), "Root (s) = -2\n"},
        {m.DWord(4000000000u), "Root (j) = 4000000000\n"},
        {m.SDWord(-3), "Root (i) = -3\n"},
        {m.QWord(18446744073709551615ull), "Root (y) = 18446744073709551615\n"},
        {m.SQWord(std::numeric_limits<long long>::min()), "Root (x) = -9223372036854775808\n"},
        {m.Double(0.1), "Root (d) = 0.1\n"},
        {m.Double(1.0 / 3), "Root (d) = 0.3333333333333333\n"},
        {m.Double(1e300), "Root (d) = 1e+300\n"},
        {m.Blob({}), "Root (Blob) Size = 0\n"},
        {m.Blob({1, 2, 3}), "Root (Blob) Size = 3\n"},
        {m.Guid({0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}}),
         "Root (Common::Guid) = 01020304-0506-0708-090A-0B0C0D0E0F10\n"},
        {m.String(u"K\u00e4se"), "Root (Common::String) = K\xc3\xa4se\n"},
        {m.Array(), "Root (Array)\n"},
        {m.Array(m.Nil(), m.Byte(1)), "Root (Array)\n  0 (NIL)\n  1 (h) = 1\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Print(*c.unit), c.text);
}

TEST_F(UnitPrinter, ErrorsWithSubErrors)
{
    const Common::SourceFile here("x", 0x100);
    Common::Error error(0xFA0001, u"outer", here.At("f", 1));
    (void)error.AddCause(Common::Error(0x40002, here.At("g", 2)));
    EXPECT_EQ(Print(*m.Error(error)),
              "Root (Common::Error) Code = 16384001 LineTag = 101 Message = outer\n"
              "  (SubError) Code = 262146 LineTag = 102\n");
    EXPECT_EQ(Print(*m.Error(Common::Success)), "Root (Common::Error) Code = 0 LineTag = 0\n");
}

TEST_F(UnitPrinter, TraitsHoldTheirWholeValueOnOneLine)
{
    UnitPtr unit = m.With(m.Nil(), "c", m.With(m.Composite(m.Prop("p", m.Word(1))), "u", m.Nil()));
    EXPECT_EQ(Print(*unit), "Root (NIL)\n  [c (Composite)    [u (NIL)]    p (t) = 1  ]\n");
    UnitPtr array = m.With(m.Array(m.Word(2)), "t", m.Byte(3));
    EXPECT_EQ(Print(*array), "Root (Array)\n  [t (h) = 3]\n  0 (t) = 2\n");
}

} // namespace
