// Side-by-side walks of arrays, composites and trait sets, recorded event by
// event.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "enterprise/common/por/pair_walks.h"
#include "enterprise/common/por/test_support/list_units.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/trait_pairing.h"
#include "enterprise/common/por/unit_ordering.h"
#include "enterprise/common/por/value_type_index.h"

namespace {

using PorTesting::UnitPtr;
using ::testing::ElementsAre;

// "W1" for a Word 1, "N" for Nil, "?" otherwise.
std::string Describe(const Por::View::Unit& unit)
{
    struct Describer : Por::View::NullVisitor
    {
        std::string text = "?";
        using NullVisitor::Visit;
        void Visit(const Por::View::ScalarValue<unsigned short>& value) override
        {
            text = "W" + std::to_string(value.Get());
        }
        void Visit(const Por::View::NilValue&) override { text = "N"; }
    } describer;
    unit.Accept(describer);
    return describer.text;
}

// Records the calls of a walker; answers true at the call numbered `stopAt`
// (from 1).
template <typename Walker>
class Recording : public Walker
{
public:
    explicit Recording(size_t stopAt) : m_stopAt(stopAt) {}
    std::vector<std::string> events;

protected:
    bool Record(std::string event)
    {
        events.push_back(std::move(event));
        return events.size() == m_stopAt;
    }

private:
    size_t m_stopAt;
};

class RecordingArrayWalker : public Recording<Por::Util::ArrayElementsWalker>
{
public:
    explicit RecordingArrayWalker(size_t stopAt = 0) : Recording(stopAt) {}
    bool Pair(const Por::View::Unit& l, const Por::View::Unit& r) override
    {
        return Record("Pair " + Describe(l) + " " + Describe(r));
    }
    bool LeftOnly(const Por::View::Unit& u) override { return Record("LeftOnly " + Describe(u)); }
    bool RightOnly(const Por::View::Unit& u) override { return Record("RightOnly " + Describe(u)); }
};

class RecordingCompositeWalker : public Recording<Por::Util::CompositePropertyWalker>
{
public:
    explicit RecordingCompositeWalker(size_t stopAt = 0) : Recording(stopAt) {}
    bool Pair(const Por::View::Property& l, const Por::View::Property& r) override
    {
        return Record(std::string("Pair ") + l.GetName().GetText() + " " + r.GetName().GetText());
    }
    bool LeftOnly(const Por::View::Property& p) override
    {
        return Record(std::string("LeftOnly ") + p.GetName().GetText());
    }
    bool RightOnly(const Por::View::Property& p) override
    {
        return Record(std::string("RightOnly ") + p.GetName().GetText());
    }
};

class RecordingTraitsWalker : public Recording<Por::Util::UnitTraitsWalker>
{
public:
    explicit RecordingTraitsWalker(size_t stopAt = 0) : Recording(stopAt) {}
    bool Pair(const Por::View::Trait& l, const Por::View::Trait& r) override
    {
        return Record("Pair " + Text(l) + " " + Text(r));
    }
    bool LeftOnly(const Por::View::Trait& t) override { return Record("LeftOnly " + Text(t)); }
    bool RightOnly(const Por::View::Trait& t) override { return Record("RightOnly " + Text(t)); }

private:
    static std::string Text(const Por::View::Trait& t)
    {
        return std::string(t.GetName().GetText()) + "=" + Describe(t.GetValue());
    }
};

class PairWalks : public ::testing::Test
{
protected:
    // The array value of an Array unit.
    static const Por::View::ArrayValue& ArrayOf(const Por::View::Unit& unit)
    {
        struct Get : Por::View::NullVisitor
        {
            const Por::View::ArrayValue* value = nullptr;
            using NullVisitor::Visit;
            void Visit(const Por::View::ArrayValue& v) override { value = &v; }
        } get;
        unit.Accept(get);
        return *get.value;
    }
    static const Por::View::CompositeValue& CompositeOf(const Por::View::Unit& unit)
    {
        struct Get : Por::View::NullVisitor
        {
            const Por::View::CompositeValue* value = nullptr;
            using NullVisitor::Visit;
            void Visit(const Por::View::CompositeValue& v) override { value = &v; }
        } get;
        unit.Accept(get);
        return *get.value;
    }

