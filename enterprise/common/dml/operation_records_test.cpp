#include "enterprise/common/dml/operation_records.h"

#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "enterprise/common/dml/object_key.h"
#include "enterprise/common/dml/set_unit_property.h"
#include "enterprise/common/por/dynamic_construction.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/test_support/render.h"
#include "enterprise/common/por/typed_access.h"
#include "enterprise/common/por/unit_equality.h"
#include "enterprise/common/por/utils.h"

namespace {

using PorTesting::Make;
using PorTesting::Render;
using PorTesting::UnitPtr;
namespace Op = Dml::Operation;

Por::Construction::UnitFactory* Factory()
{
    return Por::Construction::GetDefaultUnitFactory();
}

constexpr const char* kIdPlaceholder = "ID: Guid 00000000-0000-0000-0000-000000000000 <Nil, PrimaryKey>";
constexpr const char* kDefinitionIs = "Is=String \"Dml::Operation::Definition\"";

struct ClassCase
{
    const char* name;
    std::function<std::unique_ptr<Op::Definition>()> make;
    const Por::Construction::Unit* (*defaultUnit)();
    std::string properties; // after "ID"
};

template <typename T>
ClassCase Case(const char* name, std::string properties)
{
    return {name, [] { return std::make_unique<T>(Factory(), nullptr); }, &T::GetDefaultUnit, std::move(properties)};
}

TEST(OperationRecords, EachClassBuildsItsUnitAndSharesOneDefaultUnit)
{
    const std::string nil = ": Nil <Nil>";
    const std::vector<ClassCase> cases = {
        Case<Op::CreateObject>("CreateObject", ", Object" + nil),
        Case<Op::UpdateObject>("UpdateObject", ", Key" + nil + ", Patch" + nil),
        Case<Op::DeleteObject>("DeleteObject", ", Key" + nil),
        Case<Op::UpdateByPattern>("UpdateByPattern", ", Patch" + nil + ", Pattern" + nil),
        Case<Op::DeleteByPattern>("DeleteByPattern", ", Options" + nil + ", Pattern" + nil),
        Case<Op::StoreOrUpdate>("StoreOrUpdate", ", Object" + nil),
        Case<Op::StoreOrConsolidate>("StoreOrConsolidate", ", Object" + nil),
        Case<Op::CreateIfNotExist>("CreateIfNotExist", ", Object" + nil),
        Case<Op::ConsolidateIfExists>("ConsolidateIfExists", ", Object" + nil),
        Case<Op::BatchOperation>("BatchOperation", ", Operations: [] <Nil>"),
    };
    for (const ClassCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::unique_ptr<Op::Definition> record = c.make();
        // The trait set orders traits of one name by their values.
        std::string own = std::string("Is=String \"Dml::Operation::") + c.name + "\"";
        std::string definition = kDefinitionIs;
        if (own < definition)
            std::swap(own, definition);
        const std::string expected = std::string("{") + kIdPlaceholder + c.properties + "} <" + definition + ", " +
            own + ">";
        EXPECT_EQ(Render(*record->Branch()), expected);
        EXPECT_EQ(c.defaultUnit(), c.defaultUnit());
        EXPECT_EQ(record->DefaultValue(), c.defaultUnit());
        EXPECT_TRUE(Por::Util::UnitsEqual(*record->DefaultValue(), *record->Branch()));
        const std::u16string className = u"Dml::Operation::" + std::u16string(c.name, c.name + strlen(c.name));
        EXPECT_NE(Por::FindDynamicConstruction(className), nullptr);
    }
    const Op::Definition definition(Factory(), nullptr);
    EXPECT_EQ(Render(*definition.Branch()), std::string("{") + kIdPlaceholder + "} <" + kDefinitionIs + ">");
    EXPECT_EQ(definition.DefaultValue(), Op::Definition::GetDefaultUnit());
    EXPECT_NE(Op::Definition::GetDefaultUnit(), Op::DeleteByPattern::GetDefaultUnit());
}

TEST(OperationRecords, SettingTheIdDropsOnlyTheNilMarker)
{
    Op::Definition record(Factory(), nullptr);
    const Common::Guid id{0x11223344, 0x5566, 0x4788, {0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00}};
    record.SetID(id);
    EXPECT_EQ(Render(*record.Branch()),
              std::string("{ID: Guid 11223344-5566-4788-99AA-BBCCDDEEFF00 <PrimaryKey>} <") + kDefinitionIs + ">");
    EXPECT_EQ(&Dml::GetObjectKey(*record.Branch()), &Por::Util::FindConstProperty(*record.Branch(), "ID")->GetValue());
}

// A delete-by-pattern unit with its random ID replaced by a fixed text.
std::string RenderWithoutId(const Por::View::Unit& unit)
{
    const std::string text = Render(unit);
    const std::string::size_type id = text.find("ID: Guid ");
    return text.substr(0, id + 9) + "<id>" + text.substr(id + 9 + 36);
}

Dml::ViewSpec Spec(UnitPtr pattern, UnitPtr options)
{
    Dml::ViewSpec spec;
    spec.Pattern = std::shared_ptr<const Por::View::Unit>(std::move(pattern));
    spec.Options = std::shared_ptr<const Por::View::Unit>(std::move(options));
    return spec;
}

TEST(OperationFactory, ADeleteByPatternUnitCarriesCopiesOfTheSpecAndTheTypesOfThePattern)
{
    const Make m(*Factory());
    struct Row
    {
        const char* name;
        Dml::ViewSpec spec;
        std::string expected;
    };
    const std::string is = std::string(" <") + kDefinitionIs + ", Is=String \"Dml::Operation::DeleteByPattern\"";
    std::vector<Row> rows;
    rows.push_back({"no options, no Is", Spec(m.Composite(m.Prop("a", m.DWord(1))), nullptr),
                    "{ID: Guid <id> <PrimaryKey>, Options: Nil <Nil>, Pattern: {a: DWord 1}}" + is + ">"});
    rows.push_back({"options and Is traits: duplicates collapse, a non-String reads empty, deeper ones do not count",
                    Spec(m.With(m.With(m.With(m.With(m.Composite(m.Prop("p", m.With(m.Nil(), "Is", m.String(u"Deep")))),
                                                     "Is", m.String(u"B")),
                                              "Is", m.String(u"A")),
                                       "Is", m.String(u"B")),
                                "Is", m.DWord(3)),
                         m.Composite(m.Prop("LimitOptions", m.DWord(100)))),
                    "{ID: Guid <id> <PrimaryKey>, Options: {LimitOptions: DWord 100}, Pattern: {p: Nil <Is=String "
                    "\"Deep\">} <Is=DWord 3, Is=String \"A\", Is=String \"B\">}" +
                        is + ", Type=String \"\", Type=String \"A\", Type=String \"B\">"});
    rows.push_back({"a Nil trait of the pattern is copied like any other",
                    Spec(m.With(m.DWord(2), "Nil", m.Nil()), nullptr),
                    "{ID: Guid <id> <PrimaryKey>, Options: Nil <Nil>, Pattern: DWord 2 <Nil>}" + is + ">"});

    const Op::OperationFactory operations(Factory());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::shared_ptr<const Por::View::Unit> unit = operations.MakeDeleteByPattern(row.spec);
        EXPECT_EQ(RenderWithoutId(*unit), row.expected);
    }
}

