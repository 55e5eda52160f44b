#include "enterprise/common/dml/object_key.h"

#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/common/error.h"
#include "core/common/trace.h"
#include "enterprise/common/dml/dml_errors.h"
#include "enterprise/common/por/hierarchy_walk.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/test_support/render.h"
#include "enterprise/common/por/test_support/thrown_errors.h"
#include "testing/error_matchers.h"

namespace {

using PorTesting::Make;
using PorTesting::Render;
using PorTesting::UnitPtr;
using Testing::ErrorIs;
using Testing::HasText;
using Testing::RaisedAt;

const Por::Construction::UnitFactory& Factory()
{
    return *Por::Construction::GetDefaultUnitFactory();
}

struct KeyCase
{
    const char* name;
    std::function<UnitPtr(const Make&)> object;
    std::string key; // Render of the key found
};

TEST(ObjectKey, FindsTheShallowestMarker)
{
    const std::vector<KeyCase> cases = {
        {"root marked with Nil is its own key",
         [](const Make& m) { return m.With(m.Composite(m.Prop("a", m.DWord(1))), "PrimaryKey", m.Nil()); },
         "{a: DWord 1} <PrimaryKey>"},
        {"a Guid property marked with Nil",
         [](const Make& m) {
             return m.Composite(m.Prop("ID", m.With(m.Guid(Por::GuidType{7, 0, 0, {}}), "PrimaryKey", m.Nil())),
                                m.Prop("Name", m.String(u"x")));
         },
         "Guid 00000007-0000-0000-0000-000000000000 <PrimaryKey>"},
        {"a non-Nil trait value is the key itself",
         [](const Make& m) { return m.Composite(m.Prop("a", m.With(m.DWord(5), "PrimaryKey", m.String(u"the key")))); },
         "String \"the key\""},
        {"depth 1 wins over depth 2 whatever the names",
         [](const Make& m) {
             return m.Composite(m.Prop("a", m.Composite(m.Prop("deep", m.With(m.DWord(2), "PrimaryKey", m.Nil())))),
                                m.Prop("z", m.With(m.DWord(1), "PrimaryKey", m.Nil())));
         },
         "DWord 1 <PrimaryKey>"},
        {"an array element counts as one level down",
         [](const Make& m) { return m.Array(m.DWord(0), m.With(m.String(u"k"), "PrimaryKey", m.Nil())); },
         "String \"k\" <PrimaryKey>"},
        {"only the first PrimaryKey trait of a unit counts",
         [](const Make& m) { return m.With(m.With(m.DWord(3), "PrimaryKey", m.Word(1)), "PrimaryKey", m.Word(2)); },
         "Word 1"},
    };
    const Make m(Factory());
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.name);
        const UnitPtr object = c.object(m);
        const std::string before = Render(*object);
        EXPECT_EQ(Render(Dml::GetObjectKey(*object)), c.key);
        EXPECT_EQ(Render(*object), before);
    }
}

TEST(ObjectKey, TheKeyRefersIntoTheObject)
{
    const Make m(Factory());
    const UnitPtr object = m.Composite(m.Prop("ID", m.With(m.DWord(9), "PrimaryKey", m.Nil())));
    const Por::View::Unit& key = Dml::GetObjectKey(*object);
    bool inside = false;
    auto find = Por::ProcessorOf<const Por::View::Unit>([&](const Por::View::Unit& unit) {
        inside = inside || &unit == &key;
        return inside;
    });
    Por::ForEachUnitByLevel(*object, find);
    EXPECT_TRUE(inside);
}

TEST(ObjectKey, AnObjectWithoutPrimaryKeyThrows)
{
    const Make m(Factory());
    const std::vector<UnitPtr> objects = [&] {
        std::vector<UnitPtr> list;
        list.push_back(m.Composite(m.Prop("a", m.DWord(1))));
        list.push_back(m.Composite(m.Prop("Ref", m.With(m.Guid(Por::GuidType{}), "ForeignKey", m.Nil()))));
        list.push_back(m.Nil());
        return list;
    }();
    for (const UnitPtr& object : objects) {
        SCOPED_TRACE(Render(*object));
        const Common::Error error = PorTesting::ErrorOf([&] { (void)Dml::GetObjectKey(*object); });
        EXPECT_THAT(error, ErrorIs(Dml::DML_ERROR_NO_OBJECT_KEY));
        EXPECT_THAT(error, HasText(u"DML: Object identification cannot be found."));
        EXPECT_THAT(error, RaisedAt("enterprise/common/dml/get_object_key", "GetObjectKey", 99));
        EXPECT_EQ(error.GetLocation().LineTag, 0x55d767a21694367ull);
        EXPECT_EQ(error.GetIntegerParameter("TraceLevel"), 1u);
        EXPECT_FALSE(error.GetCause().GetRecord());
    }
}

struct PatternCase
{
    const char* name;
    std::function<UnitPtr(const Make&)> key;
    std::string pattern;
};

TEST(KeyPattern, MarksACopyOfTheKey)
{
    const std::vector<PatternCase> cases = {
        {"a bare Guid gets both markers",
         [](const Make& m) {
             return m.Guid(Por::GuidType{1, 2, 3, {}});
         },
         "Guid 00000001-0002-0003-0000-000000000000 <ObjectID, PrimaryKey>"},
        {"an existing PrimaryKey only gains ObjectID",
         [](const Make& m) { return m.With(m.DWord(4), "PrimaryKey", m.Nil()); }, "DWord 4 <ObjectID, PrimaryKey>"},
        {"a ForeignKey is not marked PrimaryKey",
         [](const Make& m) { return m.With(m.Composite(m.Prop("a", m.Byte(1))), "ForeignKey", m.Nil()); },
         "{a: Byte 1} <ForeignKey, ObjectID>"},
        // ObjectID is added again; the in-memory trait set keeps equal traits once.
        {"an existing ObjectID stays", [](const Make& m) { return m.With(m.DWord(4), "ObjectID", m.Nil()); },
         "DWord 4 <ObjectID, PrimaryKey>"},
        {"only the unit's own traits are looked at",
         [](const Make& m) { return m.Composite(m.Prop("ID", m.With(m.DWord(1), "PrimaryKey", m.Nil()))); },
         "{ID: DWord 1 <PrimaryKey>} <ObjectID, PrimaryKey>"},
    };
    const Make m(Factory());
    for (const PatternCase& c : cases) {
        SCOPED_TRACE(c.name);
        const UnitPtr key = c.key(m);
        const std::string before = Render(*key);
        const UnitPtr pattern = Dml::MakeKeyPattern(*key, Factory());
        EXPECT_EQ(Render(*pattern), c.pattern);
        EXPECT_EQ(Render(*key), before);
    }
}

TEST(KeyPattern, IsToldFromOtherPatternsByItsObjectIdOnly)
{
    const Make m(Factory());
    const UnitPtr key = m.With(m.DWord(4), "PrimaryKey", m.Nil());
    EXPECT_TRUE(Dml::IsKeyPattern(*Dml::MakeKeyPattern(*key, Factory())));
    EXPECT_TRUE(Dml::IsKeyPattern(*Dml::MakeKeyPattern(*m.Composite(), Factory())));
    EXPECT_FALSE(Dml::IsKeyPattern(*key));
    EXPECT_FALSE(Dml::IsKeyPattern(*m.Composite(m.Prop("ID", m.With(m.DWord(4), "ObjectID", m.Nil())))));
    EXPECT_FALSE(Dml::IsKeyPattern(*m.Nil()));
}

} // namespace
