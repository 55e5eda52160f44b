// A unit implementation for tests only, written against the interfaces alone:
// traits are kept in insertion order (repeats kept as given), composite
// properties in insertion order (one per name, Set replaces in place), array
// elements in a vector. Code that works through the interfaces must give the
// same answers for these units as for the in-memory ones.
//
// The copying adders of the Modification level are not supported (they throw
// std::logic_error): tests of this implementation build trees by taking units
// over.
//
// Threading: none.
#pragma once

#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "enterprise/common/por/unit.h"
#include "enterprise/common/por/unit_factory.h"

namespace PorTesting {

namespace Detail {

template <typename Owned>
std::unique_ptr<Owned> TakeChecked(std::unique_ptr<Owned>&& owned)
{
    if (!owned)
        throw std::invalid_argument("null unit");
    return std::move(owned);
}

} // namespace Detail

class ListTrait final : public Por::View::Trait
{
public:
    ListTrait(const Por::Name& name, std::unique_ptr<Por::Construction::Unit>&& value)
        : m_name(name), m_value(Detail::TakeChecked(std::move(value)))
    {
    }
    const Por::Name& GetName() const override { return m_name; }
    const Por::View::Unit& GetValue() const override { return *m_value; }

private:
    Por::Name m_name;
    std::unique_ptr<Por::Construction::Unit> m_value;
};

class ListProperty final : public Por::Construction::Property
{
public:
    ListProperty(const Por::Name& name, std::unique_ptr<Por::Construction::Unit>&& value)
        : m_name(name), m_value(Detail::TakeChecked(std::move(value)))
    {
    }
    const Por::Name& GetName() const override { return m_name; }
    const Por::View::Unit& GetValue() const override { return *m_value; }
    Por::Construction::Unit& GetValue() override { return *m_value; }

private:
    Por::Name m_name;
    std::unique_ptr<Por::Construction::Unit> m_value;
};

class ListTraits final : public Por::Construction::Traits
{
public:
    void ForEach(Por::ItemProcessor<const Por::View::Trait>& processor) const override
    {
        for (const auto& trait : m_traits) {
            if (processor.Process(*trait))
                return;
        }
    }
    void ForEachNamed(const Por::Name& name, Por::ItemProcessor<const Por::View::Trait>& processor) const override
    {
        for (const auto& trait : m_traits) {
            if (trait->GetName() == name && processor.Process(*trait))
                return;
        }
    }
    void Add(std::unique_ptr<Por::View::Trait>&& trait) override
    {
        m_traits.push_back(Detail::TakeChecked(std::move(trait)));
    }
    unsigned int Remove(const Por::Name& name) override
    {
        const size_t before = m_traits.size();
        std::erase_if(m_traits, [&](const auto& trait) { return trait->GetName() == name; });
        return static_cast<unsigned int>(before - m_traits.size());
    }

private:
    std::vector<std::unique_ptr<Por::View::Trait>> m_traits;
};

class ListNil final : public Por::Construction::NilValue
{
};

template <typename T>
class ListScalar final : public Por::Construction::ScalarValue<T>
{
public:
    explicit ListScalar(T value) : m_value(value) {}
    T Get() const override { return m_value; }
    void Set(T value) override { m_value = value; }

private:
    T m_value;
};

template <typename T>
class ListComplex final : public Por::Construction::ComplexValue<T>
{
public:
    explicit ListComplex(const T& value) : m_value(value) {}
    const T& Get() const override { return m_value; }
    void Set(const T& value) override { m_value = value; }

private:
    T m_value;
};

class ListArray final : public Por::Construction::ArrayValue
{
public:
    using Element = std::unique_ptr<Por::Construction::Unit>;

    bool IsEmpty() const override { return m_elements.empty(); }
    size_t GetSize() const override { return m_elements.size(); }
    void Front(Por::ItemProcessor<const Por::View::Unit>& processor) const override { At(0, processor); }
    void Back(Por::ItemProcessor<const Por::View::Unit>& processor) const override
    {
        At(m_elements.size() - 1, processor);
    }
    void At(size_t index, Por::ItemProcessor<const Por::View::Unit>& processor) const override
    {
        processor.Process(*m_elements.at(index));
    }
    void ForEach(Por::ItemProcessor<const Por::View::Unit>& processor) const override { Each(processor); }

