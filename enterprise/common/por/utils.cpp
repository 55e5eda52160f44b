#include "enterprise/common/por/utils.h"

#include <utility>

#include "core/common/location.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/por_errors.h"
#include "enterprise/common/por/types_mismatch.h"
#include "enterprise/common/por/unit_copier.h"
#include "enterprise/common/por/unit_equality.h"
#include "enterprise/common/por/value_type_index.h"

namespace Por::Util {

namespace {

constexpr Common::SourceFile kSource("enterprise/common/por/utils", 0xA6FE40D1C337F421ull - 660);

[[noreturn]] void ThrowPropertyNotFound(const Name& name, Common::Location location)
{
    ThrowModuleError(PorErrors::kPropertyNotFound, PorErrors::kPropertyNotFoundText, location, {name.ToUtf16()});
}

// Whether a trait of that name satisfies `matches`; stops at the first.
template <typename Matches>
bool AnyTraitNamed(const View::Unit& unit, const Name& name, Matches matches)
{
    bool found = false;
    auto processor = ProcessorOf<const View::Trait>([&](const View::Trait& trait) {
        found = matches(trait);
        return found;
    });
    unit.traits().ForEachNamed(name, processor);
    return found;
}

// Adds `marker` to the value of the property of that name.
void AddMarkerToProperty(Construction::CompositeValue& composite, const Name& property,
                         std::unique_ptr<View::Trait> marker)
{
    auto adder = ProcessorOf<Construction::Property>([&](Construction::Property& found) {
        AddOwnedTrait(found.GetValue(), std::move(marker));
        return true;
    });
    if (!composite.ForEachNamed(property, adder))
        ThrowPropertyNotFound(property, kSource.At("Visit", 341));
}

void ApplyTraits(const View::Unit& source, Construction::Unit& target, const Construction::UnitFactory& factory,
                 bool onlyMissing)
{
    auto applier = ProcessorOf<const View::Trait>([&](const View::Trait& trait) {
        if (!onlyMissing || !HasTraitWithValue(target, trait.GetName(), trait.GetValue()))
            AddTrait(target, trait.GetName(), CopyUnit(trait.GetValue(), factory), factory);
        return false;
    });
    source.traits().ForEach(applier);
}

} // namespace

Construction::CompositeValue& GetCompositeValue(Construction::Unit& unit)
{
    struct Reader : Construction::CompositeVisitor
    {
        using CompositeVisitor::Visit;
        void Visit(Construction::CompositeValue& value) override { composite = &value; }
        Construction::CompositeValue* composite = nullptr;
    } reader;
    unit.Accept(reader);
    return *reader.composite;
}

const View::CompositeValue& GetCompositeValue(const View::Unit& unit)
{
    struct Reader : View::TypeMismatchThrowingVisitor
    {
        Reader() : TypeMismatchThrowingVisitor(kCompositeKind) {}
        using TypeMismatchThrowingVisitor::Visit;
        void Visit(const View::CompositeValue& value) override { composite = &value; }
        const View::CompositeValue* composite = nullptr;
    } reader;
    unit.Accept(reader);
    return *reader.composite;
}

bool HasTrait(const View::Unit& unit, const Name& name)
{
    return AnyTraitNamed(unit, name, [](const View::Trait&) { return true; });
}

bool HasTraitWithValue(const View::Unit& unit, const Name& name, const View::Unit& value)
{
    return AnyTraitNamed(unit, name, [&](const View::Trait& trait) { return ValuesEqual(trait.GetValue(), value); });
}

const View::Unit& GetUniqueTraitByName(const View::Unit& unit, const Name& name)
{
    const View::Unit* value = nullptr;
    auto unique = ProcessorOf<const View::Trait>([&](const View::Trait& trait) {
        if (value)
            ThrowModuleError(PorErrors::kTraitNotUnique, PorErrors::kTraitNotUniqueText, kSource.At("Process", 117),
                             {trait.GetName().ToUtf16()}, RecordKind::WideText);
        value = &trait.GetValue();
        return false;
    });
    unit.traits().ForEachNamed(name, unique);
    if (!value)
        ThrowModuleError(PorErrors::kTraitNotFound, PorErrors::kTraitNotFoundText,
                         kSource.At("GetUniqueTraitByName", 845), {name.ToUtf16()}, RecordKind::WideText);
    return *value;
}

void AddTrait(Construction::Unit& target, const Name& name, std::unique_ptr<Construction::Unit>&& value,
              const Construction::UnitFactory& factory)
{
    std::unique_ptr<Construction::Unit> taken = std::move(value);
    AddOwnedTrait(target, factory.CreateTrait(name, std::move(taken)));
}

void AddNilTrait(Construction::Unit& target, const Name& name, const Construction::UnitFactory& factory)
{
    AddTrait(target, name, factory.CreateNil(), factory);
}

void AddOwnedTrait(Construction::Unit& target, std::unique_ptr<View::Trait>&& trait)
{
    std::unique_ptr<View::Trait> taken = std::move(trait);
    target.traits().Add(std::move(taken));
}

unsigned int RemoveTrait(Construction::Unit& target, const Name& name)
{
    return target.traits().Remove(name);
}

void ApplySourceTraits(const View::Unit& source, Construction::Unit& target, const Construction::UnitFactory& factory)
{
    ApplyTraits(source, target, factory, false);
}

void ApplyMissingSourceTraits(const View::Unit& source, Construction::Unit& target,
                              const Construction::UnitFactory& factory)
{
    ApplyTraits(source, target, factory, true);
}

void AddTraitToCompositeProperty(Construction::CompositeValue& composite, const Name& property, const Name& trait,
                                 const Construction::UnitFactory& factory)
{
    AddMarkerToProperty(composite, property, factory.CreateTrait(trait, factory.CreateNil()));
}

void AddTraitToProperty(Construction::Unit& target, const Name& property, const Name& trait,
                        const Construction::UnitFactory& factory)
{
    std::unique_ptr<View::Trait> marker = factory.CreateTrait(trait, factory.CreateNil()); // before the unit is read
    AddMarkerToProperty(GetCompositeValue(target), property, std::move(marker));
}

bool HasProperties(const View::Unit& unit)
{
    bool found = false;
    auto first = ProcessorOf<const View::Property>([&](const View::Property&) { return found = true; });
    ForEachProperty(unit, first);
    return found;
}

const View::Property* FindConstProperty(const View::Unit& unit, const Name& name)
{
    return FindConstCompositeProperty(GetCompositeValue(unit), name);
}

bool HasProperty(const View::Unit& unit, const Name& name)
{
    return FindConstProperty(unit, name) != nullptr;
}

Construction::Property* FindProperty(Construction::Unit& unit, const Name& name)
{
    return FindCompositeProperty(GetCompositeValue(unit), name);
}

Construction::Property& GetProperty(Construction::Unit& unit, const Name& name)
{
    return *CheckPropertyValidity(FindProperty(unit, name), name);
}

Construction::Property* CheckPropertyValidity(Construction::Property* property, const Name& name)
{
    if (!property)
        ThrowPropertyNotFound(name, kSource.At("CheckPropertyValidity", 660));
    return property;
}

const View::Property* FindConstCompositeProperty(const View::CompositeValue& composite, const Name& name)
{
    const View::Property* found = nullptr;
    auto resolver = ProcessorOf<const View::Property>([&](const View::Property& property) {
        found = &property;
        return true;
    });
    (void)composite.ForEachNamed(name, resolver); // the resolver tells whether there was one
    return found;
}

Construction::Property* FindCompositeProperty(Construction::CompositeValue& composite, const Name& name)
{
    Construction::Property* found = nullptr;
    auto resolver = ProcessorOf<Construction::Property>([&](Construction::Property& property) {
        found = &property;
        return true;
    });
    (void)composite.ForEachNamed(name, resolver); // the resolver tells whether there was one
    return found;
}

void ForEachProperty(const View::Unit& unit, ItemProcessor<const View::Property>& processor)
{
    struct Enumerator : View::NullVisitor
    {
        explicit Enumerator(ItemProcessor<const View::Property>& processor) : processor(processor) {}
        using NullVisitor::Visit;
        void Visit(const View::CompositeValue& value) override { value.ForEach(processor); }
        ItemProcessor<const View::Property>& processor;
    } enumerator(processor);
    unit.Accept(enumerator);
}

void ForEachProperty(Construction::Unit& unit, ItemProcessor<Construction::Property>& processor)
{
    struct Enumerator : Construction::NullVisitor
    {
        explicit Enumerator(ItemProcessor<Construction::Property>& processor) : processor(processor) {}
        using NullVisitor::Visit;
        void Visit(Construction::CompositeValue& value) override { value.ForEach(processor); }
        ItemProcessor<Construction::Property>& processor;
    } enumerator(processor);
    unit.Accept(enumerator);
}

void AddProperty(Construction::Unit& unit, const Name& name, std::unique_ptr<Construction::Unit>&& value,
                 const Construction::UnitFactory& factory)
{
    std::unique_ptr<Construction::Unit> taken = std::move(value);
    AddOwnedProperty(unit, factory.CreateProperty(name, std::move(taken)));
}

void AddOwnedProperty(Construction::Unit& unit, std::unique_ptr<Construction::Property>&& property)
{
    std::unique_ptr<Construction::Property> taken = std::move(property);
    GetCompositeValue(unit).Set(std::move(taken));
}

void AddPropertyCopy(Construction::Unit& unit, const Name& name, const View::Unit& value,
                     const Construction::UnitFactory& factory)
{
    AddProperty(unit, name, CopyUnit(value, factory), factory);
}

void AddCompositeProperty(Construction::CompositeValue& composite, const Name& name,
                          std::unique_ptr<Construction::Unit>&& value, const Construction::UnitFactory& factory)
{
    std::unique_ptr<Construction::Unit> taken = std::move(value);
    AddOwnedCompositeProperty(composite, factory.CreateProperty(name, std::move(taken)));
}

void AddOwnedCompositeProperty(Construction::CompositeValue& composite,
                               std::unique_ptr<Construction::Property>&& property)
{
    std::unique_ptr<Construction::Property> taken = std::move(property);
    composite.Set(std::move(taken));
}

void AddNilCompositeProperty(Construction::CompositeValue& composite, const Name& name,
                             const Construction::UnitFactory& factory)
{
    AddCompositeProperty(composite, name, factory.CreateNil(), factory);
}

void RemoveProperty(Construction::Unit& unit, const Name& name)
{
    GetCompositeValue(unit).Remove(name);
}

bool HaveSameValueType(const View::Unit& a, const View::Unit& b)
{
    return GetValueTypeIndex(a) == GetValueTypeIndex(b);
}

bool IsArray(const View::Unit& unit)
{
    return GetValueTypeIndex(unit) == kArrayKind;
}

bool IsComposite(const View::Unit& unit)
{
    return GetValueTypeIndex(unit) == kCompositeKind;
}

bool IsSearchableArray(const View::Unit& unit)
{
    return IsArray(unit) && HasTrait(unit, "Searchable");
}

std::unique_ptr<Construction::Unit> CopyAsComposite(const std::shared_ptr<const View::Unit>& unit,
                                                    const Construction::UnitFactory& factory)
{
    if (!unit)
        return factory.CreateComposite();
    const int kind = GetValueTypeIndex(*unit);
    if (kind != kCompositeKind)
        throw ModuleError(Detail::MakeTypeMismatchError(kCompositeKind, kind));
    return CopyUnit(*unit, factory);
}

} // namespace Por::Util
