// The in-memory composite: properties in name order, one per name, replaced by
// Set, removed by name, enumerated by an iterator over the live vector.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/test_support/every_kind.h"
#include "testing/error_matchers.h"

namespace {

using namespace Por;
using namespace PorTesting;
using namespace Testing;
using ::testing::AllOf;

const Construction::InMemoryUnitFactory kFactory;

std::vector<std::string> Names(const View::CompositeValue& composite)
{
    std::vector<std::string> names;
    auto lister = ProcessorOf<const View::Property>([&](const View::Property& property) {
        names.push_back(property.GetName().GetText());
        return false;
    });
    composite.ForEach(lister);
    return names;
}

TEST(CompositeValue, PropertiesEnumerateInByteOrderOfTheirNames)
{
    UnitPtr unit = kFactory.CreateComposite();
    for (const char* name : {"b", "a", "B"})
        SetProperty(kFactory, *unit, Name(std::string(name)), kFactory.CreateNil());
    EXPECT_THAT(Names(CompositeOf(*unit)), ::testing::ElementsAre("B", "a", "b"));
    SetProperty(kFactory, *unit, Name(std::string()), kFactory.CreateNil());
    EXPECT_THAT(Names(CompositeOf(*unit)), ::testing::ElementsAre("", "B", "a", "b"));
}

TEST(CompositeValue, SetOfAnExistingNameReplacesIt)
{
    UnitPtr unit = kFactory.CreateComposite();
    SetProperty(kFactory, *unit, "a", kFactory.CreateDWord(1));
    SetProperty(kFactory, *unit, "b", kFactory.CreateDWord(2));
    SetProperty(kFactory, *unit, "a", kFactory.CreateString(u"new")); // the old one is deleted (LSan)
    EXPECT_THAT(Names(CompositeOf(*unit)), ::testing::ElementsAre("a", "b"));
    const View::Unit* value = nullptr;
    auto finder = ProcessorOf<const View::Property>([&](const View::Property& property) {
        value = &property.GetValue();
        return false;
    });
    EXPECT_TRUE(static_cast<const View::CompositeValue&>(CompositeOf(*unit)).ForEachNamed("a", finder));
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(ReadValue<std::u16string>(*value), u"new");
}

TEST(CompositeValue, ForEachNamedHandsThePropertyOnceWhateverTheAnswer)
{
    UnitPtr unit = kFactory.CreateComposite();
    SetProperty(kFactory, *unit, "x", kFactory.CreateNil());
    int calls = 0;
    auto answersFalse = ProcessorOf<Construction::Property>([&](Construction::Property&) { return ++calls, false; });
    EXPECT_TRUE(CompositeOf(*unit).ForEachNamed("x", answersFalse));
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(CompositeOf(*unit).ForEachNamed("y", answersFalse));
    EXPECT_EQ(calls, 1);
}

TEST(CompositeValue, ForEachStopsWhenTheProcessorAnswersTrue)
{
    UnitPtr unit = kFactory.CreateComposite();
    for (const char* name : {"a", "b", "c"})
        SetProperty(kFactory, *unit, Name(std::string(name)), kFactory.CreateNil());
    int calls = 0;
    auto first = ProcessorOf<Modification::Property>([&](Modification::Property&) { return ++calls, true; });
    static_cast<Modification::CompositeValue&>(CompositeOf(*unit)).ForEach(first);
    EXPECT_EQ(calls, 1);
}

TEST(CompositeValue, RemoveDeletesOnlyTheNamedProperty)
{
    UnitPtr unit = kFactory.CreateComposite();
    for (const char* name : {"a", "b", "c"})
        SetProperty(kFactory, *unit, Name(std::string(name)), kFactory.CreateNil());
    CompositeOf(*unit).Remove("missing");
    EXPECT_THAT(Names(CompositeOf(*unit)), ::testing::ElementsAre("a", "b", "c"));
    CompositeOf(*unit).Remove("b");
    EXPECT_THAT(Names(CompositeOf(*unit)), ::testing::ElementsAre("a", "c"));
}

TEST(CompositeValue, SetOfANullPropertyRaisesAndChangesNothing)
{
    UnitPtr unit = kFactory.CreateComposite();
    SetProperty(kFactory, *unit, "a", kFactory.CreateNil());
    try {
        CompositeOf(*unit).Set(nullptr);
        ADD_FAILURE() << "no exception";
    } catch (const ModuleError& error) {
        EXPECT_THAT(error,
                    AllOf(ErrorIs(0xFA000B), HasText(u"POR: Null units are forbidden."),
                          RaisedAt("enterprise/common/por/composite_value_holder", "Set", 104),
                          HasLineTag(0xFFB2C315D03A8F4Cull)));
    }
    EXPECT_THAT(Names(CompositeOf(*unit)), ::testing::ElementsAre("a"));
}

TEST(CompositeValue, EnumerateWalksTheLiveVector)
{
    UnitPtr unit = kFactory.CreateComposite();
    Construction::CompositeValue& composite = CompositeOf(*unit);
    PropertyIterator<const View::Property> empty = static_cast<const View::CompositeValue&>(composite).Enumerate();
    EXPECT_FALSE(empty.IsValid());
    empty.Next();
    EXPECT_FALSE(empty.IsValid());

    for (const char* name : {"b", "a"})
        SetProperty(kFactory, *unit, Name(std::string(name)), kFactory.CreateNil());
    PropertyIterator<Construction::Property> iterator = composite.Enumerate();
    std::vector<std::string> seen;
    for (; iterator.IsValid(); iterator.Next())
        seen.push_back(iterator.Current().GetName().GetText());
    EXPECT_THAT(seen, ::testing::ElementsAre("a", "b"));
    iterator.Next(); // at the end it stays there
    EXPECT_FALSE(iterator.IsValid());
    SetProperty(kFactory, *unit, "c", kFactory.CreateNil());
    EXPECT_TRUE(iterator.IsValid()) << "the iterator reads the live vector";
    EXPECT_STREQ(iterator.Current().GetName().GetText(), "c");
}

} // namespace

