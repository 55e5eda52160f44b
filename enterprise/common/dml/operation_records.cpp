#include "enterprise/common/dml/operation_records.h"

#include <set>

#include "core/common/text_conversion.h"
#include "enterprise/common/dml/set_unit_property.h"
#include "enterprise/common/por/dynamic_construction.h"
#include "enterprise/common/por/typed_access.h"
#include "enterprise/common/por/utils.h"
#include "enterprise/common/por/value_type_index.h"

namespace Dml::Operation {
namespace {

// One UTF-16 unit per byte of the ASCII class name.
std::u16string MakeClassName(const char* name)
{
    const std::unique_ptr<char16_t[]> wide(Common::WidenCString(name));
    return std::u16string(wide.get());
}

// The root unit of a new record of the class that `construct` builds.
std::unique_ptr<Por::Construction::Unit>
BuildRecordUnit(Por::Construction::UnitFactory* factory,
                Por::Util::UnitConstructor (*construct)(Por::Util::UnitConstructor))
{
    return construct(Por::Util::UnitConstructor(*factory).Composite()).End().GetUnit();
}

// The value of the property `name` of a record, unless it is missing or still
// the placeholder its class wrote (a Nil carrying "Nil").
const Por::View::Unit* GetSetProperty(const Por::View::Unit& record, const Por::Name& name)
{
    const Por::View::Property* property = Por::Util::FindConstProperty(record, name);
    if (!property)
        return nullptr;
    const Por::View::Unit& value = property->GetValue();
    const bool placeholder = Por::Util::GetValueTypeIndex(value) == static_cast<int>(Por::ValueKind::Nil) &&
        Por::Util::HasTrait(value, "Nil");
    return placeholder ? nullptr : &value;
}

const Por::Construction::Unit* ProvideDefinitionDefault(const Por::BaseObject&)
{
    return Definition::GetDefaultUnit();
}

Por::Util::StaticInstance<Por::Construction::Unit> g_definitionDefault{&Definition::MakeDefaultUnit};

} // namespace

// Definition.

const std::u16string Definition::ClassName = MakeClassName("Dml::Operation::Definition");

Definition::Definition(Por::Construction::UnitFactory* factory, Por::ErrorHandler* handler)
    : Definition(factory, handler, &Definition::Construct, &ProvideDefinitionDefault)
{
}

Definition::Definition(Por::Construction::UnitFactory* factory, Por::ErrorHandler* handler, Builder construct,
                       Por::DefaultValueProvider provider)
    : Por::BaseObject(Por::ObjectContext(BuildRecordUnit(factory, construct), factory, handler))
{
    SetDefaultValueProvider(provider);
}

const Por::Construction::Unit* Definition::DefaultValue() const
{
    return GetDefaultUnit();
}

Por::Util::UnitConstructor Definition::Construct(Por::Util::UnitConstructor constructor)
{
    return constructor.Trait("Is")
        .String(ClassName)
        .End()
        .Property("ID")
        .Guid(Common::Guid{})
        .Trait("Nil")
        .Nil()
        .End()
        .Trait("PrimaryKey")
        .Nil()
        .End()
        .End();
}

void Definition::MakeDefaultUnit(std::unique_ptr<Por::Construction::Unit>& out)
{
    const Definition record(Por::Construction::GetDefaultUnitFactory(), nullptr);
    out = record.CloneUnit();
}

const Por::Construction::Unit* Definition::GetDefaultUnit()
{
    return g_definitionDefault.Get();
}

void Definition::SetID(const Common::Guid& id)
{
    Por::Construction::Unit& root = *Branch();
    Por::ClearNilMarker(root, "ID");
    if (Por::Construction::Property* property = Por::Util::FindProperty(root, "ID"))
        Por::Util::SetUnitValue<Por::GuidType>(property->GetValue(), id);
    else
        Por::Util::AddProperty(root, "ID", Factory()->CreateGuid(id), *Factory());
}

void Definition::GenerateID()
{
    Common::Guid id{};
    (void)Common::GenerateGuid(id, 0); // method 0 always succeeds
    SetID(id);
}

// The operation classes.

Por::Util::UnitConstructor Detail::ConstructOperation(Por::Util::UnitConstructor constructor,
                                                      const std::u16string& className,
                                                      const std::vector<OwnProperty>& properties)
{
    constructor = constructor.Trait("Is").String(className).End();
    for (const OwnProperty& property : properties) {
        constructor = constructor.Property(property.name);
        if (property.emptyArray)
            constructor = constructor.Array();
        else
            constructor = constructor.Insert(*constructor.GetFactory()->CreateNil());
        constructor = constructor.Trait("Nil").Nil().End().End();
    }
    return constructor;
}

const std::u16string CreateObject::ClassName = MakeClassName("Dml::Operation::CreateObject");
const std::vector<Detail::OwnProperty> CreateObject::Properties = {{"Object", false}};
const std::u16string UpdateObject::ClassName = MakeClassName("Dml::Operation::UpdateObject");
const std::vector<Detail::OwnProperty> UpdateObject::Properties = {{"Key", false}, {"Patch", false}};
const std::u16string DeleteObject::ClassName = MakeClassName("Dml::Operation::DeleteObject");
const std::vector<Detail::OwnProperty> DeleteObject::Properties = {{"Key", false}};
const std::u16string UpdateByPattern::ClassName = MakeClassName("Dml::Operation::UpdateByPattern");
const std::vector<Detail::OwnProperty> UpdateByPattern::Properties = {{"Pattern", false}, {"Patch", false}};
const std::u16string DeleteByPattern::ClassName = MakeClassName("Dml::Operation::DeleteByPattern");
const std::vector<Detail::OwnProperty> DeleteByPattern::Properties = {{"Pattern", false}, {"Options", false}};
const std::u16string StoreOrUpdate::ClassName = MakeClassName("Dml::Operation::StoreOrUpdate");
const std::vector<Detail::OwnProperty> StoreOrUpdate::Properties = {{"Object", false}};
const std::u16string StoreOrConsolidate::ClassName = MakeClassName("Dml::Operation::StoreOrConsolidate");
const std::vector<Detail::OwnProperty> StoreOrConsolidate::Properties = {{"Object", false}};
const std::u16string CreateIfNotExist::ClassName = MakeClassName("Dml::Operation::CreateIfNotExist");
const std::vector<Detail::OwnProperty> CreateIfNotExist::Properties = {{"Object", false}};
const std::u16string ConsolidateIfExists::ClassName = MakeClassName("Dml::Operation::ConsolidateIfExists");
const std::vector<Detail::OwnProperty> ConsolidateIfExists::Properties = {{"Object", false}};
const std::u16string BatchOperation::ClassName = MakeClassName("Dml::Operation::BatchOperation");
const std::vector<Detail::OwnProperty> BatchOperation::Properties = {{"Operations", true}};

void DeleteByPattern::SetPattern(const std::shared_ptr<const Por::View::Unit>& pattern)
{
    Por::ClearNilMarker(*Branch(), "Pattern");
    Por::SetUnitProperty(pattern.get(), *Branch(), "Pattern", *Factory());
}

void DeleteByPattern::SetOptions(const std::shared_ptr<const Por::View::Unit>& options)
{
    Por::ClearNilMarker(*Branch(), "Options");
    Por::SetUnitProperty(options.get(), *Branch(), "Options", *Factory());
}

const Por::View::Unit* DeleteByPattern::GetPattern(const Por::View::Unit& record)
{
    return GetSetProperty(record, "Pattern");
}

const Por::View::Unit* DeleteByPattern::GetOptions(const Por::View::Unit& record)
{
    return GetSetProperty(record, "Options");
}

bool IsOfClass(const Por::View::Unit& unit, const std::u16string& className)
{
    std::set<std::u16string> classes;
    Impl::ExtractIsValues extract(&classes);
    unit.traits().ForEachNamed("Is", extract);
    return classes.contains(className);
}

// The class table, filled after every class's statics.
namespace {

struct ClassTableRegistration
{
    ClassTableRegistration()
    {
        Por::RegisterDynamicConstruction(Definition::ClassName, &Definition::Construct);
        Por::RegisterDynamicConstruction(CreateObject::ClassName, &CreateObject::Construct);
        Por::RegisterDynamicConstruction(UpdateObject::ClassName, &UpdateObject::Construct);
        Por::RegisterDynamicConstruction(DeleteObject::ClassName, &DeleteObject::Construct);
        Por::RegisterDynamicConstruction(UpdateByPattern::ClassName, &UpdateByPattern::Construct);
        Por::RegisterDynamicConstruction(DeleteByPattern::ClassName, &DeleteByPattern::Construct);
        Por::RegisterDynamicConstruction(StoreOrUpdate::ClassName, &StoreOrUpdate::Construct);
        Por::RegisterDynamicConstruction(StoreOrConsolidate::ClassName, &StoreOrConsolidate::Construct);
        Por::RegisterDynamicConstruction(CreateIfNotExist::ClassName, &CreateIfNotExist::Construct);
        Por::RegisterDynamicConstruction(ConsolidateIfExists::ClassName, &ConsolidateIfExists::Construct);
        Por::RegisterDynamicConstruction(BatchOperation::ClassName, &BatchOperation::Construct);
    }
} g_classTable;

} // namespace

// The factory.

std::shared_ptr<const Por::View::Unit> OperationFactory::MakeDeleteByPattern(const ViewSpec& spec) const
{
    // The object model's context keeps a non-const factory pointer; the
    // factory's creators are const, so nothing is changed through it.
    DeleteByPattern record(const_cast<Por::Construction::UnitFactory*>(m_factory), nullptr);
    record.SetPattern(spec.Pattern);
    if (spec.Options)
        record.SetOptions(spec.Options);
    record.GenerateID();
    return Impl::MakeTypedUnit(*m_factory, record.CloneUnit(), spec.Pattern.get());
}

bool Impl::ExtractIsValues::Process(const Por::View::Trait& trait)
{
    static const std::u16string kEmpty;
    m_values->insert(Por::Util::GetUnitValue<std::u16string>(trait.GetValue(), kEmpty));
    return false;
}

std::shared_ptr<const Por::View::Unit> Impl::MakeTypedUnit(const Por::Construction::UnitFactory& factory,
                                                           std::unique_ptr<Por::Construction::Unit> unit,
                                                           const Por::View::Unit* pattern)
{
    std::set<std::u16string> types;
    if (pattern) {
        ExtractIsValues extract(&types);
        pattern->traits().ForEachNamed("Is", extract);
    }
    AddTypeTraits(*unit, types, factory);
    return std::shared_ptr<const Por::View::Unit>(std::move(unit));
}

void Impl::AddTypeTraits(Por::Construction::Unit& unit, const std::set<std::u16string>& types,
                         const Por::Construction::UnitFactory& factory)
{
    for (const std::u16string& type : types)
        AddTypeTrait(unit, type, factory);
}

void Impl::AddTypeTrait(Por::Construction::Unit& unit, const std::u16string& type,
                        const Por::Construction::UnitFactory& factory)
{
    Por::Util::AddTrait(unit, "Type", factory.CreateString(type), factory);
}

} // namespace Dml::Operation
