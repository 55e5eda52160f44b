// Deep copies of units.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <new>
#include <set>

#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/test_support/budget_factory.h"
#include "enterprise/common/por/test_support/every_kind.h"
#include "enterprise/common/por/traits_holder.h"
#include "enterprise/common/por/unit_copier.h"
#include "enterprise/common/por/unit_equality.h"
#include "enterprise/common/por/unit_ordering.h"
#include "enterprise/common/por/value_type_index.h"
#include "testing/error_matchers.h"

namespace {

using namespace Por;
using namespace PorTesting;
using ::testing::AllOf;

const Construction::InMemoryUnitFactory kFactory;

std::set<const void*> UnitsOf(const View::Unit& unit)
{
    std::set<const void*> units;
    CollectUnits(unit, units);
    return units;
}

TEST(CopyUnit, CopiesATreeOfEveryKindWithTraitsAtEveryLevel)
{
    const UnitPtr source = MakeRichUnit(kFactory);
    const UnitPtr copy = Util::CopyUnit(*source, kFactory);
    EXPECT_TRUE(Util::UnitsEqual(*copy, *source));
    EXPECT_EQ(Util::CompareUnits(*copy, *source), 0);
    EXPECT_EQ(Util::CompareUnits(*source, *copy), 0);
    const std::set<const void*> sourceUnits = UnitsOf(*source);
    const std::set<const void*> copyUnits = UnitsOf(*copy);
    EXPECT_EQ(copyUnits.size(), sourceUnits.size());
    for (const void* unit : copyUnits)
        EXPECT_EQ(sourceUnits.count(unit), 0u) << "the copy shares a unit with the source";
}

TEST(CopyUnit, EveryKindKeepsItsKindValueAndTraits)
{
    for (int kind = 0; kind < 17; ++kind) {
        SCOPED_TRACE(kind);
        const UnitPtr source = MakeUnitOfKind(kFactory, kind);
        const UnitPtr copy = Util::CopyUnit(*source, kFactory);
        EXPECT_EQ(Util::GetValueTypeIndex(*copy), kind);
        EXPECT_TRUE(Util::UnitsEqual(*copy, *source));
    }
    for (int kind : {15, 16}) {
        const UnitPtr empty = kind == 15 ? kFactory.CreateArray() : kFactory.CreateComposite();
        const UnitPtr copy = Util::CopyUnit(*empty, kFactory);
        EXPECT_EQ(Util::GetValueTypeIndex(*copy), kind);
        EXPECT_TRUE(Util::UnitsEqual(*copy, *empty));
    }
}

TEST(CopyUnit, ANaNIsCopiedAsNaN)
{
    const UnitPtr source = kFactory.CreateDouble(std::nan(""));
    const UnitPtr copy = Util::CopyUnit(*source, kFactory);
    EXPECT_TRUE(std::isnan(*ReadValue<double>(*copy)));
    EXPECT_FALSE(Util::UnitsEqual(*copy, *source)) << "a NaN equals nothing";
}

// Copies a Nil, Array or Composite value on its own.
struct ValueCopier
{
    UnitPtr result;
    void operator()(const View::NilValue& value) { result = Util::CopyNilValue(value, kFactory); }
    void operator()(const View::ArrayValue& value) { result = Util::CopyArrayValue(value, kFactory); }
    void operator()(const View::CompositeValue& value) { result = Util::CopyCompositeValue(value, kFactory); }
    template <typename Other>
    void operator()(const Other&)
    {
    }
};

TEST(CopyUnit, ValueCopiesLeaveTheUnitsOwnTraitsBehind)
{
    const UnitPtr array = MakeUnitOfKind(kFactory, 15);
    const UnitPtr composite = MakeUnitOfKind(kFactory, 16);
    using Copier = ValueCopier;
    for (const UnitPtr* source : {&array, &composite}) {
        Copier copier;
        View::Detail::UnitVisitorAdaptor<Copier> adaptor(&copier);
        (*source)->Accept(adaptor);
        ASSERT_NE(copier.result, nullptr);
        EXPECT_TRUE(Util::ValuesEqual(*copier.result, **source)) << "elements and properties keep their traits";
        EXPECT_FALSE(Util::TraitsEqual(*copier.result, **source)) << "the unit's own trait is not copied";
    }
    const UnitPtr nil = MakeUnitOfKind(kFactory, 0);
    Copier copier;
    View::Detail::UnitVisitorAdaptor<Copier> adaptor(&copier);
    nil->Accept(adaptor);
    EXPECT_EQ(Util::GetValueTypeIndex(*copier.result), 0);
}

// Every unit, trait and property of the copy comes from the given factory.
TEST(CopyUnit, BuildsEverythingThroughTheGivenFactory)
{
    const UnitPtr source = MakeUnitOfKind(kFactory, 16); // {inner: Word 3 [Deep=false]} [Kind=16]
    PorTesting::BudgetFactory factory;
    const UnitPtr copy = Util::CopyUnit(*source, factory);
    // Composite, Word, Boolean, trait Deep, property inner, SDWord, trait Kind.
    EXPECT_EQ(factory.created, 7);
    EXPECT_TRUE(Util::UnitsEqual(*copy, *source));
}

// A creator failing at any point passes its exception on; nothing leaks
// (LSan) and the source is unchanged.
TEST(CopyUnit, AFailingCreatorLeaksNothing)
{
    const UnitPtr source = MakeRichUnit(kFactory);
    const UnitPtr pattern = Util::CopyUnit(*source, kFactory);
    PorTesting::BudgetFactory counter;
    (void)Util::CopyUnit(*source, counter); // measures how many creations a copy takes
    for (int budget = 0; budget < counter.created; ++budget) {
        PorTesting::BudgetFactory factory;
        factory.budget = budget;
        EXPECT_THROW((void)Util::CopyUnit(*source, factory), std::bad_alloc) << budget;
    }
    EXPECT_TRUE(Util::UnitsEqual(*source, *pattern));
}

// A unit of another implementation whose Accept visits nothing.
class UnvisitedUnit final : public View::Unit
{
public:
    void Accept(View::UnitReader&) const override {}
    const View::Traits& traits() const override { return m_traits; }

private:
    TraitsHolder m_traits;
};

TEST(CopyUnit, AUnitWithoutAKindRaisesInsteadOfCopyingNothing)
{
    const UnvisitedUnit unit;
    try {
        (void)Util::CopyUnit(unit, kFactory);
        ADD_FAILURE() << "no exception";
    } catch (const ModuleError& error) {
        EXPECT_THAT(error,
                    AllOf(Testing::ErrorIs(0xFA000A), Testing::HasText(u"POR: Object internal structure mismatch.")));
    }
}

} // namespace