// Building from outside bytes must not cost the square of the property count,
// whatever order the names arrive in.
TEST(CompositeValue, BuildsLargeCompositesInAnyArrivalOrder)
{
    constexpr int kCount = 200000;
    struct Order
    {
        const char* label;
        std::function<int(int)> nth;
    };
    const Order orders[] = {
        {"ascending", [](int i) { return i; }},
        {"descending", [](int i) { return kCount - 1 - i; }},
        {"interleaved", [](int i) { return i % 2 ? i / 2 : kCount - 1 - i / 2; }},
        {"scattered", [](int i) { return static_cast<int>((static_cast<int64_t>(i) * 7919) % kCount); }},
    };
    for (const Order& order : orders) {
        SCOPED_TRACE(order.label);
        char name[16];
        UnitPtr unit = kFactory.CreateComposite();
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kCount; ++i) {
            std::snprintf(name, sizeof name, "p%07d", order.nth(i));
            SetProperty(kFactory, *unit, Name(std::string(name)), kFactory.CreateNil());
        }
        const std::vector<std::string> names = Names(CompositeOf(*unit));
        const auto elapsed = std::chrono::steady_clock::now() - start;
        ASSERT_EQ(names.size(), static_cast<size_t>(kCount));
        EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
        EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        EXPECT_LT(elapsed, std::chrono::seconds(2));
#else
        (void)elapsed; // instrumented builds are too slow for a bound
#endif
    }
}

// Names that arrive out of order are found, replaced and removed by name before
// any enumeration, and an iterator sees them at their place in name order.
TEST(CompositeValue, OutOfOrderArrivalsAreLiveAtOnce)
{
    UnitPtr unit = kFactory.CreateComposite();
    Construction::CompositeValue& composite = CompositeOf(*unit);
    for (const char* name : {"d", "b", "c"})
        SetProperty(kFactory, *unit, Name(std::string(name)), kFactory.CreateNil());
    SetProperty(kFactory, *unit, "b", kFactory.CreateDWord(7)); // replaces the waiting "b"
    composite.Remove("c");
    composite.Remove("x"); // missing: nothing changes

    bool called = false;
    auto reader = ProcessorOf<const View::Property>([&](const View::Property& property) {
        called = true;
        EXPECT_EQ(ReadValue<uint32_t>(property.GetValue()), 7u);
        return true;
    });
    EXPECT_TRUE(static_cast<const View::CompositeValue&>(composite).ForEachNamed("b", reader));
    EXPECT_TRUE(called);
    EXPECT_THAT(Names(composite), ::testing::ElementsAre("b", "d"));

    PropertyIterator<Construction::Property> iterator = composite.Enumerate();
    iterator.Next();
    EXPECT_STREQ(iterator.Current().GetName().GetText(), "d");
    SetProperty(kFactory, *unit, "a", kFactory.CreateNil()); // sorts before the position
    EXPECT_STREQ(iterator.Current().GetName().GetText(), "b") << "later positions shift";
    iterator.Next();
    iterator.Next();
    EXPECT_FALSE(iterator.IsValid());
}

