// Typed reading and writing of unit values, and the class of error each path
// raises.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "enterprise/common/por/array_helpers.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/test_support/list_units.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/test_support/thrown_errors.h"
#include "enterprise/common/por/typed_access.h"
#include "testing/error_matchers.h"

namespace {

using ::testing::AllOf;
using namespace Testing;
using Por::Util::GetUnitValue;
using Por::Util::SetUnitValue;
using PorTesting::UnitPtr;

class TypedAccess : public ::testing::Test
{
protected:
    std::unique_ptr<Por::Construction::UnitFactory> factory = Por::Construction::CreateInMemoryUnitFactory();
    PorTesting::Make m{*factory};
};

// Runs `call`, which must throw; gives the error and whether it was a Por::ModuleError.
template <typename Call>
std::pair<Common::Error, bool> Raised(Call call)
{
    const PorTesting::Thrown thrown = PorTesting::ThrownBy(call);
    return {thrown.error, thrown.isModuleError};
}

TEST_F(TypedAccess, ReadsTheValueOfItsKind)
{
    EXPECT_EQ(GetUnitValue<unsigned int>(*m.DWord(7)), 7u);
    EXPECT_EQ(GetUnitValue<double>(*m.Double(-0.5)), -0.5);
    UnitPtr text = m.String(u"abc");
    const std::u16string& view = GetUnitValue<std::u16string>(*text);
    EXPECT_EQ(view, u"abc");
    SetUnitValue<std::u16string>(*text, u"changed");
    EXPECT_EQ(view, u"changed"); // a reference to the unit's own text
    UnitPtr guid = m.Guid({1, 2, 3, {4}});
    SetUnitValue<Por::GuidType>(*guid, Por::GuidType{9, 8, 7, {6}});
    EXPECT_EQ(GetUnitValue<Por::GuidType>(*guid).first, 9u);
}

TEST_F(TypedAccess, FailSafeValuesOnAnotherKind)
{
    EXPECT_EQ(GetUnitValue<unsigned int>(*m.Nil(), 0u), 0u);
    EXPECT_EQ(GetUnitValue<unsigned int>(*m.DWord(3), 0u), 3u);
    const std::u16string fallback = u"fallback";
    EXPECT_EQ(&GetUnitValue<std::u16string>(*m.Word(1), fallback), &fallback);
    const Common::Error none;
    EXPECT_EQ(&GetUnitValue<Common::Error>(*m.Array(), none), &none);
    PorTesting::KindlessUnit kindless;
    EXPECT_EQ(GetUnitValue<unsigned int>(kindless, 5u), 5u);
}

TEST_F(TypedAccess, MismatchErrorsByPath)
{
    const char* const file = "enterprise/common/por/types_mismatch";
    struct Case
    {
        const char* what;
        std::pair<Common::Error, bool> raised;
        bool moduleError;
        const char16_t* text;
        const char* function;
        unsigned line;
    };
    UnitPtr qword = m.QWord(5);
    Case cases[] = {
        {"getter that throws", Raised([&] { (void)GetUnitValue<unsigned int>(*m.String(u"x")); }), true,
         u"POR: There is a mismatch in object internal structure. Expected object type is 'dword', actual object "
         u"type is 'string'.",
         "MakeTypeMismatchError", 62},
        {"string getter", Raised([&] { (void)GetUnitValue<std::u16string>(*m.Composite()); }), true,
         u"POR: There is a mismatch in object internal structure. Expected object type is 'string', actual object "
         u"type is 'composite'.",
         "MakeTypeMismatchError", 62},
        {"setter", Raised([&] { SetUnitValue<unsigned int>(*qword, 1u); }), true,
         u"POR: Object internal structure mismatch.", "MakeTypeMismatchError", 50},
        {"single-kind visitor", Raised([&] {
             auto none = Por::ProcessorOf<const Por::View::Unit>([](const Por::View::Unit&) { return false; });
             Por::ForEachArrayElement(*m.Nil(), none);
         }),
         false,
         u"POR: There is a mismatch in object internal structure. Expected object type is 'array', actual object "
         u"type is 'nil'.",
         "MakeTypeMismatchError", 62},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.raised.second, c.moduleError) << c.what;
        EXPECT_THAT(c.raised.first, AllOf(ErrorIs(0xFA000A), HasText(c.text), RaisedAt(file, c.function, c.line)))
            << c.what;
    }
    EXPECT_EQ(GetUnitValue<unsigned long long>(*qword), 5u); // the failed setter changed nothing
}

TEST_F(TypedAccess, AUnitOfNoKindIsAMismatch)
{
    PorTesting::KindlessUnit kindless;
    const auto raised = Raised([&] { (void)GetUnitValue<std::u16string>(kindless); });
    EXPECT_TRUE(raised.second);
    EXPECT_THAT(raised.first,
                HasText(u"POR: There is a mismatch in object internal structure. Expected object type "
                        u"is 'string', actual object type is '17'."));
}

} // namespace
