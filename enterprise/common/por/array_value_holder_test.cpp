// The in-memory array: bounds, copying and taking adders, removal and the
// enumerations.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/test_support/every_kind.h"
#include "enterprise/common/por/unit_copier.h"
#include "enterprise/common/por/unit_equality.h"
#include "testing/error_matchers.h"

namespace {

using namespace Por;
using namespace PorTesting;
using namespace Testing;
using ::testing::AllOf;

const Construction::InMemoryUnitFactory kFactory;

// The DWord values of the elements, in order.
std::vector<unsigned> Values(const View::ArrayValue& array)
{
    std::vector<unsigned> values;
    auto lister = ProcessorOf<const View::Unit>([&](const View::Unit& element) {
        values.push_back(ReadValue<unsigned int>(element).value_or(0xDEAD));
        return false;
    });
    array.ForEach(lister);
    return values;
}

UnitPtr MakeArray(std::vector<unsigned> values)
{
    UnitPtr unit = kFactory.CreateArray();
    for (unsigned value : values)
        ArrayOf(*unit).PushBack(kFactory.CreateDWord(value));
    return unit;
}

::testing::Matcher<const Common::Error&> IsOutOfRange()
{
    return AllOf(ErrorIs(0xFA000F), HasText(u"POR: Out of range."),
                 RaisedAt("enterprise/common/por/array_value_holder", "CheckOutOfRange", 53),
                 HasLineTag(0x1D3B96EA4085BF2Cull));
}

// Operations with an index outside the array raise 0xFA000F and change nothing.
TEST(ArrayValue, IndexesOutsideTheArrayRaiseOutOfRange)
{
    struct Case
    {
        const char* what;
        std::vector<unsigned> start;
        std::function<void(Construction::ArrayValue&)> run;
    };
    auto ignore = ProcessorOf<const View::Unit>([](const View::Unit&) { return false; });
    const Case cases[] = {
        {"At 0 of empty",
         {},
         [&](Construction::ArrayValue& a) { static_cast<const View::ArrayValue&>(a).At(0, ignore); }},
        {"Erase 0 of empty", {}, [](Construction::ArrayValue& a) { a.Erase(0); }},
        {"At size",
         {1, 2},
         [&](Construction::ArrayValue& a) { static_cast<const View::ArrayValue&>(a).At(2, ignore); }},
        {"Insert taking at size + 1",
         {1, 2},
         [](Construction::ArrayValue& a) { a.Insert(3, kFactory.CreateDWord(9)); }},
        {"Insert copying at size + 1",
         {1, 2},
         [](Construction::ArrayValue& a) {
             UnitPtr unit = kFactory.CreateDWord(9);
             a.Insert(3, unit);
         }},
        {"Erase at size", {1}, [](Construction::ArrayValue& a) { a.Erase(1); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UnitPtr unit = MakeArray(c.start);
        try {
            c.run(ArrayOf(*unit));
            ADD_FAILURE() << "no exception";
        } catch (const ModuleError& error) {
            EXPECT_THAT(error, IsOutOfRange());
        }
        EXPECT_EQ(Values(ArrayOf(*unit)), c.start);
    }
}

TEST(ArrayValue, InsertAtTheSizeAppendsAndInsideShifts)
{
    UnitPtr unit = MakeArray({1, 2});
    ArrayOf(*unit).Insert(2, kFactory.CreateDWord(3));
    UnitPtr copied = kFactory.CreateDWord(0);
    ArrayOf(*unit).Insert(0, copied);
    EXPECT_EQ(Values(ArrayOf(*unit)), (std::vector<unsigned>{0, 1, 2, 3}));
    EXPECT_NE(copied, nullptr) << "the copying Insert leaves the caller's unit";
}

TEST(ArrayValue, EraseAndPopsRemoveElements)
{
    UnitPtr unit = MakeArray({0, 1, 2});
    ArrayOf(*unit).Erase(1);
    EXPECT_EQ(Values(ArrayOf(*unit)), (std::vector<unsigned>{0, 2}));
    ArrayOf(*unit).PopFront();
    EXPECT_EQ(Values(ArrayOf(*unit)), (std::vector<unsigned>{2}));
    ArrayOf(*unit).PopBack();
    EXPECT_TRUE(ArrayOf(*unit).IsEmpty());
    ArrayOf(*unit).PopBack(); // nothing to pop: no error
    ArrayOf(*unit).PopFront();
    EXPECT_EQ(ArrayOf(*unit).GetSize(), 0u);
    UnitPtr full = MakeArray({4, 5});
    ArrayOf(*full).Clear();
    EXPECT_TRUE(ArrayOf(*full).IsEmpty());
}

TEST(ArrayValue, CopyingPushBackStoresAnIndependentCopyWithItsTraits)
{
    UnitPtr unit = kFactory.CreateArray();
    UnitPtr element = kFactory.CreateDWord(5);
    AddTrait(kFactory, *element, "T", kFactory.CreateString(u"v"));
    UnitPtr pattern = Util::CopyUnit(*element, kFactory);
    static_cast<Modification::ArrayValue&>(ArrayOf(*unit)).PushBack(element);
    static_cast<Modification::ArrayValue&>(ArrayOf(*unit)).PushFront(element);
    ASSERT_NE(element, nullptr);
    AddTrait(kFactory, *element, "Later", kFactory.CreateNil());
    auto check = ProcessorOf<const View::Unit>([&](const View::Unit& stored) {
        EXPECT_NE(&stored, element.get());
        EXPECT_TRUE(Util::UnitsEqual(stored, *pattern)) << "the later trait does not show";
        return false;
    });
    ArrayOf(*unit).ForEach(static_cast<ItemProcessor<const View::Unit>&>(check));
    EXPECT_EQ(ArrayOf(*unit).GetSize(), 2u);
}

TEST(ArrayValue, TakingPushBackStoresTheVeryUnit)
{
    UnitPtr unit = kFactory.CreateArray();
    UnitPtr element = kFactory.CreateDWord(5);
    Construction::Unit* const address = element.get();
    ArrayOf(*unit).PushBack(std::move(element));
    EXPECT_EQ(element, nullptr);
    Construction::Unit* stored = nullptr;
    auto finder = ProcessorOf<Construction::Unit>([&](Construction::Unit& found) { return stored = &found, true; });
    ArrayOf(*unit).At(0, finder);
    EXPECT_EQ(stored, address);
}

TEST(ArrayValue, NullUnitsAreRefused)
{
    UnitPtr unit = MakeArray({1});
    const std::function<void()> adders[] = {
        [&] { ArrayOf(*unit).PushBack(UnitPtr()); },
        [&] { ArrayOf(*unit).PushFront(UnitPtr()); },
        [&] { ArrayOf(*unit).Insert(0, UnitPtr()); },
        [&] {
            UnitPtr none;
            ArrayOf(*unit).PushBack(none);
        },
    };
    for (const auto& add : adders) {
        try {
            add();
            ADD_FAILURE() << "no exception";
        } catch (const ModuleError& error) {
            EXPECT_THAT(error, AllOf(ErrorIs(0xFA000B), HasText(u"POR: Null units are forbidden.")));
        }
    }
    EXPECT_EQ(Values(ArrayOf(*unit)), std::vector<unsigned>{1});
}

TEST(ArrayValue, FrontAndBackHandTheEndsAndNothingWhenEmpty)
{
    std::vector<unsigned> seen;
    auto recorder = ProcessorOf<const View::Unit>([&](const View::Unit& element) {
        seen.push_back(*ReadValue<unsigned int>(element));
        return false;
    });
    UnitPtr empty = kFactory.CreateArray();
    const View::ArrayValue& emptyArray = ArrayOf(*empty);
    emptyArray.Front(recorder);
    emptyArray.Back(recorder);
    EXPECT_TRUE(seen.empty());
    UnitPtr unit = MakeArray({7, 8, 9});
    const View::ArrayValue& array = ArrayOf(*unit);
    array.Front(recorder);
    array.Back(recorder);
    EXPECT_EQ(seen, (std::vector<unsigned>{7, 9}));
}

TEST(ArrayValue, ForEachStopsAtTheFirstTrueAnswer)
{
    UnitPtr unit = MakeArray({1, 2, 3});
    int calls = 0;
    auto first = ProcessorOf<Modification::Unit>([&](Modification::Unit&) { return ++calls, true; });
    static_cast<Modification::ArrayValue&>(ArrayOf(*unit)).ForEach(first);
    EXPECT_EQ(calls, 1);
}

} // namespace
