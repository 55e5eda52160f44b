// Por::PropertyIterator<T>: the iterator that a composite value's Enumerate
// returns, T being `const Por::View::Property` or `Por::Construction::Property`.
//
// It is a value that shares its state: a std::shared_ptr to the
// implementation's state and three plain functions of that state. A new
// iterator stands on the first property; Current gives the property at the
// position (valid only while IsValid), Next moves on and stays at the end.
// The iterator reads the live composite: it must not outlive it.
//
// Threading: as the composite it reads; copies share one position.
#pragma once

#include <memory>
#include <utility>

namespace Por {

template <typename T>
class PropertyIterator
{
public:
    using CurrentFunction = T& (*)(void* state);
    using NextFunction = void (*)(void* state);
    using IsValidFunction = bool (*)(void* state);

    PropertyIterator(std::shared_ptr<void> state, CurrentFunction current, NextFunction next,
                     IsValidFunction isValid) noexcept
        : m_state(std::move(state)), m_current(current), m_next(next), m_isValid(isValid)
    {
    }

    T& Current() const { return m_current(m_state.get()); }
    void Next() { m_next(m_state.get()); }
    bool IsValid() const { return m_isValid(m_state.get()); }

private:
    std::shared_ptr<void> m_state;
    CurrentFunction m_current;
    NextFunction m_next;
    IsValidFunction m_isValid;
};

} // namespace Por
