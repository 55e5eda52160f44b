// Connects the hierarchy walk with unit building.
//
// Por::Util::UnitBuildingWalker passes every walk event to a UnitAccumulator
// (BeginUnit is dropped, EndUnit is End, the value events go on without the
// walked containers). Por::Util::WalkValueFirstGuide walks each unit's value
// and content first, then its traits: the order the accumulator needs.
//
// Por::Util::MergeUnit applies a source unit onto a target unit in place
// through a continuing accumulator and returns the target (a new unit when the
// target was null or Nil). When exactly one of the two roots is an Array and
// the target exists and is not Nil, it raises Por::ModuleError 0xFA0011
// before walking (the target is destroyed).
//
// Threading: the caller's thread.
#pragma once

#include <memory>
#include <string>

#include "enterprise/common/por/hierarchy_walk.h"
#include "enterprise/common/por/unit_accumulator.h"

namespace Por::Util {

class UnitBuildingWalker final : public UnitWalker
{
public:
    explicit UnitBuildingWalker(UnitAccumulator* accumulator) noexcept : m_accumulator(accumulator) {}

    void BeginUnit() override {}
    void EndUnit() override { m_accumulator->End(); }
    void Property(const Name& name) override { m_accumulator->Property(name); }
    void Trait(const Name& name) override { m_accumulator->Trait(name); }
    void Nil() override { m_accumulator->Nil(); }
#define POR_FORWARD_SCALAR(Kind, Type) \
    void Kind(Type value) override     \
    {                                  \
        m_accumulator->Kind(value);    \
    }
    POR_SCALAR_KINDS(POR_FORWARD_SCALAR)
#undef POR_FORWARD_SCALAR
#define POR_FORWARD_COMPLEX(Kind, Type)   \
    void Kind(const Type& value) override \
    {                                     \
        m_accumulator->Kind(value);       \
    }
    POR_COMPLEX_KINDS(POR_FORWARD_COMPLEX)
#undef POR_FORWARD_COMPLEX
    void Array(const View::ArrayValue&) override
    {
        m_accumulator->Array();
    }
    void Composite(const View::CompositeValue&) override
    {
        m_accumulator->Composite();
    }
    // String whose units the accumulator may take over; `value` is then left
    // valid but unspecified.
    void TakeString(std::u16string& value)
    {
        m_accumulator->TakeString(value);
    }

private:
    UnitAccumulator* m_accumulator;
};

class WalkValueFirstGuide final : public TraitValueGuide
{
public:
    void Guide(TraitValueCrossroad& crossroad) override
    {
        crossroad.WalkValue(true);
        crossroad.WalkTraits();
    }
};

std::unique_ptr<Construction::Unit> MergeUnit(std::unique_ptr<Construction::Unit>&& target, const View::Unit& source,
                                              const Construction::UnitFactory& factory);

} // namespace Por::Util
