// The kind index of a unit's value, found by one visit.
//
// Por::Util::GetValueTypeIndexVisitor is the functor (one field, starting at
// 17 "no kind"); its per-kind cases store the kind's index. It is used through
// Por::View::Detail::UnitVisitorAdaptor, and its cases are also called
// directly by the value comparison.
//
// GetValueTypeName gives the lower-case kind names of the type-mismatch texts.
//
// Threading: free functions without state.
#pragma once

#include <string>

#include "enterprise/common/por/unit.h"

namespace Por::Util {

class GetValueTypeIndexVisitor
{
public:
    GetValueTypeIndexVisitor() noexcept = default;

    void operator()(const View::NilValue&) noexcept { m_index = static_cast<int>(ValueKind::Nil); }
    template <typename T>
    void operator()(const View::ScalarValue<T>&) noexcept
    {
        m_index = KindOfValue<T>::index;
    }
    template <typename T>
    void operator()(const View::ComplexValue<T>&) noexcept
    {
        m_index = KindOfValue<T>::index;
    }
    void operator()(const View::ArrayValue&) noexcept { m_index = kArrayKind; }
    void operator()(const View::CompositeValue&) noexcept { m_index = kCompositeKind; }

    int GetIndex() const noexcept { return m_index; }

private:
    int m_index = kNoValueKind;
};

// 0..16, or 17 when the unit's Accept ran no Visit.
int GetValueTypeIndex(const View::Unit& unit);

// The lower-case name of kind 0..16 ("nil" .. "composite"); any larger index
// as its decimal number.
std::u16string GetValueTypeName(unsigned kind);

} // namespace Por::Util
