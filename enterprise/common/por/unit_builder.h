// Por::Util::UnitBuilder: the event interface of unit building. One value
// event per kind, Property(name) and Trait(name) naming the next value, End
// closing the innermost open unit, TakeUnit handing out the last root built.
//
// The events of one unit come in this order: Property(name) or Trait(name)
// (nothing for an element or a root), its value event, its content (the
// properties of a Composite or the elements of an Array, each a complete unit
// by these rules), its traits, End.
//
// Declaration order is the binary order; never insert or reorder.
// Threading: one thread drives a builder at a time.
#pragma once

#include <memory>

#include "core/common/non_copyable.h"
#include "enterprise/common/por/unit.h"

namespace Por::Util {

class UnitBuilder : private Common::NonCopyable
{
public:
    virtual ~UnitBuilder() = default;
    virtual void Nil() = 0;
#define POR_BUILD_SCALAR_EVENT(Kind, Type) virtual void Kind(Type value) = 0;
    POR_SCALAR_KINDS(POR_BUILD_SCALAR_EVENT)
#undef POR_BUILD_SCALAR_EVENT
#define POR_BUILD_COMPLEX_EVENT(Kind, Type) virtual void Kind(const Type& value) = 0;
    POR_COMPLEX_KINDS(POR_BUILD_COMPLEX_EVENT)
#undef POR_BUILD_COMPLEX_EVENT
    virtual void Array() = 0;
    virtual void Composite() = 0;
    virtual void Property(const Name& name) = 0;
    virtual void Trait(const Name& name) = 0;
    virtual void End() = 0;
    virtual std::unique_ptr<Construction::Unit> TakeUnit() = 0;
};

} // namespace Por::Util
