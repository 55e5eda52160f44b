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
    return *position->properties->Sorted()[position->index];
}

template <typename T, typename V>
void NextProperty(void* state)
{
    auto* position = static_cast<CompositeValueHolder::IteratorState<T, V>*>(state);
    if (position->index < position->properties->Sorted().size())
        ++position->index;
}

template <typename T, typename V>
bool IsValidPosition(void* state)
{
    auto* position = static_cast<CompositeValueHolder::IteratorState<T, V>*>(state);
    return position->index < position->properties->Sorted().size();
}

template <typename T, typename V>
PropertyIterator<T> MakeIterator(V* properties)
{
    auto state = std::make_shared<CompositeValueHolder::IteratorState<T, V>>();
    state->index = 0;
    state->properties = properties;
    return PropertyIterator<T>(std::move(state), &CurrentProperty<T, V>, &NextProperty<T, V>, &IsValidPosition<T, V>);
}

// An out-of-order property goes straight into the sorted ones when at most
// this many of them move for it; otherwise it waits for the next merge.
constexpr std::ptrdiff_t kInsertInPlaceShift = 64;
constexpr size_t kFirstRoom = 3;

// strcmp of two names, inline: property names are short, and most
// comparisons end within their first characters.
inline int CompareText(const char* left, const char* right) noexcept
{
    while (*left != '\0' && *left == *right) {
        ++left;
        ++right;
    }
    return static_cast<int>(static_cast<unsigned char>(*left)) - static_cast<int>(static_cast<unsigned char>(*right));
}

const char* NameOf(const Construction::Property& property) noexcept
{
    return property.GetName().GetText();
}

} // namespace

CompositeValueHolder::Properties::~Properties()
{
    Merge(); // the properties die in name order
}

CompositeValueHolder::PropertyVector::iterator
CompositeValueHolder::Properties::LowerBound(const char* name) const noexcept
{
    return std::lower_bound(m_sorted.begin(), m_sorted.end(), name, [](const auto& property, const char* text) {
        return CompareText(NameOf(*property), text) < 0;
    });
}

CompositeValueHolder::PropertyVector& CompositeValueHolder::Properties::Sorted() const noexcept
{
    m_merge.Settle([this] { Merge(); });
    return m_sorted;
}

void CompositeValueHolder::Properties::Merge() const noexcept
{
    if (!AnyWaiting())
        return;
    // Set reserved the room: this resize allocates nothing. The merge runs from
    // the back, so each property moves once.
    size_t sorted = m_sorted.size();
    size_t free = sorted + m_waiting->size();
    m_sorted.resize(free);
    for (auto waiting = m_waiting->rbegin(); waiting != m_waiting->rend();) {
        if (sorted > 0 && CompareText(NameOf(*m_sorted[sorted - 1]), waiting->first) > 0)
            m_sorted[--free] = std::move(m_sorted[--sorted]);
        else
            m_sorted[--free] = std::move((waiting++)->second);
    }
    m_waiting->clear();
}

Construction::Property* CompositeValueHolder::Properties::Find(const char* name) const noexcept
{
    // Names mostly come in order: one beyond the last sorted one is not
    // among the sorted ones.
    if (!m_sorted.empty()) {
        const int last = CompareText(NameOf(*m_sorted.back()), name);
        if (last == 0)
            return m_sorted.back().get();
        if (last > 0) {
            const auto position = LowerBound(name);
            if (CompareText(NameOf(**position), name) == 0)
                return position->get();
        }
    }
    if (!AnyWaiting())
        return nullptr;
    const auto waiting = m_waiting->find(name);
    return waiting == m_waiting->end() ? nullptr : waiting->second.get();
}

void CompositeValueHolder::Properties::Set(std::unique_ptr<Construction::Property>& property)
{
    const char* name = NameOf(*property);
    // In order: behind the last property, compared with it alone.
    if (!AnyWaiting()) {
        const int last = m_sorted.empty() ? -1 : CompareText(NameOf(*m_sorted.back()), name);
        if (last < 0) {
            // The first room is for three properties: no more than the heap's
            // smallest block gives one.
            if (m_sorted.capacity() == 0)
                m_sorted.reserve(kFirstRoom);
            m_sorted.push_back(std::move(property));
            return;
        }
        if (last == 0) {
            m_sorted.back() = std::move(property); // deletes the property it replaces
            return;
        }
    }
    const auto position = LowerBound(name);
    if (position != m_sorted.end() && CompareText(NameOf(**position), name) == 0) {
        *position = std::move(property); // deletes the property it replaces
        return;
    }
    if (AnyWaiting()) {
        if (const auto waiting = m_waiting->find(name); waiting != m_waiting->end()) {
            auto node = m_waiting->extract(waiting); // rekeyed to the new property's own name
            node.key() = name;
            node.mapped() = std::move(property); // deletes the property it replaces
            m_waiting->insert(std::move(node));
            return;
        }
    }
    // Room for the merge of every waiting property, grown geometrically, so
    // that merging cannot fail.
    const auto index = position - m_sorted.begin();
    const size_t needed = m_sorted.size() + (m_waiting ? m_waiting->size() : 0) + 1;
    if (m_sorted.capacity() < needed)
        m_sorted.reserve(std::max(needed, 2 * m_sorted.capacity()));
    // Out of order, near the end: inserted in place, shifting a few.
    if (static_cast<std::ptrdiff_t>(m_sorted.size()) - index <= kInsertInPlaceShift) {
        m_sorted.insert(m_sorted.begin() + index, std::move(property));
        return;
    }
    if (!m_waiting)
        m_waiting = std::make_unique<WaitingMap>();
    m_waiting->try_emplace(name, std::move(property));
    m_merge.Raise();
}

void CompositeValueHolder::Properties::Remove(const char* name) noexcept
{
    if (AnyWaiting()) {
        if (const auto waiting = m_waiting->find(name); waiting != m_waiting->end()) {
            m_waiting->erase(waiting);
            return;
        }
    }
    const auto position = LowerBound(name);
    if (position != m_sorted.end() && CompareText(NameOf(**position), name) == 0)
        m_sorted.erase(position);
}

template <typename T>
void CompositeValueHolder::HandEach(ItemProcessor<T>& processor) const
{
    for (const auto& property : m_properties.Sorted()) {
        if (processor.Process(*property))
            return;
    }
}

template <typename T>
bool CompositeValueHolder::HandNamed(const Name& name, ItemProcessor<T>& processor) const
{
    Construction::Property* property = m_properties.Find(name.GetText());
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
    m_properties.Set(property);
}

void CompositeValueHolder::Remove(const Name& name)
{
    m_properties.Remove(name.GetText());
}

PropertyIterator<Construction::Property> CompositeValueHolder::Enumerate()
{
    return MakeIterator<Construction::Property>(&m_properties);
}

} // namespace Por
