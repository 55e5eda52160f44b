#include "enterprise/common/por/unit_copier.h"

#include <utility>

#include "enterprise/common/por/array_visitor.h"
#include "enterprise/common/por/types_mismatch.h"
#include "enterprise/common/por/value_creator.h"

namespace Por::Util {

namespace {

using Construction::UnitFactory;
using UnitPtr = std::unique_ptr<Construction::Unit>;

// Copies one unit: value, then traits.
class UnitCopier final : public ItemProcessor<const View::Unit>
{
public:
    explicit UnitCopier(const UnitFactory& factory) noexcept : m_factory(factory) {}

    bool Process(const View::Unit& source) override;
    UnitPtr TakeResult() noexcept { return std::move(m_result); }

private:
    const UnitFactory& m_factory;
    UnitPtr m_result;
};

// Creates the new unit of the visited value's kind and fills containers.
class UnitValueCopier
{
public:
    explicit UnitValueCopier(const UnitFactory& factory) noexcept : m_factory(factory) {}

    void operator()(const View::NilValue& value) { m_result = CopyNilValue(value, m_factory); }
    template <typename T>
    void operator()(const View::ScalarValue<T>& value)
    {
        m_result = CreateUnitOf(m_factory, value.Get());
    }
    template <typename T>
    void operator()(const View::ComplexValue<T>& value)
    {
        m_result = CreateUnitOf(m_factory, value.Get());
    }
    void operator()(const View::ArrayValue& value) { m_result = CopyArrayValue(value, m_factory); }
    void operator()(const View::CompositeValue& value) { m_result = CopyCompositeValue(value, m_factory); }

    UnitPtr TakeResult() noexcept { return std::move(m_result); }

private:
    const UnitFactory& m_factory;
    UnitPtr m_result;
};

UnitPtr CopyValueOf(const View::Unit& source, const UnitFactory& factory)
{
    UnitValueCopier valueCopier(factory);
    View::Detail::UnitVisitorAdaptor<UnitValueCopier> adaptor(&valueCopier);
    source.Accept(adaptor);
    UnitPtr result = valueCopier.TakeResult();
    if (!result)
        Detail::ThrowTypeMismatchError(); // a unit whose Accept visited nothing, or a creator that made nothing
    return result;
}

UnitPtr CopyOne(const View::Unit& source, const UnitFactory& factory)
{
    UnitCopier copier(factory);
    (void)copier.Process(source); // always answers false
    return copier.TakeResult();
}

class TraitsFitter final : public ItemProcessor<const View::Trait>
{
public:
    TraitsFitter(const UnitFactory& factory, Construction::Traits& target) noexcept
        : m_factory(factory), m_target(target)
    {
    }

    bool Process(const View::Trait& trait) override
    {
        m_target.Add(m_factory.CreateTrait(trait.GetName(), CopyOne(trait.GetValue(), m_factory)));
        return false;
    }

private:
    const UnitFactory& m_factory;
    Construction::Traits& m_target;
};

class ArrayValueFitter final : public ItemProcessor<const View::Unit>
{
public:
    ArrayValueFitter(const UnitFactory& factory, Construction::ArrayValue& target) noexcept
        : m_factory(factory), m_target(target)
    {
    }

    bool Process(const View::Unit& element) override
    {
        m_target.PushBack(CopyOne(element, m_factory));
        return false;
    }

private:
    const UnitFactory& m_factory;
    Construction::ArrayValue& m_target;
};

class CompositeValueFitter final : public ItemProcessor<const View::Property>
{
public:
    CompositeValueFitter(const UnitFactory& factory, Construction::CompositeValue& target) noexcept
        : m_factory(factory), m_target(target)
    {
    }

    bool Process(const View::Property& property) override
    {
        m_target.Set(m_factory.CreateProperty(property.GetName(), CopyOne(property.GetValue(), m_factory)));
        return false;
    }

private:
    const UnitFactory& m_factory;
    Construction::CompositeValue& m_target;
};

// Fills the new array unit it visits from the source array.
class ArrayValueAccessor final : public Construction::ArrayVisitor
{
public:
    ArrayValueAccessor(const UnitFactory& factory, const View::ArrayValue& source) noexcept
        : m_factory(factory), m_source(source)
    {
    }

    using ArrayVisitor::Visit;
    void Visit(Construction::ArrayValue& target) override
    {
        ArrayValueFitter fitter(m_factory, target);
        m_source.ForEach(fitter);
    }

private:
    const UnitFactory& m_factory;
    const View::ArrayValue& m_source;
};

// Fills the new composite unit it visits from the source composite.
class CompositeValueAccessor final : public Construction::CompositeVisitor
{
public:
    CompositeValueAccessor(const UnitFactory& factory, const View::CompositeValue& source) noexcept
        : m_factory(factory), m_source(source)
    {
    }

    using CompositeVisitor::Visit;
    void Visit(Construction::CompositeValue& target) override
    {
        CompositeValueFitter fitter(m_factory, target);
        m_source.ForEach(fitter);
    }

private:
    const UnitFactory& m_factory;
    const View::CompositeValue& m_source;
};

bool UnitCopier::Process(const View::Unit& source)
{
    m_result = CopyValueOf(source, m_factory);
    TraitsFitter fitter(m_factory, m_result->traits());
    source.traits().ForEach(fitter);
    return false;
}

} // namespace

UnitPtr CopyUnitValue(const View::Unit& source, const UnitFactory& factory)
{
    return CopyValueOf(source, factory);
}

UnitPtr CopyUnit(const View::Unit& source, const UnitFactory& factory)
{
    return CopyOne(source, factory);
}

UnitPtr CopyNilValue(const View::NilValue&, const UnitFactory& factory)
{
    return factory.CreateNil();
}

UnitPtr CopyArrayValue(const View::ArrayValue& value, const UnitFactory& factory)
{
    UnitPtr result = factory.CreateArray();
    ArrayValueAccessor accessor(factory, value);
    result->Accept(accessor);
    return result;
}

UnitPtr CopyCompositeValue(const View::CompositeValue& value, const UnitFactory& factory)
{
    UnitPtr result = factory.CreateComposite();
    CompositeValueAccessor accessor(factory, value);
    result->Accept(accessor);
    return result;
}

} // namespace Por::Util
