#include <gtest/gtest.h>

#include <memory>

#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/map_lookup.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/typed_access.h"

namespace {

using PorTesting::UnitPtr;

class MapLookup : public ::testing::Test
{
protected:
    UnitPtr Entry(UnitPtr first, UnitPtr second)
    {
        if (!second)
            return m.Composite(m.Prop("first", std::move(first)));
        return m.Composite(m.Prop("first", std::move(first)), m.Prop("second", std::move(second)));
    }
    // The Word value found under `key`, or -1 for null.
    static int Found(const Por::View::Unit* unit, const char* key)
    {
        const Por::View::Unit* found = Por::FindMapElement(unit, Por::Name(std::string(key)));
        return found ? Por::Util::GetUnitValue<unsigned short>(*found) : -1;
    }

    std::unique_ptr<Por::Construction::UnitFactory> factory = Por::Construction::CreateInMemoryUnitFactory();
    PorTesting::Make m{*factory};
};

TEST_F(MapLookup, Table)
{
    UnitPtr composite = m.Composite(m.Prop("k", m.Word(1)), m.Prop("first", m.Word(2)));
    UnitPtr nil = m.Nil();
    UnitPtr map = m.Array(m.Nil(), Entry(m.String(u"a"), m.Word(1)), Entry(m.String(u"a"), m.Word(2)),
                          Entry(m.String(u"b"), nullptr), Entry(m.String(u"b"), m.Word(3)), Entry(m.Word(9), m.Word(4)),
                          Entry(m.String(std::u16string(u"c\0d", 3)), m.Word(5)));
    struct Case
    {
        const Por::View::Unit* unit;
        const char* key;
        int expected;
    };
    const Case cases[] = {
        {composite.get(), "k", 1},  // a property of a Composite
        {composite.get(), "x", -1}, // missing
        {map.get(), "a", 1},        // the first entry of the key
        {map.get(), "b", -1},       // the first matching entry has no "second"
        {map.get(), "", 4},         // a "first" that is no String matches the empty key
        {map.get(), "c", 5},        // compared up to the embedded NUL
        {map.get(), "k", -1},       // map rule on Arrays only, no such key
        {nil.get(), "k", -1},       // other kinds
        {nullptr, "k", -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Found(c.unit, c.key), c.expected) << c.key;

    Por::Construction::Unit* changeable = Por::FindMapElement(map.get(), "a");
    ASSERT_NE(changeable, nullptr);
    Por::Util::SetUnitValue<unsigned short>(*changeable, 7);
    EXPECT_EQ(Found(map.get(), "a"), 7);
    EXPECT_EQ(Por::FindMapElement(static_cast<Por::Construction::Unit*>(nullptr), "a"), nullptr);
}

} // namespace
