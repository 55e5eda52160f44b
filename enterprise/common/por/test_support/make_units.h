// Compact construction of unit trees for tests, through any unit factory:
//
//     PorTesting::Make m(factory);
//     auto unit = m.Composite(m.Prop("a", m.Word(1)), m.Prop("b", m.Array(m.Nil(), m.String(u"x"))));
//     m.Trait(*unit, "T", m.Byte(1));
//
// Threading: none.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "enterprise/common/por/unit.h"
#include "enterprise/common/por/unit_factory.h"

namespace PorTesting {

using UnitPtr = std::unique_ptr<Por::Construction::Unit>;

struct NamedUnit
{
    Por::Name name;
    UnitPtr value;
};

namespace Detail {
struct ElementPusher
{
    UnitPtr* element;
    void operator()(Por::Construction::ArrayValue& value) { value.PushBack(std::move(*element)); }
    template <typename Other>
    void operator()(Other&)
    {
    }
};
struct PropertySetter
{
    std::unique_ptr<Por::Construction::Property> property;
    void operator()(Por::Construction::CompositeValue& value) { value.Set(std::move(property)); }
    template <typename Other>
    void operator()(Other&)
    {
    }
};
} // namespace Detail

class Make
{
public:
    explicit Make(const Por::Construction::UnitFactory& factory) : m_factory(factory) {}

    UnitPtr Nil() const { return m_factory.CreateNil(); }
#define POR_MAKE_SCALAR(Name, Type)           \
    UnitPtr Name(Type value) const            \
    {                                         \
        return m_factory.Create##Name(value); \
    }
    POR_SCALAR_KINDS(POR_MAKE_SCALAR)
#undef POR_MAKE_SCALAR
#define POR_MAKE_COMPLEX(Name, Type)          \
    UnitPtr Name(const Type& value) const     \
    {                                         \
        return m_factory.Create##Name(value); \
    }
    POR_COMPLEX_KINDS(POR_MAKE_COMPLEX)
#undef POR_MAKE_COMPLEX

    template <typename... Elements>
    UnitPtr Array(Elements... elements) const
    {
        UnitPtr array = m_factory.CreateArray();
        auto push = [&](UnitPtr element) {
            Detail::ElementPusher pusher{&element};
            Por::Construction::Detail::UnitVisitorAdaptor<Detail::ElementPusher> adaptor(&pusher);
            array->Accept(adaptor);
        };
        (void)push;
        (push(std::move(elements)), ...);
        return array;
    }

    NamedUnit Prop(const Por::Name& name, UnitPtr value) const
    {
        return NamedUnit{name, std::move(value)};
    }

    template <typename... Properties>
    UnitPtr Composite(Properties... properties) const
    {
        UnitPtr composite = m_factory.CreateComposite();
        auto set = [&](NamedUnit property) {
            Detail::PropertySetter setter{m_factory.CreateProperty(property.name, std::move(property.value))};
            Por::Construction::Detail::UnitVisitorAdaptor<Detail::PropertySetter> adaptor(&setter);
            composite->Accept(adaptor);
        };
        (void)set;
        (set(std::move(properties)), ...);
        return composite;
    }

    // Adds a trait to `unit` and gives the unit back (for chaining).
    UnitPtr With(UnitPtr unit, const Por::Name& name, UnitPtr value) const
    {
        unit->traits().Add(m_factory.CreateTrait(name, std::move(value)));
        return unit;
    }

private:
    const Por::Construction::UnitFactory& m_factory;
};

} // namespace PorTesting
