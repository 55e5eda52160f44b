#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "core/common/location.h"
#include "enterprise/common/por/dynamic_construction.h"
#include "enterprise/common/por/header_names.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/plain_object.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/unit_equality.h"
#include "enterprise/common/por/utils.h"
#include "testing/error_matchers.h"

namespace {

using ::testing::AllOf;
using namespace Testing;
using PorTesting::UnitPtr;

constexpr const char* kPlainObject = "enterprise/common/por/plain_object";

// The Common::Error `call` throws; fails when it is a Por::ModuleError.
template <typename Call>
Common::Error PlainErrorOf(Call call)
{
    try {
        call();
    } catch (const Por::ModuleError&) {
        ADD_FAILURE() << "a Por::ModuleError";
    } catch (const Common::Error& error) {
        return error;
    }
    ADD_FAILURE() << "nothing thrown";
    return Common::Success;
}

class PlainObjects : public ::testing::Test
{
protected:
    std::unique_ptr<Por::Construction::UnitFactory> factory = Por::Construction::CreateInMemoryUnitFactory();
    PorTesting::Make m{*factory};
};

TEST_F(PlainObjects, TheDefaultHandlerThrows)
{
    const Por::ObjectContext context(m.Composite(), factory.get(), nullptr);
    const Por::BaseObject object(context);
    Por::ErrorHandler& handler = object.GetErrorHandler();
    EXPECT_EQ(&handler, &Por::GetThrowingErrorHandler());
    EXPECT_THAT(PlainErrorOf([&] { handler.PropertyNotFound(Por::Name(std::string("size"))); }),
                AllOf(ErrorIs(0xFA000D), HasText(u"POR: Property 'size' cannot be found."),
                      RaisedAt(kPlainObject, "PropertyNotFound", 52), HasLineTag(0xb28c8ae39d242300ull)));
    EXPECT_THAT(PlainErrorOf([&] { handler.PropertyTypeMismatch("size", 6, 13); }),
                AllOf(ErrorIs(0xFA000A),
                      HasText(u"POR: There is a mismatch in object property 'size'. Expected "
                              u"property type is 'dword', actual property type is 'string'.")));
    const Common::Error cause(0x40002, Common::SourceFile("x").At("f", 1));
    EXPECT_THAT(PlainErrorOf([&] { handler.PropertyProcessingError("size", cause); }),
                AllOf(ErrorIs(0xFA0001), HasText(u"POR: Property 'size' processing error has occurred."),
                      RaisedAt(kPlainObject, "PropertyProcessingError", 62), CausedBy(ErrorIs(0x40002))));
}

TEST_F(PlainObjects, CloneAndDefaultValue)
{
    UnitPtr clone;
    const Por::Construction::Unit* defaultUnit = nullptr;
    {
        const Por::ObjectContext context(m.Composite(m.Prop("a", m.Word(1))), factory.get(), nullptr);
        Por::BaseObject object(context);
        clone = object.CloneUnit();
        Por::Util::AddProperty(*clone, "b", m.Nil(), *factory);
        EXPECT_TRUE(Por::Util::UnitsEqual(*object.Branch(), *m.Composite(m.Prop("a", m.Word(1)))));
        EXPECT_THAT(PlainErrorOf([&] { (void)object.DefaultValue(); }),
                    AllOf(ErrorIs(0xFA0001), HasText(u"POR: An internal error has occurred."),
                          RaisedAt(kPlainObject, "DefaultValue", 330), HasLineTag(0xb28c8ae39d242416ull)));
        object.SetDefaultValueProvider(
            [](const Por::BaseObject& self) -> const Por::Construction::Unit* { return self.Branch(); });
        defaultUnit = object.DefaultValue();
        EXPECT_EQ(defaultUnit, object.Branch());
    }
    EXPECT_TRUE(Por::Util::UnitsEqual(*clone, *m.Composite(m.Prop("a", m.Word(1)), m.Prop("b", m.Nil()))));

    const Por::ObjectContext empty(nullptr, nullptr, nullptr);
    const Por::BaseObject unset(empty);
    EXPECT_THAT(PlainErrorOf([&] { (void)unset.CloneUnit(); }),
                AllOf(ErrorIs(0xFA0001), HasText(u"POR: There was an attempt to access an uninitialized object."),
                      RaisedAt(kPlainObject, "Factory", 245), HasLineTag(0xb28c8ae39d2423c1ull)));
    const Por::ObjectContext noBranch(nullptr, factory.get(), nullptr);
    EXPECT_THAT(PlainErrorOf([&] { (void)Por::BaseObject(noBranch).CloneUnit(); }),
                AllOf(RaisedAt(kPlainObject, "Branch", 252), HasLineTag(0xb28c8ae39d2423c8ull)));
}

TEST_F(PlainObjects, TheLastObjectReleasesTheTree)
{
    std::weak_ptr<Por::Construction::Unit> watch;
    {
        const Por::ObjectContext context(m.Composite(), factory.get(), nullptr);
        watch = context.root;
        auto first = std::make_unique<Por::BaseObject>(context);
        {
            const Por::BaseObject second(context);
        }
        EXPECT_FALSE(watch.expired());
        first.reset();
        EXPECT_FALSE(watch.expired()); // the context still holds a share
    }
    EXPECT_TRUE(watch.expired());
}

TEST_F(PlainObjects, ClearNilMarker)
{
    UnitPtr unit = m.Composite(
        m.Prop("p", m.With(m.With(m.With(m.Word(1), "Nil", m.Nil()), "Nil", m.Boolean(true)), "Other", m.Nil())));
    Por::ClearNilMarker(*unit, "p");
    EXPECT_TRUE(Por::Util::UnitsEqual(*unit, *m.Composite(m.Prop("p", m.With(m.Word(1), "Other", m.Nil())))));
    Por::ClearNilMarker(*unit, "missing");
    EXPECT_THROW(Por::ClearNilMarker(*m.Array(), "p"), Common::Error);
}

Por::Util::UnitConstructor FirstBuilder(Por::Util::UnitConstructor c)
{
    return c.Byte(1);
}
Por::Util::UnitConstructor SecondBuilder(Por::Util::UnitConstructor c)
{
    return c.Byte(2);
}

TEST(DynamicConstruction, RegisteringANameAgainKeepsTheSecondBuilder)
{
    EXPECT_EQ(Por::FindDynamicConstruction(u"Dml::Operation::Test"), nullptr);
    Por::RegisterDynamicConstruction(u"Dml::Operation::Test", &FirstBuilder);
    Por::RegisterDynamicConstruction(u"Dml::Operation::Test", &SecondBuilder);
    Por::RegisterDynamicConstruction(u"dml::operation::test", &FirstBuilder);
    EXPECT_EQ(Por::FindDynamicConstruction(u"Dml::Operation::Test"), &SecondBuilder);
    EXPECT_EQ(Por::FindDynamicConstruction(u"dml::operation::test"), &FirstBuilder);
}

TEST(HeaderNames, EqualToLiteralNamesWithHashZero)
{
    EXPECT_TRUE(Por::kChannelIdName == Por::Name("ChannelID"));
    EXPECT_TRUE(Por::kTimeNowOffsetName == Por::Name("TimeNowOffset"));
    EXPECT_EQ(Por::kChannelErrorName.GetHash(), 0u);
    EXPECT_TRUE(Por::kChannelErrorName.OwnsText());
}

} // namespace
