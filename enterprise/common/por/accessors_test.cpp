// Read and read-write accessors.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "enterprise/common/por/const_data_accessor.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/path_utils.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/test_support/thrown_errors.h"
#include "enterprise/common/por/typed_access.h"
#include "enterprise/common/por/unit_accessor.h"
#include "enterprise/common/por/unit_equality.h"
#include "enterprise/common/por/view_unit_factory.h"
#include "testing/error_matchers.h"

namespace {

using ::testing::AllOf;
using namespace Testing;
using PorTesting::ErrorOf;
using PorTesting::UnitPtr;

class Accessors : public ::testing::Test
{
protected:
    std::unique_ptr<Por::Construction::UnitFactory> factory = Por::Construction::CreateInMemoryUnitFactory();
    PorTesting::Make m{*factory};
};

TEST_F(Accessors, SetThroughAChildBuildsTheRootComposite)
{
    Por::UnitAccessor record;
    EXPECT_EQ(record.GetFactory(), Por::GetViewUnitFactory());
    UnitPtr id = m.String(u"key");
    record["ID"].Set(id);
    EXPECT_NE(id, nullptr); // a non-empty path writes a copy
    EXPECT_TRUE(Por::Util::UnitsEqual(*record.Get(), *m.Composite(m.Prop("ID", m.String(u"key")))));

    record[".Options.Limit"].SetCopy(*m.DWord(2000));
    EXPECT_EQ(Por::Util::GetUnitValue<unsigned int>(*record["Options"]["Limit"].Get()), 2000u);
    EXPECT_TRUE(record["a.b"].GetPath() == u".a&d;b");
    EXPECT_TRUE(record[".a.b"].GetPath() == u".a.b");
    EXPECT_TRUE(record["^t"].GetPath() == u".^t");
}

TEST_F(Accessors, AnEmptyPathSetReplacesTheRootForEverySharer)
{
    Por::UnitAccessor root(m.Composite(m.Prop("x", m.Word(1))));
    Por::UnitAccessor child = root["x"];
    Por::UnitAccessor copy(root);
    std::shared_ptr<const Por::View::Unit> before = static_cast<const Por::ConstUnitAccessor&>(root).Get();
    UnitPtr replacement = m.Composite(m.Prop("x", m.Word(2)));
    copy.Set(replacement);
    EXPECT_EQ(replacement, nullptr); // taken over
    EXPECT_EQ(Por::Util::GetUnitValue<unsigned short>(*child.Get()), 2);
    EXPECT_EQ(Por::Util::GetUnitValue<unsigned short>(*Por::Util::FindConstUnitByPath(before.get(), u".x")), 1);
}

TEST_F(Accessors, RootsLiveAsLongAsTheLastHolder)
{
    std::weak_ptr<const Por::View::Unit> watch;
    std::shared_ptr<Por::Construction::Unit> element;
    {
        Por::UnitAccessor accessor(m.Composite(m.Prop("a", m.Array(m.Word(4)))));
        watch = static_cast<const Por::ConstUnitAccessor&>(accessor).Get();
        element = accessor[".a.0"].GetShared();
    }
    EXPECT_FALSE(watch.expired());
    EXPECT_EQ(Por::Util::GetUnitValue<unsigned short>(*element), 4);
    element.reset();
    EXPECT_TRUE(watch.expired());
}

TEST_F(Accessors, ReadsWithoutUnitsAreEmpty)
{
    Por::UnitAccessor none{UnitPtr()};
    EXPECT_EQ(none.Get(), nullptr);
    EXPECT_FALSE(none.HasUnit());
    EXPECT_EQ(none.CopyUnit(), nullptr);
    UnitPtr value = m.Word(3);
    none["a"]["b"].Set(value);
    EXPECT_TRUE(Por::Util::UnitsEqual(*none.Get(), *m.Composite(m.Prop("a", m.Composite(m.Prop("b", m.Word(3)))))));

    Por::UnitAccessor tree(m.Composite(m.Prop("a", m.With(m.Word(1), "t", m.Nil()))));
    EXPECT_EQ(tree["missing"].Get(), nullptr);
    EXPECT_EQ(tree["missing"].CopyUnit(), nullptr); // a root, but nothing at the path
    EXPECT_THAT(ErrorOf([&] { (void)tree["missing"].ResolveUnit(); }),
                AllOf(ErrorIs(0xFA0001), HasText(u"POR: Cannot access property by path '.missing'."),
                      RaisedAt("enterprise/common/por/const_unit", "UnitMissingPropertyAccess", 89),
                      HasLineTag(0xe1b1dee38a2ab984ull)));
    // The view lookup finds the trait, the construction lookup no property "t".
    EXPECT_THAT(ErrorOf([&] { (void)tree[".a^t"].GetShared(); }), ErrorIs(0xFA0001));
    EXPECT_THAT(ErrorOf([&] { (void)tree[".a^u"].GetShared(); }), ErrorIs(0xFA001D));
    UnitPtr copy = tree["a"].CopyUnit();
    EXPECT_TRUE(Por::Util::UnitsEqual(*copy, *m.With(m.Word(1), "t", m.Nil())));
}

TEST_F(Accessors, DataAccessorChains)
{
    UnitPtr tree = m.Composite(m.Prop("a", m.Composite(m.Prop("b", m.Word(1)))));
    const Por::ConstDataAccessor root(tree.get());
    EXPECT_EQ(Por::Util::GetUnitValue<unsigned short>(root.GetChild("a").GetChild("b").GetUnit()), 1);
    const Por::ConstDataAccessor missing = root.GetChild("x").GetChild("y");
    EXPECT_FALSE(missing.IsValid());
    EXPECT_STREQ(missing.GetKey().GetText(), "x");
    try {
        (void)missing.GetUnit();
        ADD_FAILURE() << "no error";
    } catch (const Por::ModuleError& error) {
        EXPECT_THAT(error,
                    AllOf(ErrorIs(0xFA0020), HasText(u"POR: Element 'x' cannot be found."),
                          RaisedAt("enterprise/common/por/const_data_accessor", "EnsureUnitIsValid", 125),
                          HasLineTag(0xa472747888eece03ull)));
    }
    const std::shared_ptr<const Por::View::Unit> owner = m.Composite();
    const Por::ConstDataAccessor owned(owner, owner.get(), Por::Name());
    EXPECT_THAT(ErrorOf([&] { (void)owned.GetChild("k").GetUnit(); }),
                AllOf(HasText(u"POR: Element 'k' cannot be found."),
                      RaisedAt("enterprise/common/por/const_data_accessor", "EnsureUnitIsValid", 122)));
    Por::ConstDataAccessor self(tree.get());
    Por::ConstDataAccessor& alias = self;
    self = std::move(alias);
    EXPECT_TRUE(self.IsValid());

    const Por::DataAccessor writable(tree.get());
    EXPECT_TRUE(writable.GetChild("a").IsValid());
    const Por::DataAccessor null(nullptr);
    EXPECT_FALSE(null.GetChild("a").IsValid());
    EXPECT_THAT(ErrorOf([&] { (void)null.GetUnit(); }),
                AllOf(ErrorIs(0xFA0016), HasText(u"POR: The array element cannot be found."),
                      RaisedAt("enterprise/common/por/data_accessor", "EnsureUnitIsValid", 70),
                      HasLineTag(0x3053184f553756d6ull)));
}

} // namespace
