#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "enterprise/common/por/hierarchy_walk.h"
#include "enterprise/common/por/test_support/list_units.h"
#include "enterprise/common/por/test_support/make_units.h"

namespace {

using PorTesting::UnitPtr;
using ::testing::ElementsAre;

class RecordingWalker final : public Por::Util::UnitWalker
{
public:
    void BeginUnit() override { events.push_back("Begin"); }
    void EndUnit() override { events.push_back("End"); }
    void Property(const Por::Name& name) override { events.push_back(std::string("Property ") + name.GetText()); }
    void Trait(const Por::Name& name) override { events.push_back(std::string("Trait ") + name.GetText()); }
    void Nil() override { events.push_back("Nil"); }
#define POR_RECORD_SCALAR(Kind, Type)                        \
    void Kind(Type value) override                           \
    {                                                        \
        events.push_back(#Kind " " + std::to_string(value)); \
    }
    POR_SCALAR_KINDS(POR_RECORD_SCALAR)
#undef POR_RECORD_SCALAR
    void Blob(const Por::BlobType& value) override
    {
        events.push_back("Blob " + std::to_string(value.size()));
    }
    void Guid(const Por::GuidType& value) override
    {
        events.push_back("Guid " + std::to_string(value.first));
    }
    void String(const std::u16string& value) override
    {
        events.push_back("String " + std::to_string(value.size()));
    }
    void Error(const Common::Error& value) override
    {
        events.push_back("Error " + std::to_string(value.GetCode()));
    }
    void Array(const Por::View::ArrayValue& value) override
    {
        events.push_back("Array " + std::to_string(value.GetSize()));
    }
    void Composite(const Por::View::CompositeValue&) override
    {
        events.push_back("Composite");
    }

    std::vector<std::string> events;
};

// Calls the crossroad as its flags say.
class FlagGuide final : public Por::Util::TraitValueGuide
{
public:
    FlagGuide(bool value, bool descend, bool traits) : m_value(value), m_descend(descend), m_traits(traits) {}
    void Guide(Por::Util::TraitValueCrossroad& crossroad) override
    {
        if (m_value)
            crossroad.WalkValue(m_descend);
        if (m_traits)
            crossroad.WalkTraits();
    }

private:
    bool m_value;
    bool m_descend;
    bool m_traits;
};

class HierarchyWalk : public ::testing::Test
{
protected:
    std::vector<std::string> Walk(const Por::View::Unit& unit, bool value = true, bool descend = true,
                                  bool traits = true)
    {
        RecordingWalker walker;
        FlagGuide guide(value, descend, traits);
        Por::Util::WalkHierarchy(unit, guide, walker);
        return walker.events;
    }

    PorTesting::ListUnitFactory factory;
    PorTesting::Make m{factory};
};

TEST_F(HierarchyWalk, ValueFirstEventSequence)
{
    UnitPtr unit = m.With(m.Composite(m.Prop("p", m.DWord(5))), "t", m.Nil());
    EXPECT_THAT(Walk(*unit),
                ElementsAre("Begin", "Composite", "Property p", "Begin", "DWord 5", "End", "Trait t", "Begin", "Nil",
                            "End", "End"));
    EXPECT_THAT(Walk(*m.Nil()), ElementsAre("Begin", "Nil", "End"));
    EXPECT_THAT(Walk(*m.Array()), ElementsAre("Begin", "Array 0", "End"));
}

TEST_F(HierarchyWalk, ElementsAreFramedAndEveryKindHasItsEvent)
{
    UnitPtr unit = m.Array(m.Boolean(true), m.SByte(-1), m.Double(2), m.Blob({1, 2}), m.Guid({7, 0, 0, {0}}),
                           m.String(u"ab"), m.Error(Common::Success), m.With(m.Word(3), "x", m.Byte(1)));
    EXPECT_THAT(Walk(*unit),
                ElementsAre("Begin", "Array 8", "Begin", "Boolean 1", "End", "Begin", "SByte -1", "End", "Begin",
                            "Double 2.000000", "End", "Begin", "Blob 2", "End", "Begin", "Guid 7", "End", "Begin",
                            "String 2", "End", "Begin", "Error 0", "End", "Begin", "Word 3", "Trait x", "Begin",
                            "Byte 1", "End", "End", "End"));
}

TEST_F(HierarchyWalk, TheGuideDecidesWhatIsWalked)
{
    UnitPtr unit = m.With(m.Composite(m.Prop("p", m.With(m.DWord(5), "u", m.Nil()))), "t", m.Word(1));
    EXPECT_THAT(Walk(*unit, false, false, true), ElementsAre("Begin", "Trait t", "Begin", "End", "End"));
    EXPECT_THAT(Walk(*unit, true, false, false), ElementsAre("Begin", "Composite", "End"));

    RecordingWalker walker;
    FlagGuide guide(true, true, true);
    Por::Util::WalkHierarchyContent(*m.QWord(9), guide, walker);
    EXPECT_THAT(walker.events, ElementsAre("QWord 9"));
}

class ByLevel : public HierarchyWalk
{
protected:
    static constexpr int kNever = -2;

    // The Word values seen (other kinds as "-"), stopping at `stopAt`.
    std::vector<std::string> Levels(const Por::View::Unit& root, int stopAt = kNever)
    {
        std::vector<std::string> seen;
        auto processor = Por::ProcessorOf<const Por::View::Unit>([&](const Por::View::Unit& unit) {
            struct Word : Por::View::NullVisitor
            {
                using NullVisitor::Visit;
                void Visit(const Por::View::ScalarValue<unsigned short>& v) override { value = v.Get(); }
                int value = -1;
            } word;
            unit.Accept(word);
            seen.push_back(word.value < 0 ? "-" : std::to_string(word.value));
            return word.value == stopAt;
        });
        Por::ForEachUnitByLevel(root, processor);
        return seen;
    }
};

TEST_F(ByLevel, RootThenEachLevel)
{
    EXPECT_THAT(Levels(*m.Word(1)), ElementsAre("1"));
    // root {a: {c: 3}, b: 2}: root, a, b, c.
    UnitPtr tree = m.Composite(m.Prop("a", m.Composite(m.Prop("c", m.Word(3)))), m.Prop("b", m.Word(2)));
    EXPECT_THAT(Levels(*tree), ElementsAre("-", "-", "2", "3"));
    EXPECT_THAT(Levels(*m.Composite(m.Prop("a", m.Composite()))), ElementsAre("-", "-"));
    // Trait values are not part of the traversal.
    EXPECT_THAT(Levels(*m.With(m.Array(m.Word(4)), "t", m.Word(5))), ElementsAre("-", "4"));
}

TEST_F(ByLevel, TheFirstTrueAnswerEndsTheTraversal)
{
    UnitPtr tree = m.Composite(m.Prop("a", m.Array(m.Word(7), m.Word(8))), m.Prop("b", m.Array(m.Word(9))));
    EXPECT_THAT(Levels(*tree, 7), ElementsAre("-", "-", "-", "7"));
    EXPECT_THAT(Levels(*m.Array(m.Word(1))), ElementsAre("-", "1"));
    std::vector<std::string> rootOnly;
    auto stopAtRoot = Por::ProcessorOf<const Por::View::Unit>([&](const Por::View::Unit&) {
        rootOnly.push_back("root");
        return true;
    });
    Por::ForEachUnitByLevel(*tree, stopAtRoot);
    EXPECT_EQ(rootOnly.size(), 1u);
}

} // namespace
