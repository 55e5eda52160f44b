// Properties of the orderings over random corpora of units: CompareUnits is
// antisymmetric where no NaN and no error integers 2^63 apart take part; the
// key order is a total order consistent with UnitsEqual; and a trait set kept
// sorted by the key never drops or misplaces a distinct trait, also for the
// cyclic cases of CompareUnits.

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <random>
#include <span>
#include <type_traits>
#include <vector>

#include "enterprise/common/por/test_support/fake_errors.h"
#include "enterprise/common/por/test_support/list_units.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/unit_equality.h"
#include "enterprise/common/por/unit_order_key.h"
#include "enterprise/common/por/unit_ordering.h"

namespace {

using Por::Util::CompareTraitKeys;
using Por::Util::CompareUnitKeys;
using Por::Util::CompareUnits;
using Por::Util::UnitsEqual;
using PorTesting::UnitPtr;

const PorTesting::FakeParameters kInteger0{"n", {{"n", nullptr, nullptr, 0}}};
const PorTesting::FakeParameters kInteger6{"n", {{"n", nullptr, nullptr, 0x6000000000000000ull}}};
const PorTesting::FakeParameters kIntegerC{"n", {{"n", nullptr, nullptr, 0xC000000000000000ull}}};
const PorTesting::FakeParameters kInteger8{"n", {{"n", nullptr, nullptr, 0x8000000000000000ull}}};

// Random units from small pools, so that equal units recur. `unsound` adds
// what makes the order of CompareUnits lose antisymmetry: NaN, error integers 2^63
// apart, properties with the empty name (a one-sided empty name ends the
// composite walk before the other side's names are seen) and composites that
// do not enumerate in name order (their values are compared in the left
// composite's order).
class Generator
{
public:
    Generator(const PorTesting::Make& make, bool unsound, unsigned seed) : m(make), m_unsound(unsound), m_random(seed)
    {
    }

    UnitPtr Unit(int depth = 0)
    {
        UnitPtr unit = Value(depth);
        const int traits = Pick(depth < 2 ? 3 : 1);
        for (int i = 0; i < traits; ++i)
            unit = m.With(std::move(unit), Por::Name(std::string(1, char('B' + Pick(3)))), Unit(depth + 2));
        return unit;
    }

private:
    UnitPtr Value(int depth)
    {
        const int kinds = depth < 2 ? 9 : 7;
        switch (Pick(kinds)) {
        case 0:
            return m.Nil();
        case 1:
            return m.Boolean(Pick(2) == 1);
        case 2:
            return m.SByte(static_cast<signed char>(Pick(3) - 1));
        case 3: {
            static const double sound[] = {-0.0, 0.0, 1.0, -1.0};
            const double nan = std::numeric_limits<double>::quiet_NaN();
            return m.Double(m_unsound && Pick(3) == 0 ? nan : sound[Pick(4)]);
        }
        case 4:
            return m.String(std::u16string(Pick(3), u'a'));
        case 5: {
            const PorTesting::FakeParameters* pool[] = {&kInteger0, &kInteger6, &kIntegerC, &kInteger8};
            return m.Error(PorTesting::Fake(0xFA0001, *pool[Pick(m_unsound ? 4 : 3)]));
        }
        case 6:
            return m.Error(Common::Success);
        case 7: {
            UnitPtr array = m.Array();
            const int count = Pick(3);
            for (int i = 0; i < count; ++i)
                array = Append(std::move(array), Unit(depth + 1));
            return array;
        }
        default: {
            static const char* const names[] = {"b", "c", "d", ""};
            std::vector<int> picked(Pick(3));
            for (int& name : picked)
                name = Pick(m_unsound ? 4 : 3);
            if (!m_unsound) // enumerated in name order, as the holders do
                std::sort(picked.begin(), picked.end());
            UnitPtr composite = m.Composite();
            for (const int name : picked)
                composite = SetProperty(std::move(composite), names[name], Unit(depth + 1));
            return composite;
        }
        }
    }