TEST(OperationFactory, EachUnitHasItsOwnIdAndOwnCopies)
{
    const Make m(*Factory());
    const Dml::ViewSpec spec = Spec(m.Composite(m.Prop("a", m.DWord(1))), nullptr);
    const Op::OperationFactory operations(Factory());
    const std::shared_ptr<const Por::View::Unit> first = operations.MakeDeleteByPattern(spec);
    const std::shared_ptr<const Por::View::Unit> second = operations.MakeDeleteByPattern(spec);
    EXPECT_NE(Render(*first), Render(*second));
    EXPECT_EQ(RenderWithoutId(*first), RenderWithoutId(*second));
    const Por::GuidType& id = Por::Util::GetUnitValue<Por::GuidType>(Dml::GetObjectKey(*first));
    EXPECT_EQ(id.third >> 12, 4);

    // Changing the view specification's pattern afterwards leaves the unit as made.
    Por::Util::SetUnitValue<unsigned int>(
        const_cast<Por::Construction::Unit&>(
            static_cast<const Por::Construction::Unit&>(Por::Util::FindConstProperty(*spec.Pattern, "a")->GetValue())),
        9u);
    EXPECT_THAT(Render(*first), testing::HasSubstr("Pattern: {a: DWord 1}"));
}

TEST(OperationClasses, ARecordIsOfEveryClassOfItsChainOnly)
{
    const Op::CreateObject create(Factory(), nullptr);
    const Op::DeleteByPattern deleteByPattern(Factory(), nullptr);
    const Op::Definition definition(Factory(), nullptr);
    EXPECT_TRUE(Op::IsOfClass(*create.Branch(), Op::Definition::ClassName));
    EXPECT_TRUE(Op::IsOfClass(*create.Branch(), Op::CreateObject::ClassName));
    EXPECT_FALSE(Op::IsOfClass(*create.Branch(), Op::DeleteByPattern::ClassName));
    EXPECT_TRUE(Op::IsOfClass(*deleteByPattern.Branch(), Op::DeleteByPattern::ClassName));
    EXPECT_TRUE(Op::IsOfClass(*definition.Branch(), Op::Definition::ClassName));
    EXPECT_FALSE(Op::IsOfClass(*definition.Branch(), Op::DeleteByPattern::ClassName));

    const Make m(*Factory());
    EXPECT_FALSE(Op::IsOfClass(*m.Composite(m.Prop("ID", m.DWord(1))), Op::Definition::ClassName));
    EXPECT_FALSE(Op::IsOfClass(*m.With(m.Composite(), "Type", m.String(u"Dml::Operation::Definition")),
                               Op::Definition::ClassName));
    EXPECT_FALSE(
        Op::IsOfClass(*m.Composite(m.Prop("p", m.With(m.Nil(), "Is", m.String(u"Dml::Operation::Definition")))),
                      Op::Definition::ClassName))
        << "only the unit's own traits count";
}

