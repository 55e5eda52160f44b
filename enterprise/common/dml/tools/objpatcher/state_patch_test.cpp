// The patch of the state update: the diff towards the object with the state
// merged in.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "enterprise/common/dml/tools/objpatcher/state_patch.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/test_support/render.h"
#include "enterprise/common/por/unit_equality.h"
#include "testing/error_matchers.h"

namespace {

using namespace Objpatcher;
using PorTesting::Render;
using PorTesting::UnitPtr;

const Por::Construction::InMemoryUnitFactory kFactory;
const PorTesting::Make m(kFactory);

UnitPtr Object()
{
    return m.Composite(m.Prop("ID", m.With(m.DWord(5), "PrimaryKey", m.Nil())), m.Prop("Size", m.DWord(1)),
                       m.Prop("Name", m.String(u"a")));
}

TEST(StatePatch, HoldsOnlyWhatTheStateChanges)
{
    const UnitPtr object = Object();
    const auto patch = MakeStatePatch(*object, *m.Composite(m.Prop("Size", m.DWord(2)), m.Prop("Name", m.String(u"a"))),
                                      kFactory);
    ASSERT_TRUE(patch);
    EXPECT_EQ(Render(*patch), "{Size: DWord 2} <PackedDiff>");
    EXPECT_EQ(Render(*object), Render(*Object())); // the object is only read
}

TEST(StatePatch, AddsNewPropertiesAsAdded)
{
    const auto patch = MakeStatePatch(*Object(), *m.Composite(m.Prop("Color", m.String(u"red"))), kFactory);
    EXPECT_EQ(Render(*patch), "{Color: String \"red\" <Added>} <PackedDiff>");
}

TEST(StatePatch, AStateTheObjectAlreadyHasGivesTheEmptyDiff)
{
    const UnitPtr states[] = {m.Composite(m.Prop("Size", m.DWord(1))), m.Composite()};
    for (const UnitPtr& state : states) {
        const auto patch = MakeStatePatch(*Object(), *state, kFactory);
        EXPECT_EQ(Render(*patch), "Nil <EmptyDiff, PackedDiff>");
    }
}

TEST(StatePatch, AStateThatDoesNotFitTheObjectIsThrown)
{
    try {
        (void)MakeStatePatch(*Object(), *m.Array(m.DWord(1)), kFactory);
        FAIL() << "no error";
    } catch (const Common::Error& error) {
        EXPECT_THAT(error, Testing::ErrorIs(0xFA0011u));
    }
}

} // namespace
