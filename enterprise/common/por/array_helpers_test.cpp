#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "enterprise/common/por/array_helpers.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/typed_access.h"
#include "enterprise/common/por/unit_equality.h"
#include "testing/error_matchers.h"

namespace {

using ::testing::AllOf;
using namespace Testing;
using PorTesting::UnitPtr;

class ArrayHelpers : public ::testing::Test
{
protected:
    std::unique_ptr<Por::Construction::UnitFactory> factory = Por::Construction::CreateInMemoryUnitFactory();
    PorTesting::Make m{*factory};
};

TEST_F(ArrayHelpers, SizeAndElements)
{
    UnitPtr one = m.Array(m.Word(4));
    EXPECT_EQ(Por::GetArraySize(*m.Array()), 0u);
    EXPECT_EQ(Por::GetArraySize(*m.String(u"abc")), 0u);
    EXPECT_EQ(Por::GetArraySize(*one), 1u);

    const Por::View::Unit* element = Por::GetArrayElement(static_cast<const Por::View::Unit&>(*one), 0);
    ASSERT_NE(element, nullptr);
    EXPECT_EQ(Por::Util::GetUnitValue<unsigned short>(*element), 4);
    Por::Construction::Unit* mutableElement = Por::GetMutableArrayElement(*one, 0);
    ASSERT_NE(mutableElement, nullptr);
    Por::Util::SetUnitValue<unsigned short>(*mutableElement, 5);
    EXPECT_EQ(Por::Util::GetUnitValue<unsigned short>(*element), 5);

    EXPECT_EQ(Por::GetArrayElement(static_cast<const Por::View::Unit&>(*m.Composite()), 0), nullptr);
    EXPECT_EQ(Por::GetArrayElement(*m.Composite(), 0), nullptr);
    try {
        (void)Por::GetArrayElement(static_cast<const Por::View::Unit&>(*one), 1);
        ADD_FAILURE() << "no error past the end";
    } catch (const Por::ModuleError& error) {
        EXPECT_THAT(error, AllOf(ErrorIs(0xFA000F), HasText(u"POR: Out of range.")));
    }
}

TEST_F(ArrayHelpers, ContainsUnitOrValue)
{
    UnitPtr array = m.Array(m.With(m.Word(1), "T", m.Nil()), m.Word(2));
    EXPECT_TRUE(Por::ArrayContainsUnit(*array, *m.Word(2)));
    EXPECT_FALSE(Por::ArrayContainsUnit(*array, *m.Word(1))); // the element carries a trait
    EXPECT_TRUE(Por::ArrayContainsValue(*array, *m.Word(1)));
    EXPECT_FALSE(Por::ArrayContainsValue(*array, *m.DWord(1)));
    EXPECT_FALSE(Por::ArrayContainsUnit(*m.Array(), *m.Nil()));
    EXPECT_FALSE(Por::ArrayContainsUnit(*m.Word(2), *m.Word(2)));
    EXPECT_FALSE(Por::ArrayContainsValue(*m.Composite(), *m.Word(2)));
}

TEST_F(ArrayHelpers, AppendTakesTheElementOrDestroysIt)
{
    UnitPtr array = m.Array(m.Word(1));
    UnitPtr element = m.Word(2);
    const Por::Construction::Unit* raw = element.get();
    Por::AddArrayElement(*array, element);
    EXPECT_EQ(element, nullptr);
    EXPECT_EQ(Por::GetMutableArrayElement(*array, 1), raw);

    UnitPtr composite = m.Composite();
    UnitPtr dropped = m.Composite(m.Prop("deep", m.Array(m.String(u"leak check"))));
    Por::Util::AppendToArray(*composite, std::move(dropped));
    EXPECT_EQ(dropped, nullptr); // and LSan sees no leak
    EXPECT_TRUE(Por::Util::UnitsEqual(*composite, *m.Composite()));
}

TEST_F(ArrayHelpers, ArrayValueAndForEach)
{
    UnitPtr array = m.Array(m.Word(1), m.Word(2), m.Word(3));
    Por::Construction::ArrayValue* value = Por::GetArrayValue(*array);
    ASSERT_NE(value, nullptr);
    value->PopFront();
    std::vector<unsigned short> seen;
    auto collect = Por::ProcessorOf<const Por::View::Unit>([&](const Por::View::Unit& element) {
        seen.push_back(Por::Util::GetUnitValue<unsigned short>(element));
        return seen.size() == 1;
    });
    Por::ForEachArrayElement(*array, collect);
    EXPECT_EQ(seen, std::vector<unsigned short>{2});

    EXPECT_THROW((void)Por::GetArrayValue(*m.Nil()), Common::Error);
}

} // namespace
