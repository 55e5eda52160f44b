// Unit paths: escaping, the two lookups, the path walk, cutting the last step,
// putting and removing units.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/path_utils.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/test_support/thrown_errors.h"
#include "enterprise/common/por/typed_access.h"
#include "enterprise/common/por/unit_equality.h"
#include "testing/error_matchers.h"

namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using namespace Testing;
using namespace Por::Util;
using PorTesting::ErrorOf;
using PorTesting::UnitPtr;

constexpr const char* kPathUtils = "enterprise/common/por/path_utils";

class UnitPaths : public ::testing::Test
{
protected:
    // The Word value at `path`, -1 for null.
    static int WordAt(const Por::View::Unit* root, const std::u16string& path)
    {
        const Por::View::Unit* unit = FindConstUnitByPath(root, path);
        return unit ? Por::Util::GetUnitValue<unsigned short>(*unit, 0xFFFF) : -1;
    }
    static int ChangeableWordAt(Por::Construction::Unit* root, const std::u16string& path)
    {
        const Por::View::Unit* unit = FindUnitByPath(root, path);
        return unit ? Por::Util::GetUnitValue<unsigned short>(*unit, 0xFFFF) : -1;
    }

    std::unique_ptr<Por::Construction::UnitFactory> factory = Por::Construction::CreateInMemoryUnitFactory();
    PorTesting::Make m{*factory};
};

TEST_F(UnitPaths, Escaping)
{
    EXPECT_EQ(EscapeName(u"a.b^c"), u"a&d;b&r;c");
    std::u16string token = u"a&d;b&r;c";
    UnescapeName(token);
    EXPECT_EQ(token, u"a.b^c");
    EXPECT_EQ(EscapeName(u"x&d;y"), u"x&d;y");
    token = u"x&d;y";
    UnescapeName(token);
    EXPECT_EQ(token, u"x.y");
    EXPECT_EQ(MakePropertyPath(Por::Name("a.b")), u".a&d;b");
    std::u16string path = u".Options";
    AppendPropertyPath(path, "Limit");
    EXPECT_EQ(path, u".Options.Limit");
    EXPECT_EQ(MakeChildPath(u".x", "y^z"), u".x.y&r;z");
}

TEST_F(UnitPaths, Lookups)
{
    UnitPtr tree = m.Composite(
        m.Prop("a", m.With(m.Composite(m.Prop("t", m.Word(7)), m.Prop("b", m.Word(2))), "t", m.Word(5))),
        m.Prop("a..b", m.Word(3)), m.Prop(".x", m.Word(4)), m.Prop("a.b", m.Word(6)),
        m.Prop("list", m.Array(m.Word(10), m.Word(11), m.Word(12))));
    const Por::View::Unit* root = tree.get();
    struct Case
    {
        const char16_t* path;
        int constWord;        // FindConstUnitByPath
        int constructionWord; // FindUnitByPath
    };
    const Case cases[] = {
        {u".a.b", 2, 2},       {u"a.b", 2, 2}, // no leading separator
        {u".a.b.", 2, 2},      {u".a..b", 3, 3},     {u"..x", 4, 4},
        {u".a&d;b", 6, 6},     {u".a^t", 5, 7}, // a trait for the View lookup, a property for the other
        {u".list.2", 12, 12},  {u".list.x", -1, -1}, {u".list.0x1", 11, 11},
        {u".missing", -1, -1}, {u".a.b.c", -1, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WordAt(root, c.path), c.constWord) << Common::ToUtf8(c.path);
        EXPECT_EQ(ChangeableWordAt(tree.get(), c.path), c.constructionWord) << Common::ToUtf8(c.path);
    }
    EXPECT_EQ(FindConstUnitByPath(root, u""), root);
    EXPECT_EQ(FindConstUnitByPath(nullptr, u".a"), nullptr);
}

TEST_F(UnitPaths, LookupErrorsPassThrough)
{
    UnitPtr tree = m.Composite(m.Prop("list", m.Array(m.Word(10), m.Word(11), m.Word(12))),
                               m.Prop("two", m.With(m.With(m.Nil(), "t", m.Word(1)), "t", m.Word(2))));
    EXPECT_THAT(ErrorOf([&] { (void)FindConstUnitByPath(tree.get(), u".list.9"); }), ErrorIs(0xFA000F));
    // The full 64-bit index: 2^32 is past the end, not element 0.
    EXPECT_THAT(ErrorOf([&] { (void)FindConstUnitByPath(tree.get(), u".list.4294967296"); }), ErrorIs(0xFA000F));
    EXPECT_THAT(ErrorOf([&] { (void)FindConstUnitByPath(tree.get(), u".list^t"); }), ErrorIs(0xFA001D));
    EXPECT_THAT(ErrorOf([&] { (void)FindConstUnitByPath(tree.get(), u".two^t"); }), ErrorIs(0xFA001C));
}

