// Operation records: typed POR objects whose classes name a change to the
// remote object store. A record is a Composite that names its whole class
// chain in "Is" traits ("Dml::Operation::Definition", then the class's own
// name), with "ID" (a Guid marked "PrimaryKey"; "Nil" until set) and the
// properties of its class, each a placeholder (Nil carrying "Nil") until set.
//
// Each class has its ClassName, a Construct (its entry of the dynamic
// construction table, filled at start-up), and a default unit made on first
// request (GetDefaultUnit, also the record's DefaultValue) and kept until
// exit. Only Dml::Operation::DeleteByPattern is ever filled in, by the
// operation factory, and read back by a service that executes it
// (IsOfClass, DeleteByPattern::GetPattern and GetOptions).
//
// Declaration order of the virtual operations is the binary order; never
// insert or reorder.
// Threading: a record is used by one thread at a time; the default units are
// published lock-free on first use; the operation factory has no mutable state.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/common/guid.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/plain_object.h"
#include "enterprise/common/por/static_instance.h"
#include "enterprise/common/por/unit_constructor.h"
#include "xidl/view_management.h"

namespace Dml::Operation {

class Definition : public Por::BaseObject
{
public:
    // A null handler stands for the throwing handler.
    Definition(Por::Construction::UnitFactory* factory, Por::ErrorHandler* handler);
    const Por::Construction::Unit* DefaultValue() const override;

    // Writes "ID" (its "Nil" marker goes; "PrimaryKey" stays).
    void SetID(const Common::Guid& id);
    // SetID with a new random GUID.
    void GenerateID();

    static const std::u16string ClassName;
    static Por::Util::UnitConstructor Construct(Por::Util::UnitConstructor constructor);
    static void MakeDefaultUnit(std::unique_ptr<Por::Construction::Unit>& out);
    static const Por::Construction::Unit* GetDefaultUnit();

protected:
    using Builder = Por::Util::UnitConstructor (*)(Por::Util::UnitConstructor constructor);
    Definition(Por::Construction::UnitFactory* factory, Por::ErrorHandler* handler, Builder construct,
               Por::DefaultValueProvider provider);
};

namespace Detail {

// An own property of an operation class: a placeholder, or (for
// "Operations") an empty Array carrying "Nil".
struct OwnProperty
{
    Por::Name name;
    bool emptyArray;
};

Por::Util::UnitConstructor ConstructOperation(Por::Util::UnitConstructor constructor, const std::u16string& className,
                                              const std::vector<OwnProperty>& properties);

// The shared body of the ten operation classes; Derived names its ClassName
// and its Properties.
template <typename Derived>
class OperationClass : public Definition
{
public:
    OperationClass(Por::Construction::UnitFactory* factory, Por::ErrorHandler* handler)
        : Definition(factory, handler, &Derived::Construct, &Provide)
    {
    }
    const Por::Construction::Unit* DefaultValue() const override { return GetDefaultUnit(); }

    static Por::Util::UnitConstructor Construct(Por::Util::UnitConstructor constructor)
    {
        return ConstructOperation(Definition::Construct(constructor), Derived::ClassName, Derived::Properties);
    }
    static void MakeDefaultUnit(std::unique_ptr<Por::Construction::Unit>& out)
    {
        const Derived record(Por::Construction::GetDefaultUnitFactory(), nullptr);
        out = record.CloneUnit();
    }
    static const Por::Construction::Unit* GetDefaultUnit() { return s_defaultUnit.Get(); }

private:
    static const Por::Construction::Unit* Provide(const Por::BaseObject&) { return GetDefaultUnit(); }
    static inline Por::Util::StaticInstance<Por::Construction::Unit> s_defaultUnit{&MakeDefaultUnit};
};

} // namespace Detail

#define DML_OPERATION_CLASS(Class)                                \
    class Class final : public Detail::OperationClass<Class>      \
    {                                                             \
    public:                                                       \
        using Detail::OperationClass<Class>::OperationClass;      \
        static const std::u16string ClassName;                    \
        static const std::vector<Detail::OwnProperty> Properties; \
    };

DML_OPERATION_CLASS(CreateObject)
DML_OPERATION_CLASS(UpdateObject)
DML_OPERATION_CLASS(DeleteObject)
DML_OPERATION_CLASS(UpdateByPattern)
DML_OPERATION_CLASS(StoreOrUpdate)
DML_OPERATION_CLASS(StoreOrConsolidate)
DML_OPERATION_CLASS(CreateIfNotExist)
DML_OPERATION_CLASS(ConsolidateIfExists)
DML_OPERATION_CLASS(BatchOperation)

#undef DML_OPERATION_CLASS

class DeleteByPattern final : public Detail::OperationClass<DeleteByPattern>
{
public:
    using Detail::OperationClass<DeleteByPattern>::OperationClass;
    static const std::u16string ClassName;
    static const std::vector<Detail::OwnProperty> Properties;

    // A deep copy of the unit (null: an empty Composite) as "Pattern" / "Options".
    void SetPattern(const std::shared_ptr<const Por::View::Unit>& pattern);
    void SetOptions(const std::shared_ptr<const Por::View::Unit>& options);

    // The "Pattern" / "Options" of a record's unit; null when it has none or
    // it is still the placeholder. Refers into `record`.
    static const Por::View::Unit* GetPattern(const Por::View::Unit& record);
    static const Por::View::Unit* GetOptions(const Por::View::Unit& record);
};

// True when one of the unit's "Is" traits names `className`; a record names
// its whole class chain, so every record is of Definition::ClassName.
bool IsOfClass(const Por::View::Unit& unit, const std::u16string& className);

namespace Impl {

// Collects the texts of the "Is" traits it is handed into a set (a value that
// is not a String counts as the empty text); never stops the enumeration.
class ExtractIsValues final : public Por::ItemProcessor<const Por::View::Trait>
{
public:
    explicit ExtractIsValues(std::set<std::u16string>* values) noexcept : m_values(values) {}
    bool Process(const Por::View::Trait& trait) override;

private:
    std::set<std::u16string>* m_values;
};

// `unit` (taken over) with one "Type" trait per distinct "Is" text of the
// pattern's own traits, in ascending order.
std::shared_ptr<const Por::View::Unit> MakeTypedUnit(const Por::Construction::UnitFactory& factory,
                                                     std::unique_ptr<Por::Construction::Unit> unit,
                                                     const Por::View::Unit* pattern);
void AddTypeTraits(Por::Construction::Unit& unit, const std::set<std::u16string>& types,
                   const Por::Construction::UnitFactory& factory);
void AddTypeTrait(Por::Construction::Unit& unit, const std::u16string& type,
                  const Por::Construction::UnitFactory& factory);

} // namespace Impl

// Makes the units of new operation records.
class OperationFactory
{
public:
    explicit OperationFactory(const Por::Construction::UnitFactory* factory) noexcept : m_factory(factory) {}

    // A new delete-by-pattern unit: the view specification's pattern as "Pattern", its
    // options (when it has any) as "Options", a random "ID", and one "Type"
    // trait per distinct "Is" text of the pattern's own traits.
    std::shared_ptr<const Por::View::Unit> MakeDeleteByPattern(const ViewSpec& spec) const;

private:
    const Por::Construction::UnitFactory* m_factory;
};

} // namespace Dml::Operation
