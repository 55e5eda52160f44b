// The unit utilities, through in-memory units.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/typed_access.h"
#include "enterprise/common/por/unit_equality.h"
#include "enterprise/common/por/utils.h"
#include "testing/error_matchers.h"

namespace {

using ::testing::AllOf;
using namespace Testing;
using namespace Por::Util;
using PorTesting::UnitPtr;

constexpr const char* kUtils = "enterprise/common/por/utils";

class Utils : public ::testing::Test
{
protected:
    // The ModuleError `call` throws.
    template <typename Call>
    static Common::Error ModuleErrorOf(Call call)
    {
        try {
            call();
        } catch (const Por::ModuleError& error) {
            return error;
        }
        ADD_FAILURE() << "no Por::ModuleError";
        return Common::Success;
    }

    std::unique_ptr<Por::Construction::UnitFactory> factory = Por::Construction::CreateInMemoryUnitFactory();
    PorTesting::Make m{*factory};
};

TEST_F(Utils, TraitQueries)
{
    UnitPtr unit = m.With(m.With(m.Nil(), "A", m.With(m.Word(1), "X", m.Nil())), "B", m.Word(2));
    EXPECT_TRUE(HasTraits(*unit));
    EXPECT_TRUE(HasTrait(*unit, "A"));
    EXPECT_FALSE(HasTrait(*unit, "C"));
    EXPECT_TRUE(HasTraitWithValue(*unit, "A", *m.Word(1))); // the values' traits are not compared
    EXPECT_FALSE(HasTraitWithValue(*unit, "A", *m.Word(2)));
    EXPECT_EQ(GetUnitValue<unsigned short>(GetUniqueTraitByName(*unit, "B")), 2);
}

TEST_F(Utils, UniqueTraitErrors)
{
    UnitPtr twice = m.With(m.With(m.Nil(), "A", m.Word(1)), "A", m.Word(2));
    EXPECT_THAT(ModuleErrorOf([&] { (void)GetUniqueTraitByName(*twice, "A"); }),
                AllOf(ErrorIs(0xFA001C), HasText(u"POR: Trait 'A' is not unique."), RaisedAt(kUtils, "Process", 117),
                      HasLineTag(0xA6FE40D1C337F202ull)));
    const Common::Error missing = ModuleErrorOf(
        [&] { (void)GetUniqueTraitByName(*twice, Por::Name(std::string("Z"))); });
    EXPECT_THAT(missing,
                AllOf(ErrorIs(0xFA001D), HasText(u"POR: Trait 'Z' cannot be found."),
                      RaisedAt(kUtils, "GetUniqueTraitByName", 845), HasLineTag(0xA6FE40D1C337F4DAull)));
    EXPECT_STREQ(missing.GetParameterNames(), "$module");
}

TEST_F(Utils, TraitChanges)
{
    UnitPtr unit = m.Nil();
    AddTrait(*unit, "A", m.Word(1), *factory);
    AddTrait(*unit, "A", m.Word(2), *factory); // names may repeat
    AddNilTrait(*unit, "A", *factory);
    EXPECT_EQ(RemoveTrait(*unit, "A"), 3u);
    EXPECT_FALSE(HasTraits(*unit));

    UnitPtr source = m.With(m.With(m.Nil(), "A", m.Word(1)), "A", m.Word(1));
    UnitPtr target = m.With(m.Nil(), "A", m.Word(1));
    ApplyMissingSourceTraits(*source, *target, *factory);
    EXPECT_TRUE(UnitsEqual(*target, *m.With(m.Nil(), "A", m.Word(1))));
    UnitPtr empty = m.Nil();
    ApplyMissingSourceTraits(*source, *empty, *factory);
    EXPECT_TRUE(UnitsEqual(*empty, *m.With(m.Nil(), "A", m.Word(1))));
    UnitPtr all = m.Nil();
    ApplySourceTraits(*m.With(m.With(m.Nil(), "A", m.Word(1)), "B", m.Word(2)), *all, *factory);
    EXPECT_TRUE(UnitsEqual(*all, *m.With(m.With(m.Nil(), "B", m.Word(2)), "A", m.Word(1))));
}

TEST_F(Utils, TraitOnAProperty)
{
    UnitPtr unit = m.Composite(m.Prop("p", m.Word(1)));
    AddTraitToProperty(*unit, "p", "Marked", *factory);
    EXPECT_TRUE(HasTrait(FindConstProperty(*unit, "p")->GetValue(), "Marked"));

    UnitPtr before = m.Composite(m.Prop("p", m.Word(1)));
    EXPECT_THAT(ModuleErrorOf([&] { AddTraitToProperty(*before, "q", "Marked", *factory); }),
                AllOf(ErrorIs(0xFA000D), HasText(u"POR: Property 'q' cannot be found."), RaisedAt(kUtils, "Visit", 341),
                      HasLineTag(0xA6FE40D1C337F2E2ull)));
    EXPECT_TRUE(UnitsEqual(*before, *m.Composite(m.Prop("p", m.Word(1)))));
    EXPECT_THROW(AddTraitToProperty(*m.Array(), "p", "Marked", *factory), Common::Error);
}

TEST_F(Utils, PropertyQueries)
{
    UnitPtr unit = m.Composite(m.Prop("a", m.Word(1)));
    EXPECT_TRUE(HasProperties(*unit));
    EXPECT_FALSE(HasProperties(*m.Composite()));
    EXPECT_FALSE(HasProperties(*m.Array(m.Word(1))));
    EXPECT_TRUE(HasProperty(*unit, "a"));
    EXPECT_FALSE(HasProperty(*unit, "b"));
    EXPECT_THROW((void)HasProperty(*m.Array(), "a"), Common::Error);
    EXPECT_EQ(&GetProperty(*unit, "a"), FindProperty(*unit, "a"));
    EXPECT_EQ(FindProperty(*unit, "b"), nullptr);
    EXPECT_THAT(ModuleErrorOf([&] { (void)GetProperty(*unit, Por::Name(std::string("missing"))); }),
                AllOf(ErrorIs(0xFA000D), HasText(u"POR: Property 'missing' cannot be found."),
                      RaisedAt(kUtils, "CheckPropertyValidity", 660), HasLineTag(0xA6FE40D1C337F421ull)));

    size_t seen = 0;
    auto count = Por::ProcessorOf<Por::Construction::Property>([&](Por::Construction::Property&) {
        ++seen;
        return false;
    });
    EnumerateProperties(*m.Composite(m.Prop("x", m.Nil()), m.Prop("y", m.Nil())), count);
    ForEachProperty(*m.String(u"not a composite"), count);
    EXPECT_EQ(seen, 2u);
}

TEST_F(Utils, PropertyChanges)
{
    UnitPtr unit = m.Composite(m.Prop("a", m.Word(1)));
    AddProperty(*unit, "a", m.Word(2), *factory); // replaces
    AddPropertyCopy(*unit, "b", *m.With(m.Word(3), "T", m.Nil()), *factory);
    EXPECT_TRUE(UnitsEqual(*unit, *m.Composite(m.Prop("a", m.Word(2)), m.Prop("b", m.With(m.Word(3), "T", m.Nil())))));
    RemoveProperty(*unit, "b");
    RemoveProperty(*unit, "never there");
    EXPECT_TRUE(UnitsEqual(*unit, *m.Composite(m.Prop("a", m.Word(2)))));

    UnitPtr value = m.Composite(m.Prop("deep", m.String(u"destroyed, not leaked")));
    UnitPtr text = m.String(u"x");
    EXPECT_THROW(AddProperty(*text, "p", std::move(value), *factory), Common::Error);
    EXPECT_EQ(value, nullptr);
    EXPECT_THROW(RemoveProperty(*text, "p"), Common::Error);
}

TEST_F(Utils, KindsAndCopies)
{
    EXPECT_TRUE(IsArray(*m.Array()));
    EXPECT_FALSE(IsArray(*m.Composite()));
    EXPECT_TRUE(IsComposite(*m.Composite()));
    EXPECT_TRUE(HaveSameValueType(*m.Word(1), *m.Word(9)));
    EXPECT_FALSE(HaveSameValueType(*m.Word(1), *m.DWord(1)));
    EXPECT_TRUE(IsSearchableArray(*m.With(m.Array(), "Searchable", m.Nil())));
    EXPECT_FALSE(IsSearchableArray(*m.With(m.Composite(), "Searchable", m.Nil())));
    EXPECT_FALSE(IsSearchableArray(*m.Array()));

    EXPECT_TRUE(UnitsEqual(*CopyAsComposite(nullptr, *factory), *m.Composite()));
    std::shared_ptr<const Por::View::Unit> composite = m.Composite(m.Prop("a", m.Word(1)));
    EXPECT_TRUE(UnitsEqual(*CopyAsComposite(composite, *factory), *composite));
    std::shared_ptr<const Por::View::Unit> array = m.Array();
    EXPECT_THAT(ModuleErrorOf([&] { (void)CopyAsComposite(array, *factory); }),
                AllOf(ErrorIs(0xFA000A),
                      HasText(u"POR: There is a mismatch in object internal structure. Expected "
                              u"object type is 'composite', actual object type is 'array'.")));
}

} // namespace
