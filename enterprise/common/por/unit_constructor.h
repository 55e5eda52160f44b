// Por::Util::UnitConstructor: writes a unit call by call. Each call forwards
// one building event to a shared UnitAccumulator and returns a copy of the
// constructor, so calls chain; every copy drives the same accumulator, which
// lives until the last copy is gone.
//
//     auto unit = Por::Util::UnitConstructor(factory)
//                     .Composite().Property("DmlTimeStamp").SQWord(0).End().End().GetUnit();
//
// Insert(unit) writes a deep copy of `unit` through the accumulator and leaves
// it open: the caller may add properties or traits and closes it with End.
// GetUnit hands out the root closed last (null when none was closed since).
//
// Threading: the copies of one constructor are used by one thread at a time.
#pragma once

#include <memory>

#include "enterprise/common/por/hierarchy_walk.h"
#include "enterprise/common/por/unit_builder.h"
#include "enterprise/common/por/unit_factory.h"

namespace Por::Util {

class UnitConstructor
{
public:
    explicit UnitConstructor(const Construction::UnitFactory& factory);

    UnitConstructor Nil() const;
#define POR_CONSTRUCT_SCALAR(Kind, Type) UnitConstructor Kind(Type value) const;
    POR_SCALAR_KINDS(POR_CONSTRUCT_SCALAR)
#undef POR_CONSTRUCT_SCALAR
#define POR_CONSTRUCT_COMPLEX(Kind, Type) UnitConstructor Kind(const Type& value) const;
    POR_COMPLEX_KINDS(POR_CONSTRUCT_COMPLEX)
#undef POR_CONSTRUCT_COMPLEX
    UnitConstructor Array() const;
    UnitConstructor Composite() const;
    UnitConstructor Property(const Name& name) const;
    UnitConstructor Trait(const Name& name) const;
    UnitConstructor End() const;
    UnitConstructor Insert(const View::Unit& unit) const;

    std::unique_ptr<Construction::Unit> GetUnit() const;
    const Construction::UnitFactory* GetFactory() const noexcept
    {
        return m_factory;
    }

private:
    std::shared_ptr<UnitBuilder> m_builder;
    const Construction::UnitFactory* m_factory;
};

// Turns walk events into calls on a constructor (for Insert).
class UnitConstructingWalker final : public UnitWalker
{
public:
    explicit UnitConstructingWalker(UnitConstructor* constructor) noexcept : m_constructor(constructor) {}

    void BeginUnit() override {}
    void EndUnit() override { *m_constructor = m_constructor->End(); }
    void Property(const Name& name) override { *m_constructor = m_constructor->Property(name); }
    void Trait(const Name& name) override { *m_constructor = m_constructor->Trait(name); }
    void Nil() override { *m_constructor = m_constructor->Nil(); }
#define POR_CONSTRUCT_SCALAR(Kind, Type)             \
    void Kind(Type value) override                   \
    {                                                \
        *m_constructor = m_constructor->Kind(value); \
    }
    POR_SCALAR_KINDS(POR_CONSTRUCT_SCALAR)
#undef POR_CONSTRUCT_SCALAR
#define POR_CONSTRUCT_COMPLEX(Kind, Type)            \
    void Kind(const Type& value) override            \
    {                                                \
        *m_constructor = m_constructor->Kind(value); \
    }
    POR_COMPLEX_KINDS(POR_CONSTRUCT_COMPLEX)
#undef POR_CONSTRUCT_COMPLEX
    void Array(const View::ArrayValue&) override
    {
        *m_constructor = m_constructor->Array();
    }
    void Composite(const View::CompositeValue&) override
    {
        *m_constructor = m_constructor->Composite();
    }

private:
    UnitConstructor* m_constructor;
};

} // namespace Por::Util
