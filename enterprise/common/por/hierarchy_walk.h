// Depth-first walks of unit trees as event streams, and the level-by-level
// traversal of a value tree.
//
// WalkHierarchy hands a UnitWalker: BeginUnit, the unit's value event (with
// the nested units of an Array or Composite), its traits (Trait(name) and the
// nested walk of the value), EndUnit. A TraitValueGuide decides at every unit,
// through its crossroad, in which order (and whether) the value and the traits
// are walked: WalkValue(descend) emits the value event and, when descend is
// true, walks an Array's elements (each framed by its own BeginUnit/EndUnit)
// or a Composite's properties (Property(name), then the walk of the value);
// WalkTraits walks the traits in the trait set's order. No event marks the end
// of a container value; the EndUnit of its unit does.
//
// ForEachUnitByLevel hands the processor the root, then every unit at depth 1,
// then depth 2, ... (array elements and property values; traits are not part
// of it), until the processor answers true.
//
// Declaration order of the interfaces is the binary order; never insert or
// reorder.
// Threading: walks run on the caller's thread over units no one changes.
#pragma once

#include "core/common/non_copyable.h"
#include "enterprise/common/por/unit.h"

namespace Por::Util {

class UnitWalker : private Common::NonCopyable
{
public:
    virtual ~UnitWalker() = default;
    virtual void BeginUnit() = 0;
    virtual void EndUnit() = 0;
    virtual void Property(const Name& name) = 0;
    virtual void Trait(const Name& name) = 0;
    virtual void Nil() = 0;
#define POR_WALK_SCALAR_EVENT(Kind, Type) virtual void Kind(Type value) = 0;
    POR_SCALAR_KINDS(POR_WALK_SCALAR_EVENT)
#undef POR_WALK_SCALAR_EVENT
#define POR_WALK_COMPLEX_EVENT(Kind, Type) virtual void Kind(const Type& value) = 0;
    POR_COMPLEX_KINDS(POR_WALK_COMPLEX_EVENT)
#undef POR_WALK_COMPLEX_EVENT
    virtual void Array(const View::ArrayValue& value) = 0;
    virtual void Composite(const View::CompositeValue& value) = 0;
};

class TraitValueCrossroad : private Common::NonCopyable
{
public:
    virtual ~TraitValueCrossroad() = default;
    virtual void WalkValue(bool descend) = 0;
    virtual void WalkTraits() = 0;
};

class TraitValueGuide : private Common::NonCopyable
{
public:
    virtual ~TraitValueGuide() = default;
    virtual void Guide(TraitValueCrossroad& crossroad) = 0;
};

void WalkHierarchy(const View::Unit& unit, TraitValueGuide& guide, UnitWalker& walker);
// The same without the outermost BeginUnit and EndUnit.
void WalkHierarchyContent(const View::Unit& unit, TraitValueGuide& guide, UnitWalker& walker);

} // namespace Por::Util

namespace Por {

void ForEachUnitByLevel(const View::Unit& unit, ItemProcessor<const View::Unit>& processor);

} // namespace Por