// Names out of order near the end go in place, those far from it wait for a
// merge; both are found, replaced and removed alike, and end up in order.
TEST(CompositeValue, OutOfOrderNamesNearAndFarFromTheEnd)
{
    UnitPtr unit = kFactory.CreateComposite();
    Construction::CompositeValue& composite = CompositeOf(*unit);
    char name[16];
    std::vector<std::string> expected;
    for (int i = 0; i < 400; i += 2) {
        std::snprintf(name, sizeof name, "p%03d", i);
        SetProperty(kFactory, *unit, Name(std::string(name)), kFactory.CreateNil());
        expected.push_back(name);
    }
    for (const int i : {397, 1, 395, 3, 201}) {
        std::snprintf(name, sizeof name, "p%03d", i);
        SetProperty(kFactory, *unit, Name(std::string(name)), kFactory.CreateNil());
        expected.push_back(name);
    }
    for (const int i : {397, 1, 398, 0}) {
        std::snprintf(name, sizeof name, "p%03d", i);
        SetProperty(kFactory, *unit, Name(std::string(name)), kFactory.CreateDWord(static_cast<unsigned>(i)));
    }
    composite.Remove("p395");
    composite.Remove("p003");
    std::erase(expected, "p395");
    std::erase(expected, "p003");
    std::sort(expected.begin(), expected.end());
    for (const int i : {397, 1, 398, 0}) {
        std::snprintf(name, sizeof name, "p%03d", i);
        SCOPED_TRACE(name);
        auto reader = ProcessorOf<const View::Property>([&](const View::Property& property) {
            EXPECT_EQ(ReadValue<uint32_t>(property.GetValue()), static_cast<uint32_t>(i));
            return true;
        });
        EXPECT_TRUE(static_cast<const View::CompositeValue&>(composite).ForEachNamed(Name(std::string(name)), reader));
    }
    EXPECT_EQ(Names(composite), expected);
}

// The first readers of a freshly built unit may run at once: exactly one of
// them merges the late arrivals, and all see the same order.
TEST(CompositeValueThreads, FirstReadersOfAFreshUnitAgree)
{
    constexpr int kReaders = 4;
    for (int round = 0; round < 20; ++round) {
        UnitPtr unit = kFactory.CreateComposite();
        for (int i = 50; i > 0; --i) {
            const Name name(std::string(1, static_cast<char>('0' + i)));
            SetProperty(kFactory, *unit, name, kFactory.CreateNil());
            AddTrait(kFactory, *unit, name, kFactory.CreateSDWord(i));
        }
        const View::Unit& shared = *unit;
        const View::CompositeValue& composite = CompositeOf(*unit); // reads no property
        std::latch start(kReaders);
        std::vector<std::vector<std::string>> seen(kReaders);
        std::vector<size_t> traits(kReaders);
        std::vector<std::thread> readers;
        for (int r = 0; r < kReaders; ++r) {
            readers.emplace_back([&, r] {
                start.arrive_and_wait();
                seen[r] = Names(composite);
                auto counter = ProcessorOf<const View::Trait>([&](const View::Trait&) {
                    ++traits[r];
                    return false;
                });
                shared.traits().ForEach(counter);
            });
        }
        for (std::thread& reader : readers)
            reader.join();
        for (int r = 0; r < kReaders; ++r) {
            EXPECT_EQ(seen[r].size(), 50u);
            EXPECT_TRUE(std::is_sorted(seen[r].begin(), seen[r].end()));
            EXPECT_EQ(traits[r], 50u);
        }
    }
}
