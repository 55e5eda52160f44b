#include "enterprise/common/por/unit_constructor.h"

#include "enterprise/common/por/unit_accumulator.h"
#include "enterprise/common/por/unit_building_walker.h"

namespace Por::Util {

UnitConstructor::UnitConstructor(const Construction::UnitFactory& factory)
    : m_builder(std::make_shared<UnitAccumulator>(factory)), m_factory(&factory)
{
}

UnitConstructor UnitConstructor::Nil() const
{
    m_builder->Nil();
    return *this;
}

#define POR_CONSTRUCT_SCALAR(Kind, Type)                    \
    UnitConstructor UnitConstructor::Kind(Type value) const \
    {                                                       \
        m_builder->Kind(value);                             \
        return *this;                                       \
    }
POR_SCALAR_KINDS(POR_CONSTRUCT_SCALAR)
#undef POR_CONSTRUCT_SCALAR
#define POR_CONSTRUCT_COMPLEX(Kind, Type)                          \
    UnitConstructor UnitConstructor::Kind(const Type& value) const \
    {                                                              \
        m_builder->Kind(value);                                    \
        return *this;                                              \
    }
POR_COMPLEX_KINDS(POR_CONSTRUCT_COMPLEX)
#undef POR_CONSTRUCT_COMPLEX

UnitConstructor UnitConstructor::Array() const
{
    m_builder->Array();
    return *this;
}

UnitConstructor UnitConstructor::Composite() const
{
    m_builder->Composite();
    return *this;
}

UnitConstructor UnitConstructor::Property(const Name& name) const
{
    m_builder->Property(name);
    return *this;
}

UnitConstructor UnitConstructor::Trait(const Name& name) const
{
    m_builder->Trait(name);
    return *this;
}

UnitConstructor UnitConstructor::End() const
{
    m_builder->End();
    return *this;
}

UnitConstructor UnitConstructor::Insert(const View::Unit& unit) const
{
    UnitConstructor result(*this);
    UnitConstructingWalker walker(&result);
    WalkValueFirstGuide guide;
    WalkHierarchyContent(unit, guide, walker);
    return result;
}

std::unique_ptr<Construction::Unit> UnitConstructor::GetUnit() const
{
    return m_builder->TakeUnit();
}

} // namespace Por::Util