class RecordingPathWalker final : public PathWalker
{
public:
    void OnProperty(const Por::Name& name) override { events.push_back(std::string("P:") + name.GetText()); }
    void OnTrait(const Por::Name&) override { events.push_back("T"); }
    void OnEmptyPath() override { events.push_back("Empty"); }
    std::vector<std::string> events;
};

TEST_F(UnitPaths, WalkPathEventsAndErrors)
{
    RecordingPathWalker walker;
    WalkPath(u".a..b^c.x&d;y", walker);
    EXPECT_THAT(walker.events, ElementsAre("P:a", "P:", "P:b^c", "P:x.y"));
    RecordingPathWalker empty;
    WalkPath(u"", empty);
    EXPECT_THAT(empty.events, ElementsAre("Empty"));

    RecordingPathWalker trailing;
    EXPECT_THAT(ErrorOf([&] { WalkPath(u".a.", trailing); }),
                AllOf(ErrorIs(0xFA0001), HasText(u"POR: There is an invalid separator at the end of path '.a.'."),
                      RaisedAt(kPathUtils, "AdvanceAndUnescape", 445), HasLineTag(0xbdb15d965e4d5e54ull)));
    EXPECT_THAT(trailing.events, ElementsAre("P:a"));
    EXPECT_THAT(ErrorOf([&] { WalkPath(u"..", walker); }), RaisedAt(kPathUtils, "AdvanceAndUnescape", 445));
    EXPECT_THAT(ErrorOf([&] { WalkPath(u".", walker); }),
                AllOf(ErrorIs(0xFA0001), HasText(u"POR: Unit path '.' contains an empty token."),
                      RaisedAt(kPathUtils, "WalkPath", 465), HasLineTag(0xbdb15d965e4d5e68ull)));
    EXPECT_THAT(ErrorOf([&] { WalkPath(u"a.b", walker); }),
                AllOf(ErrorIs(0xFA0001), HasText(u"POR: Beginning of unit path 'a.b' contains an incorrect symbol."),
                      RaisedAt(kPathUtils, "WalkPath", 463), HasLineTag(0xbdb15d965e4d5e66ull)));
    EXPECT_THROW(WalkPath(u"a.b", walker), Por::ModuleError);
}

TEST_F(UnitPaths, SplitLastStep)
{
    struct Case
    {
        const char16_t* path;
        const char* name;
        const char16_t* parent;
        bool trait;
    };
    const Case cases[] = {
        {u".a.b", "b", u".a", false},   {u".a^b", "b", u".a", true},
        {u".a.b.", "b.", u".a", false}, {u"a", "a", u"", false},
        {u"", "", u"", false},          {u".", "", u".", false},
        {u".a..b", "a..b", u"", false}, {u".x.a&d;b", "a.b", u".x", false},
    };
    for (const Case& c : cases) {
        std::u16string path = c.path;
        bool trait = false;
        const Por::Name name = SplitLastStep(path, &trait);
        EXPECT_STREQ(name.GetText(), c.name) << Common::ToUtf8(c.path);
        EXPECT_EQ(path, c.parent) << Common::ToUtf8(c.path);
        EXPECT_EQ(trait, c.trait) << Common::ToUtf8(c.path);
    }
}

TEST_F(UnitPaths, PutUnitInLocationCreatesCompositeSteps)
{
    UnitPtr value = m.Word(1);
    std::shared_ptr<Por::Construction::Unit> root = PutUnitInLocation(nullptr, *value, u".a.b", factory.get());
    EXPECT_TRUE(UnitsEqual(*root, *m.Composite(m.Prop("a", m.Composite(m.Prop("b", m.Word(1)))))));
    root = PutUnitInLocation(root, *m.Word(2), u".a.b", factory.get());
    root = PutUnitInLocation(root, *m.Word(3), u".a..c", factory.get());
    EXPECT_TRUE(
        UnitsEqual(*root, *m.Composite(m.Prop("a", m.Composite(m.Prop("b", m.Word(2)), m.Prop("c", m.Word(3)))))));
    std::shared_ptr<Por::Construction::Unit> copy = PutUnitInLocation(root, *m.Word(4), u"", factory.get());
    EXPECT_TRUE(UnitsEqual(*copy, *m.Word(4)));
}