    UnitPtr Append(UnitPtr array, UnitPtr element)
    {
        struct Push : Por::Construction::NullVisitor
        {
            UnitPtr element;
            using NullVisitor::Visit;
            void Visit(Por::Construction::ArrayValue& value) override { value.PushBack(std::move(element)); }
        } push;
        push.element = std::move(element);
        array->Accept(push);
        return array;
    }

    UnitPtr SetProperty(UnitPtr composite, const char* name, UnitPtr value)
    {
        struct Set : Por::Construction::NullVisitor
        {
            std::unique_ptr<Por::Construction::Property> property;
            using NullVisitor::Visit;
            void Visit(Por::Construction::CompositeValue& value) override { value.Set(std::move(property)); }
        } set;
        set.property = m_factory.CreateProperty(Por::Name(std::string(name)), std::move(value));
        composite->Accept(set);
        return composite;
    }

    int Pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(m_random); }

    const PorTesting::Make& m;
    PorTesting::ListUnitFactory m_factory;
    bool m_unsound;
    std::mt19937 m_random;
};

class OrderProperties : public ::testing::Test
{
protected:
    std::vector<UnitPtr> Corpus(bool unsound, size_t count, unsigned seed)
    {
        Generator generator(m, unsound, seed);
        std::vector<UnitPtr> units;
        for (size_t i = 0; i < count; ++i)
            units.push_back(generator.Unit());
        // The cyclic triples of the one-sided-name rules.
        units.push_back(m.Composite(m.Prop("c", m.Nil())));
        units.push_back(m.Composite(m.Prop("b", m.Nil()), m.Prop("c", m.Nil())));
        units.push_back(m.Composite(m.Prop("b", m.Nil()), m.Prop("d", m.Nil())));
        units.push_back(m.With(m.Nil(), "C", m.Nil()));
        units.push_back(m.With(m.With(m.Nil(), "B", m.Nil()), "C", m.Nil()));
        units.push_back(m.With(m.With(m.Nil(), "B", m.Nil()), "D", m.Nil()));
        return units;
    }

    PorTesting::ListUnitFactory factory;
    PorTesting::Make m{factory};
};

TEST_F(OrderProperties, CyclicTriplesOfCompareUnits)
{
    UnitPtr c = m.Composite(m.Prop("c", m.Nil()));
    UnitPtr bc = m.Composite(m.Prop("b", m.Nil()), m.Prop("c", m.Nil()));
    UnitPtr bd = m.Composite(m.Prop("b", m.Nil()), m.Prop("d", m.Nil()));
    EXPECT_EQ(CompareUnits(*c, *bc), -1);
    EXPECT_EQ(CompareUnits(*bc, *bd), -1);
    EXPECT_EQ(CompareUnits(*bd, *c), -1);
    UnitPtr tc = m.With(m.Nil(), "C", m.Nil());
    UnitPtr tbc = m.With(m.With(m.Nil(), "B", m.Nil()), "C", m.Nil());
    UnitPtr tbd = m.With(m.With(m.Nil(), "B", m.Nil()), "D", m.Nil());
    EXPECT_EQ(CompareUnits(*tc, *tbc), -1);
    EXPECT_EQ(CompareUnits(*tbc, *tbd), -1);
    EXPECT_EQ(CompareUnits(*tbd, *tc), -1);
    // The key orders each triple one way.
    EXPECT_EQ(CompareUnitKeys(*bc, *bd), -1);
    EXPECT_EQ(CompareUnitKeys(*bd, *c), -1);
    EXPECT_EQ(CompareUnitKeys(*bc, *c), -1);
}

TEST_F(OrderProperties, CompareUnitsIsAntisymmetricOnSoundUnits)
{
    for (unsigned seed = 1; seed <= 40; ++seed) {
        const std::vector<UnitPtr> units = Corpus(false, 160, seed);
        for (const UnitPtr& a : units) {
            for (const UnitPtr& b : units)
                ASSERT_EQ(CompareUnits(*a, *b), -CompareUnits(*b, *a)) << seed;
        }
    }
}

