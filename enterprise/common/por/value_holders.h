// The in-memory value holders of the Nil, scalar and complex kinds: each
// derives from the Construction level of its value interface and stores the
// value itself.
//
// Get answers the stored value (by value for scalars, by const reference for
// complex values); Set stores a copy. The error holder's Set shares the
// argument's record chain, as Common::Error assignment does.
//
// Threading: none; a holder lives inside one unit.
#pragma once

#include <utility>

#include "enterprise/common/por/unit_values.h"

namespace Por {

class NilValueHolder final : public Construction::NilValue
{
};

template <typename T>
class ScalarValueHolder final : public Construction::ScalarValue<T>
{
public:
    explicit ScalarValueHolder(T value) noexcept : m_value(value) {}

    T Get() const override { return m_value; }
    void Set(T value) override { m_value = value; }

private:
    T m_value;
};

template <typename T>
class ComplexValueHolder final : public Construction::ComplexValue<T>
{
public:
    explicit ComplexValueHolder(const T& value) : m_value(value) {}
    explicit ComplexValueHolder(T&& value) noexcept : m_value(std::move(value)) {}

    const T& Get() const override { return m_value; }
    void Set(const T& value) override
    {
        if (&value != &m_value)
            m_value = value;
    }

private:
    T m_value;
};

} // namespace Por