TEST_F(UnitPaths, PutUnitInLocationRemovesNothingItDoesNotWrite)
{
    auto tree = [&] {
        return std::shared_ptr<Por::Construction::Unit>(
            m.Composite(m.Prop("a", m.String(u"s")), m.Prop("^t", m.Word(8)), m.Prop("t", m.Word(5)),
                        m.Prop("a..b", m.Word(6)), m.Prop("list", m.Array(m.Composite(m.Prop("x", m.Word(1)))))));
    };
    // A String step: the non-composite error, and the old value stays.
    std::shared_ptr<Por::Construction::Unit> root = tree();
    const Common::Error error = ErrorOf([&] { (void)PutUnitInLocation(root, *m.Word(9), u".a.b", factory.get()); });
    EXPECT_THAT(error,
                AllOf(ErrorIs(0xFA0001), HasText(u"POR: An internal error has occurred."),
                      RaisedAt(kPathUtils, "OnProperty", 734), HasLineTag(0xbdb15d965e4d5f75ull)));
    EXPECT_TRUE(UnitsEqual(*root, *tree()));
    // ".a..b" walks a, "", b: the property named "a..b" is not touched.
    EXPECT_THAT(ErrorOf([&] { (void)PutUnitInLocation(root, *m.Word(9), u".a..b", factory.get()); }),
                ErrorIs(0xFA0001));
    EXPECT_TRUE(UnitsEqual(*root, *tree()));
    // An array step is not walked into; the array stays.
    EXPECT_THAT(ErrorOf([&] { (void)PutUnitInLocation(root, *m.Word(9), u".list.0.x", factory.get()); }),
                ErrorIs(0xFA0001));
    EXPECT_TRUE(UnitsEqual(*root, *tree()));
    // ".^t" writes the property named "^t"; the property "t" stays.
    root = PutUnitInLocation(root, *m.Word(9), u".^t", factory.get());
    EXPECT_EQ(WordAt(root.get(), u".^t"), 9);
    EXPECT_EQ(WordAt(root.get(), u".t"), 5);
    EXPECT_EQ(Por::Util::GetUnitValue<std::u16string>(*FindConstUnitByPath(root.get(), u".a")), u"s");
    // ".a^t" writes the property "a^t" of the root; a stays.
    root = PutUnitInLocation(root, *m.Word(7), u".a^t", factory.get());
    EXPECT_EQ(ChangeableWordAt(root.get(), u".a&r;t"), 7);
    EXPECT_EQ(Por::Util::GetUnitValue<std::u16string>(*FindConstUnitByPath(root.get(), u".a")), u"s");
}

TEST_F(UnitPaths, RemoveAndBranchAndFirstLeaf)
{
    UnitPtr tree = m.Composite(m.Prop("a", m.Composite(m.Prop("x", m.Word(1)), m.Prop("y", m.Word(2)))));
    RemoveUnitByPath(tree.get(), u".a.nothing");
    RemoveUnitByPath(tree.get(), u".a.y");
    EXPECT_TRUE(UnitsEqual(*tree, *m.Composite(m.Prop("a", m.Composite(m.Prop("x", m.Word(1)))))));
    EXPECT_THAT(ErrorOf([&] { (void)CheckBranchValidity(nullptr, u".b"); }),
                AllOf(ErrorIs(0xFA001B), HasText(u"POR: Branch '.b' cannot be found."),
                      RaisedAt(kPathUtils, "CheckBranchValidity", 332), HasLineTag(0xbdb15d965e4d5de3ull)));

    EXPECT_EQ(ChangeableWordAt(Por::FindFirstLeafUnit(tree.get()), u""), 1);
    UnitPtr empty = m.Composite();
    EXPECT_EQ(Por::FindFirstLeafUnit(empty.get()), empty.get());
    UnitPtr text = m.String(u"s");
    EXPECT_EQ(Por::FindFirstLeafUnit(text.get()), text.get());
}

} // namespace