TEST_F(OrderProperties, TheKeyIsATotalOrderConsistentWithEquality)
{
    for (const bool unsound : {false, true, false, true, false, true, false, true}) {
        static unsigned seed = 100;
        const std::vector<UnitPtr> units = Corpus(unsound, 90, ++seed);
        const size_t n = units.size();
        std::vector<int> key(n * n);
        for (size_t i = 0; i < n; ++i) {
            for (size_t j = 0; j < n; ++j) {
                key[i * n + j] = CompareUnitKeys(*units[i], *units[j]);
                const bool equal = UnitsEqual(*units[i], *units[j]);
                if (equal) {
                    ASSERT_EQ(key[i * n + j], 0) << i << " " << j;
                }
                if (!unsound && key[i * n + j] == 0) {
                    ASSERT_TRUE(equal) << i << " " << j;
                }
            }
        }
        for (size_t i = 0; i < n; ++i) {
            ASSERT_EQ(key[i * n + i], 0);
            for (size_t j = 0; j < n; ++j) {
                ASSERT_EQ(key[i * n + j], -key[j * n + i]);
                for (size_t k = 0; k < n; ++k) {
                    // i <= j and j <= k imply i <= k, with i == k only when all are equal.
                    if (key[i * n + j] <= 0 && key[j * n + k] <= 0) {
                        ASSERT_LE(key[i * n + k], 0) << i << " " << j << " " << k;
                        if (key[i * n + j] < 0 || key[j * n + k] < 0) {
                            ASSERT_LT(key[i * n + k], 0) << i << " " << j << " " << k;
                        }
                    }
                }
            }
        }
    }
}

static_assert(std::is_convertible_v<std::vector<Por::View::Trait*>&, std::span<const Por::View::Trait* const>>,
              "a vector of owned trait pointers is searched as it is");

// A trait set kept sorted by the key, as a sorted trait set does it.
class KeyedTraitSet
{
public:
    // True when the trait went in; false when an equal one was there.
    bool Add(std::unique_ptr<Por::View::Trait> trait)
    {
        const size_t slot = Por::Util::FindTraitSlot(std::span<const Por::View::Trait* const>(m_traits), *trait);
        if (slot == Por::Util::kTraitPresent)
            return false;
        m_traits.insert(m_traits.begin() + static_cast<ptrdiff_t>(slot), trait.get());
        m_owned.push_back(std::move(trait));
        return true;
    }
    const std::vector<const Por::View::Trait*>& Traits() const { return m_traits; }

private:
    std::vector<const Por::View::Trait*> m_traits;
    std::vector<std::unique_ptr<Por::View::Trait>> m_owned;
};

TEST_F(OrderProperties, AKeyedTraitSetKeepsEveryDistinctTrait)
{
    for (unsigned seed = 3; seed < 30; ++seed) {
        std::vector<UnitPtr> values = Corpus(true, 150, seed);
        KeyedTraitSet set;
        std::vector<const Por::View::Trait*> expected; // a linear scan with UnitsEqual
        std::mt19937 random(seed);
        for (UnitPtr& value : values) {
            const Por::Name name(std::string(1, char('A' + random() % 2)));
            std::unique_ptr<Por::View::Trait> trait = factory.CreateTrait(name, std::move(value));
            const bool present = std::any_of(expected.begin(), expected.end(), [&](const Por::View::Trait* t) {
                return t->GetName() == trait->GetName() && UnitsEqual(t->GetValue(), trait->GetValue());
            });
            const Por::View::Trait* raw = trait.get();
            ASSERT_EQ(set.Add(std::move(trait)), !present);
            if (!present)
                expected.push_back(raw);
        }
        std::vector<const Por::View::Trait*> kept = set.Traits();
        for (size_t i = 1; i < kept.size(); ++i)
            ASSERT_LE(CompareTraitKeys(*kept[i - 1], *kept[i]), 0) << "sorted at " << i;
        std::sort(kept.begin(), kept.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(kept, expected);
    }
}

} // namespace
