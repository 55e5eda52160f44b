// Units, properties, traits and trait sets.
//
// A unit is one value of one of the seventeen kinds plus a set of traits. A
// trait is a name with a unit as its value; several traits of a unit may share
// a name. A Composite value holds properties (one per name), an Array value an
// ordered list of units. A trait or property owns its value unit, a trait set
// its traits; units are owned through std::unique_ptr<Por::Construction::Unit>.
// References handed out by read operations stay valid while their owner lives
// and is not restructured.
//
// Declaration order is the binary order; never insert or reorder.
// Threading: none; a unit tree must not be changed by two threads at once.
#pragma once

#include <memory>

#include "core/common/non_copyable.h"
#include "enterprise/common/por/unit_values.h"
#include "enterprise/common/por/unit_visitors.h"

namespace Por {

namespace View {

class Unit : private Common::NonCopyable
{
public:
    virtual ~Unit() = default;
    // Calls exactly one Visit of the reader: that of the unit's kind.
    virtual void Accept(UnitReader& reader) const = 0;
    virtual const Traits& traits() const = 0;
};

class Property : private Common::NonCopyable
{
public:
    virtual ~Property() = default;
    virtual const Name& GetName() const = 0;
    virtual const Unit& GetValue() const = 0;
};

class Trait : private Common::NonCopyable
{
public:
    virtual ~Trait() = default;
    virtual const Name& GetName() const = 0;
    virtual const Unit& GetValue() const = 0;
};

class Traits : private Common::NonCopyable
{
public:
    virtual ~Traits() = default;
    // The traits in the set's order until Process answers true.
    virtual void ForEach(ItemProcessor<const Trait>& processor) const = 0;
    // The same over the traits of one name.
    virtual void ForEachNamed(const Name& name, ItemProcessor<const Trait>& processor) const = 0;
};

} // namespace View

namespace Modification {

class Unit : public View::Unit
{
public:
    using View::Unit::Accept;
    virtual void Accept(UnitWriter& writer) = 0;
};

class Property : public View::Property
{
public:
    using View::Property::GetValue;
    virtual Unit& GetValue() = 0;
};

class Traits : public View::Traits
{
};

} // namespace Modification

namespace Construction {

class Traits : public Modification::Traits
{
public:
    // Takes the trait over.
    virtual void Add(std::unique_ptr<View::Trait>&& trait) = 0;
    // Deletes every trait of that name; answers how many.
    virtual unsigned int Remove(const Name& name) = 0;
};

class Unit : public Modification::Unit
{
public:
    using Modification::Unit::Accept;
    using View::Unit::traits;
    virtual void Accept(UnitBuilder& builder) = 0;
    virtual Traits& traits() = 0;
};

// The value unit at Construction level, through the same slot as the
// Modification-level GetValue (covariant return).
class Property : public Modification::Property
{
public:
    using Modification::Property::GetValue;
    Unit& GetValue() override = 0;
};

} // namespace Construction

} // namespace Por