    PorTesting::ListUnitFactory factory;
    PorTesting::Make m{factory};
};

TEST_F(PairWalks, ArraysPairByIndexThenTheSurplus)
{
    UnitPtr empty = m.Array();
    UnitPtr one = m.Array(m.Word(1));
    UnitPtr twelve = m.Array(m.Word(1), m.Word(2));
    UnitPtr thirteen = m.Array(m.Word(1), m.Word(3));
    UnitPtr longer = m.Array(m.Word(1), m.Word(2), m.Word(3));

    RecordingArrayWalker none;
    Por::Util::WalkArrayPairs(ArrayOf(*empty), ArrayOf(*empty), none);
    EXPECT_TRUE(none.events.empty());
    EXPECT_EQ(Por::Util::CompareArrays(ArrayOf(*empty), ArrayOf(*empty)), 0);
    EXPECT_TRUE(Por::Util::ArraysEqual(ArrayOf(*empty), ArrayOf(*empty)));

    RecordingArrayWalker right;
    Por::Util::WalkArrayPairs(ArrayOf(*empty), ArrayOf(*one), right);
    EXPECT_THAT(right.events, ElementsAre("RightOnly W1"));
    EXPECT_EQ(Por::Util::CompareArrays(ArrayOf(*empty), ArrayOf(*one)), -1);

    RecordingArrayWalker left;
    Por::Util::WalkArrayPairs(ArrayOf(*longer), ArrayOf(*one), left);
    EXPECT_THAT(left.events, ElementsAre("Pair W1 W1", "LeftOnly W2", "LeftOnly W3"));

    EXPECT_EQ(Por::Util::CompareArrays(ArrayOf(*twelve), ArrayOf(*thirteen)), -1);
    EXPECT_FALSE(Por::Util::ArraysEqual(ArrayOf(*twelve), ArrayOf(*thirteen)));
    EXPECT_TRUE(Por::Util::ArraysEqual(ArrayOf(*twelve), ArrayOf(*m.Array(m.Word(1), m.Word(2)))));
}

TEST_F(PairWalks, ATrueAnswerEndsTheWalk)
{
    UnitPtr one = m.Array(m.Word(1));
    UnitPtr longer = m.Array(m.Word(1), m.Word(2), m.Word(3));
    RecordingArrayWalker stopAtPair(1);
    Por::Util::WalkArrayPairs(ArrayOf(*one), ArrayOf(*longer), stopAtPair);
    EXPECT_THAT(stopAtPair.events, ElementsAre("Pair W1 W1"));
    RecordingArrayWalker stopAtSurplus(2);
    Por::Util::WalkArrayPairs(ArrayOf(*longer), ArrayOf(*one), stopAtSurplus);
    EXPECT_THAT(stopAtSurplus.events, ElementsAre("Pair W1 W1", "LeftOnly W2"));

    UnitPtr ac = m.Composite(m.Prop("a", m.Nil()), m.Prop("c", m.Nil()));
    UnitPtr bc = m.Composite(m.Prop("b", m.Nil()), m.Prop("c", m.Nil()));
    RecordingCompositeWalker stopInLeftPass(1);
    Por::Util::WalkCompositePairs(CompositeOf(*ac), CompositeOf(*bc), stopInLeftPass);
    EXPECT_THAT(stopInLeftPass.events, ElementsAre("LeftOnly a"));
}

TEST_F(PairWalks, CompositesPairByNameInTheLeftOrderThenRightOnly)
{
    // List composites enumerate in insertion order.
    UnitPtr left = m.Composite(m.Prop("c", m.Nil()), m.Prop("a", m.Nil()));
    UnitPtr right = m.Composite(m.Prop("d", m.Nil()), m.Prop("a", m.Nil()), m.Prop("b", m.Nil()));
    RecordingCompositeWalker walker;
    Por::Util::WalkCompositePairs(CompositeOf(*left), CompositeOf(*right), walker);
    EXPECT_THAT(walker.events, ElementsAre("LeftOnly c", "Pair a a", "RightOnly d", "RightOnly b"));
}

TEST_F(PairWalks, CompositeComparisonAndEquality)
{
    UnitPtr a1 = m.Composite(m.Prop("a", m.Word(1)));
    UnitPtr a1b2 = m.Composite(m.Prop("a", m.Word(1)), m.Prop("b", m.Word(2)));
    UnitPtr a1Marked = m.Composite(m.Prop("a", m.With(m.Word(1), "T", m.Nil())));
    EXPECT_EQ(Por::Util::CompareComposites(CompositeOf(*a1), CompositeOf(*a1b2)), -1);
    EXPECT_FALSE(Por::Util::CompositesEqual(CompositeOf(*a1), CompositeOf(*a1b2)));
    EXPECT_FALSE(Por::Util::CompositesEqual(CompositeOf(*a1), CompositeOf(*a1Marked)));
    EXPECT_EQ(Por::Util::CompareComposites(CompositeOf(*a1), CompositeOf(*a1Marked)), -1);
    EXPECT_TRUE(Por::Util::CompositesEqual(CompositeOf(*a1), CompositeOf(*m.Composite(m.Prop("a", m.Word(1))))));
}

TEST_F(PairWalks, TraitsPairByNameAndValue)
{
    UnitPtr left = m.With(m.With(m.Nil(), "A", m.Word(1)), "B", m.Word(2));
    UnitPtr right = m.With(m.With(m.Nil(), "A", m.Word(1)), "B", m.Word(3));
    RecordingTraitsWalker walker;
    Por::Util::WalkUnitTraits(*left, *right, walker);
    EXPECT_THAT(walker.events, ElementsAre("Pair A=W1 A=W1", "LeftOnly B=W2", "RightOnly B=W3"));

    RecordingTraitsWalker stopAtLeftOnly(2);
    Por::Util::WalkUnitTraits(*left, *right, stopAtLeftOnly);
    EXPECT_THAT(stopAtLeftOnly.events, ElementsAre("Pair A=W1 A=W1", "LeftOnly B=W2"));
}

TEST_F(PairWalks, EqualLeftTraitsPairWithOneRightTrait)
{
    UnitPtr left = m.With(m.With(m.Nil(), "A", m.Word(1)), "A", m.Word(1));
    UnitPtr right = m.With(m.Nil(), "A", m.Word(1));
    struct PartnerWalker : Por::Util::UnitTraitsWalker
    {
        std::vector<const Por::View::Trait*> partners;
        int oneSided = 0;
        bool Pair(const Por::View::Trait&, const Por::View::Trait& r) override
        {
            partners.push_back(&r);
            return false;
        }
        bool LeftOnly(const Por::View::Trait&) override { return ++oneSided, false; }
        bool RightOnly(const Por::View::Trait&) override { return ++oneSided, false; }
    } walker;
    Por::Util::WalkUnitTraits(*left, *right, walker);
    ASSERT_EQ(walker.partners.size(), 2u);
    EXPECT_EQ(walker.partners[0], walker.partners[1]);
    EXPECT_EQ(walker.oneSided, 0);
}

TEST_F(PairWalks, HasTraitsAndKindIndex)
{
    EXPECT_FALSE(Por::Util::HasTraits(*m.Nil()));
    EXPECT_TRUE(Por::Util::HasTraits(*m.With(m.Nil(), "A", m.Nil())));
    EXPECT_EQ(Por::Util::GetValueTypeIndex(*m.Nil()), 0);
    EXPECT_EQ(Por::Util::GetValueTypeIndex(*m.Double(1)), 10);
    EXPECT_EQ(Por::Util::GetValueTypeIndex(*m.Error(Common::Success)), 14);
    EXPECT_EQ(Por::Util::GetValueTypeIndex(*m.Array()), 15);
    EXPECT_EQ(Por::Util::GetValueTypeIndex(*m.Composite()), 16);
    EXPECT_EQ(Por::Util::GetValueTypeIndex(PorTesting::KindlessUnit()), 17);
}

} // namespace
