#include "enterprise/common/por/composite_value_holder.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "core/common/location.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/por_errors.h"

namespace Por {

namespace {

constexpr Common::SourceFile kSource("enterprise/common/por/composite_value_holder", 0xffb2c315d03a8ee4);

template <typename T, typename V>
T& CurrentProperty(void* state)
{
    auto* position = static_cast<CompositeValueHolder::IteratorState<T, V>*>(state);
    return *(*position->properties)[position->index];
}

template <typename T, typename V>
void NextProperty(void* state)
{
    auto* position = static_cast<CompositeValueHolder::IteratorState<T, V>*>(state);
    if (position->index < position->properties->size())
        ++position->index;
}

template <typename T, typename V>
bool IsValidPosition(void* state)
{
    auto* position = static_cast<CompositeValueHolder::IteratorState<T, V>*>(state);
    return position->index < position->properties->size();
}

template <typename T, typename V>
PropertyIterator<T> MakeIterator(V* properties)
{
    auto state = std::make_shared<CompositeValueHolder::IteratorState<T, V>>();
    state->index = 0;
    state->properties = properties;
    return PropertyIterator<T>(std::move(state), &CurrentProperty<T, V>, &NextProperty<T, V>, &IsValidPosition<T, V>);
}

} // namespace

CompositeValueHolder::PropertyVector::const_iterator CompositeValueHolder::LowerBound(const char* name) const noexcept
{
    return std::lower_bound(m_properties.begin(), m_properties.end(), name, [](const auto& property, const char* text) {
        return std::strcmp(property->GetName().GetText(), text) < 0;
    });
}

Construction::Property* CompositeValueHolder::Find(const char* name) const noexcept
{
    const auto position = LowerBound(name);
    if (position == m_properties.end() || std::strcmp((*position)->GetName().GetText(), name) != 0)
        return nullptr;
    return position->get();
}

template <typename T>
void CompositeValueHolder::HandEach(ItemProcessor<T>& processor) const
{
    for (const auto& property : m_properties) {
        if (processor.Process(*property))
            return;
    }
}

template <typename T>
bool CompositeValueHolder::HandNamed(const Name& name, ItemProcessor<T>& processor) const
{
    Construction::Property* property = Find(name.GetText());
    if (!property)
        return false;
    (void)processor.Process(*property); // one property: its answer changes nothing
    return true;
}

void CompositeValueHolder::ForEach(ItemProcessor<const View::Property>& processor) const
{
    HandEach(processor);
}

bool CompositeValueHolder::ForEachNamed(const Name& name, ItemProcessor<const View::Property>& processor) const
{
    return HandNamed(name, processor);
}

PropertyIterator<const View::Property> CompositeValueHolder::Enumerate() const
{
    return MakeIterator<const View::Property>(&m_properties);
}

void CompositeValueHolder::ForEach(ItemProcessor<Modification::Property>& processor)
{
    HandEach(processor);
}

bool CompositeValueHolder::ForEachNamed(const Name& name, ItemProcessor<Modification::Property>& processor)
{
    return HandNamed(name, processor);
}

void CompositeValueHolder::ForEach(ItemProcessor<Construction::Property>& processor)
{
    HandEach(processor);
}

bool CompositeValueHolder::ForEachNamed(const Name& name, ItemProcessor<Construction::Property>& processor)
{
    return HandNamed(name, processor);
}

void CompositeValueHolder::Set(std::unique_ptr<Construction::Property>&& property)
{
    if (!property)
        ThrowModuleError(PorErrors::kNullUnit, PorErrors::kNullUnitText, kSource.At("Set", 104));
    const char* name = property->GetName().GetText();
    const auto position = m_properties.begin() + (LowerBound(name) - m_properties.cbegin());
    if (position != m_properties.end() && std::strcmp((*position)->GetName().GetText(), name) == 0)
        *position = std::move(property); // deletes the property it replaces
    else
        m_properties.insert(position, std::move(property));
}

void CompositeValueHolder::Remove(const Name& name)
{
    const auto position = LowerBound(name.GetText());
    if (position != m_properties.end() && std::strcmp((*position)->GetName().GetText(), name.GetText()) == 0)
        m_properties.erase(position);
}

PropertyIterator<Construction::Property> CompositeValueHolder::Enumerate()
{
    return MakeIterator<Construction::Property>(&m_properties);
}

} // namespace Por
