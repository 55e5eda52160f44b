// Unit utilities: trait queries and changes, property lookup, addition and
// removal, kind tests and the copy of an optional unit as a composite.
//
// Owned arguments are taken over on entry (std::unique_ptr&&): the caller's
// pointer is empty afterwards, also when the function throws, and an object
// taken over by a failing call is destroyed. Functions over a unit that must
// be a Composite raise, for another kind, the type-mismatch error (a plain
// Common::Error 0xFA000A expecting "composite"); CopyAsComposite raises it as
// Por::ModuleError. Errors of the object model's own checks are
// Por::ModuleError:
// - 0xFA000D "POR: Property '{0}' cannot be found." (CheckPropertyValidity,
//   AddTraitToProperty);
// - 0xFA001D "POR: Trait '{0}' cannot be found." and 0xFA001C "POR: Trait
//   '{0}' is not unique." (GetUniqueTraitByName).
//
// Threading: runs on the caller's thread over units the caller owns.
#pragma once

#include <memory>
#include <string>

#include "enterprise/common/por/trait_pairing.h"
#include "enterprise/common/por/unit_factory.h"

namespace Por::Util {

// Traits.
bool HasTrait(const View::Unit& unit, const Name& name);
// A trait of that name whose value equals `value` by ValuesEqual.
bool HasTraitWithValue(const View::Unit& unit, const Name& name, const View::Unit& value);
// The value of the only trait of that name.
const View::Unit& GetUniqueTraitByName(const View::Unit& unit, const Name& name);
void AddTrait(Construction::Unit& target, const Name& name, std::unique_ptr<Construction::Unit>&& value,
              const Construction::UnitFactory& factory);
void AddNilTrait(Construction::Unit& target, const Name& name, const Construction::UnitFactory& factory);
void AddOwnedTrait(Construction::Unit& target, std::unique_ptr<View::Trait>&& trait);
unsigned int RemoveTrait(Construction::Unit& target, const Name& name);
// Copies of every source trait, in the source's order.
void ApplySourceTraits(const View::Unit& source, Construction::Unit& target, const Construction::UnitFactory& factory);
// The same, skipping a source trait when the target then has a trait of that
// name whose value is ValuesEqual.
void ApplyMissingSourceTraits(const View::Unit& source, Construction::Unit& target,
                              const Construction::UnitFactory& factory);
// A trait `trait` with a Nil value on the value of the property `property`.
void AddTraitToProperty(Construction::Unit& target, const Name& property, const Name& trait,
                        const Construction::UnitFactory& factory);
void AddTraitToCompositeProperty(Construction::CompositeValue& composite, const Name& property, const Name& trait,
                                 const Construction::UnitFactory& factory);

// Property queries.
// A Composite with at least one property (false for other kinds).
bool HasProperties(const View::Unit& unit);
const View::Property* FindConstProperty(const View::Unit& unit, const Name& name);
bool HasProperty(const View::Unit& unit, const Name& name);
Construction::Property* FindProperty(Construction::Unit& unit, const Name& name);
Construction::Property& GetProperty(Construction::Unit& unit, const Name& name);
Construction::Property* CheckPropertyValidity(Construction::Property* property, const Name& name);
const View::Property* FindConstCompositeProperty(const View::CompositeValue& composite, const Name& name);
Construction::Property* FindCompositeProperty(Construction::CompositeValue& composite, const Name& name);
// The same two under their other name.
inline const View::Property* FindPropertyInValue(const View::CompositeValue& composite, const Name& name)
{
    return FindConstCompositeProperty(composite, name);
}
inline Construction::Property* FindPropertyInValue(Construction::CompositeValue& composite, const Name& name)
{
    return FindCompositeProperty(composite, name);
}
// A Composite hands its properties to the processor (until it answers true);
// other kinds do nothing.
void ForEachProperty(const View::Unit& unit, ItemProcessor<const View::Property>& processor);
void ForEachProperty(Construction::Unit& unit, ItemProcessor<Construction::Property>& processor);
inline void EnumerateProperties(Construction::Unit& unit, ItemProcessor<Construction::Property>& processor)
{
    ForEachProperty(unit, processor);
}

// Property changes (Set replaces a property of the same name).
void AddProperty(Construction::Unit& unit, const Name& name, std::unique_ptr<Construction::Unit>&& value,
                 const Construction::UnitFactory& factory);
void AddOwnedProperty(Construction::Unit& unit, std::unique_ptr<Construction::Property>&& property);
void AddPropertyCopy(Construction::Unit& unit, const Name& name, const View::Unit& value,
                     const Construction::UnitFactory& factory);
void AddCompositeProperty(Construction::CompositeValue& composite, const Name& name,
                          std::unique_ptr<Construction::Unit>&& value, const Construction::UnitFactory& factory);
void AddOwnedCompositeProperty(Construction::CompositeValue& composite,
                               std::unique_ptr<Construction::Property>&& property);
void AddNilCompositeProperty(Construction::CompositeValue& composite, const Name& name,
                             const Construction::UnitFactory& factory);
// A missing name changes nothing.
void RemoveProperty(Construction::Unit& unit, const Name& name);

// The composite value of a unit; other kinds raise the type-mismatch error
// 0xFA000A (expected "composite").
Construction::CompositeValue& GetCompositeValue(Construction::Unit& unit);
const View::CompositeValue& GetCompositeValue(const View::Unit& unit);

// Kinds and copies.
bool HaveSameValueType(const View::Unit& a, const View::Unit& b);
bool IsArray(const View::Unit& unit);
bool IsComposite(const View::Unit& unit);
// An Array carrying the trait "Searchable".
bool IsSearchableArray(const View::Unit& unit);
// Null: a new empty composite; a Composite: a deep copy; other kinds raise
// Por::ModuleError 0xFA000A (expected "composite").
std::unique_ptr<Construction::Unit> CopyAsComposite(const std::shared_ptr<const View::Unit>& unit,
                                                    const Construction::UnitFactory& factory);

} // namespace Por::Util