    void Clear() override { m_elements.clear(); }
    void Insert(size_t, Element&) override { throw std::logic_error("copying adders are not supported"); }
    void Erase(size_t index) override { m_elements.erase(m_elements.begin() + Checked(index, m_elements.size())); }
    void Front(Por::ItemProcessor<Por::Modification::Unit>& processor) override { At(0, processor); }
    void Back(Por::ItemProcessor<Por::Modification::Unit>& processor) override { At(m_elements.size() - 1, processor); }
    void PushBack(Element&) override { throw std::logic_error("copying adders are not supported"); }
    void PushFront(Element&) override { throw std::logic_error("copying adders are not supported"); }
    void PopBack() override
    {
        if (!m_elements.empty())
            m_elements.pop_back();
    }
    void PopFront() override
    {
        if (!m_elements.empty())
            m_elements.erase(m_elements.begin());
    }
    void At(size_t index, Por::ItemProcessor<Por::Modification::Unit>& processor) override
    {
        processor.Process(*m_elements.at(index));
    }
    void ForEach(Por::ItemProcessor<Por::Modification::Unit>& processor) override { Each(processor); }

    void Insert(size_t index, Element&& unit) override
    {
        m_elements.insert(m_elements.begin() + Checked(index, m_elements.size() + 1),
                          Detail::TakeChecked(std::move(unit)));
    }
    void Front(Por::ItemProcessor<Por::Construction::Unit>& processor) override { At(0, processor); }
    void Back(Por::ItemProcessor<Por::Construction::Unit>& processor) override { At(m_elements.size() - 1, processor); }
    void PushBack(Element&& unit) override { m_elements.push_back(Detail::TakeChecked(std::move(unit))); }
    void PushFront(Element&& unit) override { Insert(0, std::move(unit)); }
    void At(size_t index, Por::ItemProcessor<Por::Construction::Unit>& processor) override
    {
        processor.Process(*m_elements.at(index));
    }
    void ForEach(Por::ItemProcessor<Por::Construction::Unit>& processor) override { Each(processor); }

private:
    static ptrdiff_t Checked(size_t index, size_t bound)
    {
        if (index >= bound)
            throw std::out_of_range("array index");
        return static_cast<ptrdiff_t>(index);
    }
    template <typename Processor>
    void Each(Processor& processor) const
    {
        for (const auto& element : m_elements) {
            if (processor.Process(*element))
                return;
        }
    }

    std::vector<Element> m_elements;
};

class ListComposite final : public Por::Construction::CompositeValue
{
public:
    using Entry = std::unique_ptr<Por::Construction::Property>;

    void ForEach(Por::ItemProcessor<const Por::View::Property>& processor) const override { Each(processor); }
    bool ForEachNamed(const Por::Name& name, Por::ItemProcessor<const Por::View::Property>& processor) const override
    {
        return Named(name, processor);
    }
    Por::PropertyIterator<const Por::View::Property> Enumerate() const override
    {
        return Iterate<const Por::View::Property>();
    }
    void ForEach(Por::ItemProcessor<Por::Modification::Property>& processor) override { Each(processor); }
    bool ForEachNamed(const Por::Name& name, Por::ItemProcessor<Por::Modification::Property>& processor) override
    {
        return Named(name, processor);
    }
    void ForEach(Por::ItemProcessor<Por::Construction::Property>& processor) override { Each(processor); }
    bool ForEachNamed(const Por::Name& name, Por::ItemProcessor<Por::Construction::Property>& processor) override
    {
        return Named(name, processor);
    }
    void Set(Entry&& property) override
    {
        Entry taken = Detail::TakeChecked(std::move(property));
        for (auto& entry : m_properties) {
            if (entry->GetName() == taken->GetName()) {
                entry = std::move(taken);
                return;
            }
        }
        m_properties.push_back(std::move(taken));
    }
    void Remove(const Por::Name& name) override
    {
        std::erase_if(m_properties, [&](const Entry& entry) { return entry->GetName() == name; });
    }
    Por::PropertyIterator<Por::Construction::Property> Enumerate() override
    {
        return Iterate<Por::Construction::Property>();
    }

private:
    struct State
    {
        size_t index;
        const std::vector<Entry>* properties;
    };

