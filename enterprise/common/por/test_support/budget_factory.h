// PorTesting::BudgetFactory: an in-memory factory that counts its creations
// and, given a budget, throws std::bad_alloc once the budget is spent; for
// tests that a failure at any point of an operation leaks nothing.
//
// Threading: test thread only.
#pragma once

#include <memory>
#include <new>

#include "enterprise/common/por/in_memory_unit_factory.h"

namespace PorTesting {

class BudgetFactory final : public Por::Construction::UnitFactory
{
public:
    int created = 0;
    int budget = -1; // no limit

    std::unique_ptr<Por::Construction::Unit> CreateNil() const override { return Spend(m_inner.CreateNil()); }
#define POR_TEST_SCALAR(Name, Type)                                                  \
    std::unique_ptr<Por::Construction::Unit> Create##Name(Type value) const override \
    {                                                                                \
        Charge();                                                                    \
        return m_inner.Create##Name(value);                                          \
    }
    POR_SCALAR_KINDS(POR_TEST_SCALAR)
#undef POR_TEST_SCALAR
#define POR_TEST_COMPLEX(Name, Type)                                                        \
    std::unique_ptr<Por::Construction::Unit> Create##Name(const Type& value) const override \
    {                                                                                       \
        Charge();                                                                           \
        return m_inner.Create##Name(value);                                                 \
    }
    POR_COMPLEX_KINDS(POR_TEST_COMPLEX)
#undef POR_TEST_COMPLEX
    std::unique_ptr<Por::Construction::Unit> CreateArray() const override
    {
        return Spend(m_inner.CreateArray());
    }
    std::unique_ptr<Por::Construction::Unit> CreateComposite() const override
    {
        return Spend(m_inner.CreateComposite());
    }
    std::unique_ptr<Por::View::Trait> CreateTrait(const Por::Name& name,
                                                  std::unique_ptr<Por::Construction::Unit>&& value) const override
    {
        Charge();
        return m_inner.CreateTrait(name, std::move(value));
    }
    std::unique_ptr<Por::Construction::Property>
    CreateProperty(const Por::Name& name, std::unique_ptr<Por::Construction::Unit>&& value) const override
    {
        Charge();
        return m_inner.CreateProperty(name, std::move(value));
    }

private:
    void Charge() const
    {
        auto* self = const_cast<BudgetFactory*>(this);
        if (self->budget == 0)
            throw std::bad_alloc();
        if (self->budget > 0)
            --self->budget;
        ++self->created;
    }
    std::unique_ptr<Por::Construction::Unit> Spend(std::unique_ptr<Por::Construction::Unit> unit) const
    {
        Charge(); // the unit made before the charge is deleted if the budget is spent
        return unit;
    }

    Por::Construction::InMemoryUnitFactory m_inner;
};

} // namespace PorTesting
