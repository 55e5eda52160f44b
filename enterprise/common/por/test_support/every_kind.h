// Test support: reading values, reaching the containers of construction
// units, building a unit of every kind with traits at every level, and listing
// every unit of a tree.
//
// Threading: test thread only.
#pragma once

#include <limits>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "core/common/error.h"
#include "enterprise/common/por/array_visitor.h"
#include "enterprise/common/por/types_mismatch.h"
#include "enterprise/common/por/unit_factory.h"
#include "enterprise/common/por/utils.h"

namespace PorTesting {

using UnitPtr = std::unique_ptr<Por::Construction::Unit>;

template <typename T>
struct ValueReader
{
    std::optional<T> value;
    void operator()(const Por::View::ScalarValue<T>& scalar) { value = scalar.Get(); }
    void operator()(const Por::View::ComplexValue<T>& complex) { value = complex.Get(); }
    template <typename Other>
    void operator()(const Other&)
    {
    }
};

// The value of a unit of the kind whose value type is T; empty for any other kind.
template <typename T>
std::optional<T> ReadValue(const Por::View::Unit& unit)
{
    ValueReader<T> reader;
    Por::View::Detail::UnitVisitorAdaptor<ValueReader<T>> adaptor(&reader);
    unit.Accept(adaptor);
    return reader.value;
}

// The changeable composite or array value of a construction unit (a unit of
// another kind raises the type-mismatch error).
inline Por::Construction::CompositeValue& CompositeOf(Por::Construction::Unit& unit)
{
    return Por::Util::GetCompositeValue(unit);
}

inline Por::Construction::ArrayValue& ArrayOf(Por::Construction::Unit& unit)
{
    struct Finder : Por::Construction::ArrayVisitor
    {
        Por::Construction::ArrayValue* value = nullptr;
        using ArrayVisitor::Visit;
        void Visit(Por::Construction::ArrayValue& array) override { value = &array; }
    } finder;
    unit.Accept(finder);
    return *finder.value;
}

inline void SetProperty(const Por::Construction::UnitFactory& factory, Por::Construction::Unit& composite,
                        const Por::Name& name, UnitPtr value)
{
    CompositeOf(composite).Set(factory.CreateProperty(name, std::move(value)));
}

inline void AddTrait(const Por::Construction::UnitFactory& factory, Por::Construction::Unit& unit,
                     const Por::Name& name, UnitPtr value)
{
    unit.traits().Add(factory.CreateTrait(name, std::move(value)));
}

// One unit of each of the 17 kinds (index = kind), each with a trait of its own.
inline UnitPtr MakeUnitOfKind(const Por::Construction::UnitFactory& factory, int kind)
{
    UnitPtr unit;
    switch (kind) {
    case 0:
        unit = factory.CreateNil();
        break;
    case 1:
        unit = factory.CreateBoolean(true);
        break;
    case 2:
        unit = factory.CreateByte(0xFE);
        break;
    case 3:
        unit = factory.CreateSByte(-5);
        break;
    case 4:
        unit = factory.CreateWord(0xFFFE);
        break;
    case 5:
        unit = factory.CreateSWord(-300);
        break;
    case 6:
        unit = factory.CreateDWord(0xFFFFFFF0u);
        break;
    case 7:
        unit = factory.CreateSDWord(-70000);
        break;
    case 8:
        unit = factory.CreateQWord(0xFFFFFFFFFFFFFFF0ull);
        break;
    case 9:
        unit = factory.CreateSQWord(std::numeric_limits<long long>::min());
        break;
    case 10:
        unit = factory.CreateDouble(-2.5e-300);
        break;
    case 11:
        unit = factory.CreateBlob({0, 1, 0xFF});
        break;
    case 12: {
        const Por::GuidType guid{0x01234567u, 0x89AB, 0xCDEF, {0, 1, 2, 3, 4, 5, 6, 0xFF}};
        unit = factory.CreateGuid(guid);
        break;
    }
    case 13:
        unit = factory.CreateString(u"t\u00e9xt");
        break;
    case 14: {
        Common::Error cause(0x40002, u"cause", Common::Location{0x10, "test/cause", "Read", 7});
        Common::Error error(0xFA0001, u"outer", Common::Location{0x20, "test/outer", "Run", 9});
        error.AddCause(cause);
        unit = factory.CreateError(error);
        break;
    }
    case 15: {
        unit = factory.CreateArray();
        ArrayOf(*unit).PushBack(factory.CreateDWord(1));
        UnitPtr element = factory.CreateString(u"e");
        AddTrait(factory, *element, "ElementTrait", factory.CreateNil());
        ArrayOf(*unit).PushBack(std::move(element));
        break;
    }
    default: {
        unit = factory.CreateComposite();
        UnitPtr inner = factory.CreateWord(3);
        AddTrait(factory, *inner, "Deep", factory.CreateBoolean(false));
        SetProperty(factory, *unit, "inner", std::move(inner));
        break;
    }
    }
    AddTrait(factory, *unit, "Kind", factory.CreateSDWord(kind));
    return unit;
}

// A Composite root holding one property per kind ("k0".."k16"), an array of
// one unit per kind, and traits at the root, including a Composite trait
// value with traits of its own.
inline UnitPtr MakeRichUnit(const Por::Construction::UnitFactory& factory)
{
    static const char* const names[17] = {"k0", "k1",  "k2",  "k3",  "k4",  "k5",  "k6",  "k7", "k8",
                                          "k9", "k10", "k11", "k12", "k13", "k14", "k15", "k16"};
    UnitPtr root = factory.CreateComposite();
    UnitPtr all = factory.CreateArray();
    for (int kind = 0; kind < 17; ++kind) {
        SetProperty(factory, *root, Por::Name(std::string(names[kind])), MakeUnitOfKind(factory, kind));
        ArrayOf(*all).PushBack(MakeUnitOfKind(factory, kind));
    }
    SetProperty(factory, *root, "all", std::move(all));
    UnitPtr traitValue = MakeUnitOfKind(factory, 16);
    AddTrait(factory, *traitValue, "Nested", factory.CreateQWord(5));
    AddTrait(factory, *root, "Root", std::move(traitValue));
    AddTrait(factory, *root, "Root", factory.CreateString(u"second"));
    return root;
}

// Every unit of a tree (the root, property values, elements and trait values
// at every level), by address.
inline void CollectUnits(const Por::View::Unit& unit, std::set<const void*>& units)
{
    units.insert(&unit);
    struct Collector final : Por::View::NullVisitor,
                             Por::ItemProcessor<const Por::View::Unit>,
                             Por::ItemProcessor<const Por::View::Property>,
                             Por::ItemProcessor<const Por::View::Trait>
    {
        std::set<const void*>& units;
        explicit Collector(std::set<const void*>& found) : units(found) {}
        using NullVisitor::Visit;
        void Visit(const Por::View::ArrayValue& array) override
        {
            array.ForEach(static_cast<Por::ItemProcessor<const Por::View::Unit>&>(*this));
        }
        void Visit(const Por::View::CompositeValue& composite) override
        {
            composite.ForEach(static_cast<Por::ItemProcessor<const Por::View::Property>&>(*this));
        }
        bool Process(const Por::View::Unit& element) override
        {
            CollectUnits(element, units);
            return false;
        }
        bool Process(const Por::View::Property& property) override
        {
            CollectUnits(property.GetValue(), units);
            return false;
        }
        bool Process(const Por::View::Trait& trait) override
        {
            CollectUnits(trait.GetValue(), units);
            return false;
        }
    } collector(units);
    unit.Accept(collector);
    unit.traits().ForEach(static_cast<Por::ItemProcessor<const Por::View::Trait>&>(collector));
}

} // namespace PorTesting