    template <typename Processor>
    void Each(Processor& processor) const
    {
        for (const auto& entry : m_properties) {
            if (processor.Process(*entry))
                return;
        }
    }
    template <typename Processor>
    bool Named(const Por::Name& name, Processor& processor) const
    {
        for (const auto& entry : m_properties) {
            if (entry->GetName() == name) {
                processor.Process(*entry);
                return true;
            }
        }
        return false;
    }
    template <typename T>
    Por::PropertyIterator<T> Iterate() const
    {
        return Por::PropertyIterator<T>(
            std::make_shared<State>(State{0, &m_properties}),
            [](void* state) -> T& {
                auto* s = static_cast<State*>(state);
                return *(*s->properties)[s->index];
            },
            [](void* state) {
                auto* s = static_cast<State*>(state);
                if (s->index < s->properties->size())
                    ++s->index;
            },
            [](void* state) {
                auto* s = static_cast<State*>(state);
                return s->index < s->properties->size();
            });
    }

    std::vector<Entry> m_properties;
};

template <typename Holder>
class ListUnit final : public Por::Construction::Unit
{
public:
    template <typename... Args>
    explicit ListUnit(Args&&... args) : m_value(std::forward<Args>(args)...)
    {
    }
    void Accept(Por::View::UnitReader& reader) const override { reader.Visit(m_value); }
    const Por::View::Traits& traits() const override { return m_traits; }
    void Accept(Por::Modification::UnitWriter& writer) override { writer.Visit(m_value); }
    void Accept(Por::Construction::UnitBuilder& builder) override { builder.Visit(m_value); }
    Por::Construction::Traits& traits() override { return m_traits; }

private:
    Holder m_value;
    ListTraits m_traits;
};

// A unit whose Accept visits no kind.
class KindlessUnit final : public Por::Construction::Unit
{
public:
    void Accept(Por::View::UnitReader&) const override {}
    const Por::View::Traits& traits() const override { return m_traits; }
    void Accept(Por::Modification::UnitWriter&) override {}
    void Accept(Por::Construction::UnitBuilder&) override {}
    Por::Construction::Traits& traits() override { return m_traits; }

private:
    ListTraits m_traits;
};

class ListUnitFactory final : public Por::Construction::UnitFactory
{
public:
    using UnitPtr = std::unique_ptr<Por::Construction::Unit>;

    UnitPtr CreateNil() const override { return std::make_unique<ListUnit<ListNil>>(); }
#define POR_LIST_SCALAR(Name, Type)                                 \
    UnitPtr Create##Name(Type value) const override                 \
    {                                                               \
        return std::make_unique<ListUnit<ListScalar<Type>>>(value); \
    }
    POR_SCALAR_KINDS(POR_LIST_SCALAR)
#undef POR_LIST_SCALAR
#define POR_LIST_COMPLEX(Name, Type)                                 \
    UnitPtr Create##Name(const Type& value) const override           \
    {                                                                \
        return std::make_unique<ListUnit<ListComplex<Type>>>(value); \
    }
    POR_COMPLEX_KINDS(POR_LIST_COMPLEX)
#undef POR_LIST_COMPLEX
    UnitPtr CreateArray() const override
    {
        return std::make_unique<ListUnit<ListArray>>();
    }
    UnitPtr CreateComposite() const override
    {
        return std::make_unique<ListUnit<ListComposite>>();
    }
    std::unique_ptr<Por::View::Trait> CreateTrait(const Por::Name& name, UnitPtr&& value) const override
    {
        return std::make_unique<ListTrait>(name, std::move(value));
    }
    std::unique_ptr<Por::Construction::Property> CreateProperty(const Por::Name& name, UnitPtr&& value) const override
    {
        return std::make_unique<ListProperty>(name, std::move(value));
    }
};

} // namespace PorTesting