TEST(DeleteByPatternRecord, ReadsBackWhatWasSetAndNothingForAPlaceholder)
{
    const Make m(*Factory());
    const Op::OperationFactory operations(Factory());
    struct Row
    {
        const char* name;
        Dml::ViewSpec spec;
        std::string pattern; // rendered; empty: none
        std::string options;
    };
    std::vector<Row> rows;
    rows.push_back({"pattern and options",
                    Spec(m.Composite(m.Prop("a", m.DWord(1))), m.Composite(m.Prop("LimitOptions", m.DWord(100)))),
                    "{a: DWord 1}", "{LimitOptions: DWord 100}"});
    rows.push_back({"no options", Spec(m.Composite(m.Prop("a", m.DWord(1))), nullptr), "{a: DWord 1}", ""});
    rows.push_back({"a Nil pattern selects everything", Spec(m.Nil(), nullptr), "Nil", ""});
    rows.push_back({"a Nil trait on another kind is no placeholder", Spec(m.With(m.DWord(2), "Nil", m.Nil()), nullptr),
                    "DWord 2 <Nil>", ""});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::shared_ptr<const Por::View::Unit> unit = operations.MakeDeleteByPattern(row.spec);
        const Por::View::Unit* pattern = Op::DeleteByPattern::GetPattern(*unit);
        const Por::View::Unit* options = Op::DeleteByPattern::GetOptions(*unit);
        EXPECT_EQ(pattern ? Render(*pattern) : "", row.pattern);
        EXPECT_EQ(options ? Render(*options) : "", row.options);
    }

    const Op::DeleteByPattern unset(Factory(), nullptr);
    EXPECT_EQ(Op::DeleteByPattern::GetPattern(*unset.Branch()), nullptr);
    EXPECT_EQ(Op::DeleteByPattern::GetOptions(*unset.Branch()), nullptr);
    EXPECT_EQ(Op::DeleteByPattern::GetPattern(*m.Composite()), nullptr);
}

TEST(SetUnitProperty, KeepsTheOldValuesOtherTraitsThatTheNewOneLacks)
{
    const Make m(*Factory());
    struct Row
    {
        const char* name;
        std::function<UnitPtr()> target;
        std::function<UnitPtr()> value; // null: no value
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"IsEmpty and ptr_mark stay behind",
         [&] {
             return m.Composite(m.Prop(
                 "p", m.With(m.With(m.With(m.DWord(1), "IsEmpty", m.Nil()), "ptr_mark", m.Nil()), "Keep", m.Byte(1))));
         },
         [&] { return m.String(u"new"); }, "{p: String \"new\" <Keep=Byte 1>}"},
        {"an equal trait of the new value is not doubled",
         [&] { return m.Composite(m.Prop("p", m.With(m.DWord(1), "Keep", m.Byte(1)))); },
         [&] { return m.With(m.DWord(2), "Keep", m.Byte(1)); }, "{p: DWord 2 <Keep=Byte 1>}"},
        {"no old property", [&] { return m.Composite(m.Prop("q", m.Nil())); }, [&] { return m.DWord(5); },
         "{p: DWord 5, q: Nil}"},
        {"a null value stores an empty Composite", [&] { return m.Composite(); }, nullptr, "{p: {}}"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        UnitPtr target = row.target();
        const UnitPtr value = row.value ? row.value() : nullptr;
        Por::SetUnitProperty(value.get(), *target, "p", *Factory());
        EXPECT_EQ(Render(*target), row.expected);
    }
}

} // namespace
