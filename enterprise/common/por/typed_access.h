// Typed reading and writing of unit values through the visitors.
//
//     unsigned count = Por::Util::GetUnitValue<unsigned int>(unit);             // another kind throws
//     unsigned limit = Por::Util::GetUnitValue<unsigned int>(unit, 0u);         // another kind gives 0
//     const std::u16string& text = Por::Util::GetUnitValue<std::u16string>(unit); // the unit's own text
//     Por::Util::SetUnitValue<unsigned int>(writable, 7u);                       // another kind throws
//
// A complex value (Blob, Guid, String, Error) is read by reference to the
// unit's own value, valid while the unit lives; a fail-safe complex value is
// the caller's object, returned by reference too.
//
// Mismatches: GetUnitValue with the Throw handler raises Por::ModuleError
// 0xFA000A "... Expected object type is '<T's kind>', actual object type is
// '<the unit's kind>'." (MakeTypeMismatchError, line 62); SetUnitValue raises
// Por::ModuleError 0xFA000A "POR: Object internal structure mismatch." (line
// 50) and leaves the unit unchanged. Each first writes the call stack to the
// trace.
//
// Threading: runs on the caller's thread.
#pragma once

#include <type_traits>

#include "enterprise/common/por/binary_value_operation.h"
#include "enterprise/common/por/types_mismatch.h"
#include "enterprise/common/por/unit.h"

namespace Por::Util {

namespace Detail {

struct ScalarValueTag
{
};
struct ComplexValueTag
{
};

template <typename T>
inline constexpr bool kIsScalar = KindOfValue<T>::index <= static_cast<int>(ValueKind::Double);

template <typename T>
using ValueTagOf = std::conditional_t<kIsScalar<T>, ScalarValueTag, ComplexValueTag>;

// What a getter returns: the value for a scalar kind, a reference for a complex one.
template <typename T>
using ValueResult = std::conditional_t<kIsScalar<T>, T, const T&>;

} // namespace Detail

namespace TypeMismatchHandlers {

template <typename T>
class Throw
{
public:
    template <typename Result>
    [[noreturn]] void Mismatch(Result&, int actual) const
    {
        Detail::ThrowTypeMismatchError(KindOfValue<T>::index, actual);
    }
};

// Scalar kinds keep the fail-safe value; complex kinds refer to the caller's.
template <typename T>
class ReturnFailSafeValue
{
public:
    explicit ReturnFailSafeValue(Detail::ValueResult<T> failSafe) : m_failSafe(failSafe) {}

    void Mismatch(T& result, int) const { result = m_failSafe; }
    void Mismatch(const T*& result, int) const { result = &m_failSafe; }

private:
    Detail::ValueResult<T> m_failSafe;
};

} // namespace TypeMismatchHandlers

namespace Detail {

// The getter's state: the result (T for a scalar kind, const T* for a complex
// one), whether a Visit ran, and the caller's mismatch handler.
template <typename Stored, typename Handler>
class UnitValueGetterBase
{
public:
    explicit UnitValueGetterBase(const Handler& handler) noexcept : m_handler(&handler) {}

    template <typename Other>
    void operator()(const Other& other)
    {
        Mismatch(BinaryValueOperation::KindIndexOf(other));
    }
    // Also for a unit whose Accept visited no kind.
    void Mismatch(int actual)
    {
        m_handler->Mismatch(m_result, actual);
        m_visited = true;
    }
    bool Visited() const { return m_visited; }

protected:
    void Store(Stored result)
    {
        m_result = result;
        m_visited = true;
    }

    Stored m_result{};

private:
    bool m_visited = false;
    const Handler* m_handler;
};

template <typename T, typename Tag, typename Handler>
class UnitValueGetter;

template <typename T, typename Handler>
class UnitValueGetter<T, ScalarValueTag, Handler> : public UnitValueGetterBase<T, Handler>
{
public:
    using UnitValueGetterBase<T, Handler>::UnitValueGetterBase;
    using UnitValueGetterBase<T, Handler>::operator();
    void operator()(const View::ScalarValue<T>& value) { this->Store(value.Get()); }
    T Result() const { return this->m_result; }
};

template <typename T, typename Handler>
class UnitValueGetter<T, ComplexValueTag, Handler> : public UnitValueGetterBase<const T*, Handler>
{
public:
    using UnitValueGetterBase<const T*, Handler>::UnitValueGetterBase;
    using UnitValueGetterBase<const T*, Handler>::operator();
    void operator()(const View::ComplexValue<T>& value) { this->Store(&value.Get()); }
    const T& Result() const { return *this->m_result; }
};

template <typename T, typename Handler>
ValueResult<T> GetUnitValueWith(const View::Unit& unit, const Handler& handler)
{
    UnitValueGetter<T, ValueTagOf<T>, Handler> getter(handler);
    View::Detail::UnitVisitorAdaptor<decltype(getter)> adaptor(&getter);
    unit.Accept(adaptor);
    if (!getter.Visited())
        getter.Mismatch(kNoValueKind);
    return getter.Result();
}

template <typename V, typename Target>
class ValueSetter;

template <typename V, typename Target>
class ValueSetter<V, Target&>
{
public:
    explicit ValueSetter(V value) : m_value(value) {}

    void operator()(Target& target) { target.Set(m_value); }
    template <typename Other>
    [[noreturn]] void operator()(Other&)
    {
        ThrowTypeMismatchError();
    }

private:
    V m_value;
};

} // namespace Detail

template <typename T>
Detail::ValueResult<T> GetUnitValue(const View::Unit& unit)
{
    return Detail::GetUnitValueWith<T>(unit, TypeMismatchHandlers::Throw<T>());
}

template <typename T>
Detail::ValueResult<T> GetUnitValue(const View::Unit& unit, Detail::ValueResult<T> failSafe)
{
    const TypeMismatchHandlers::ReturnFailSafeValue<T> handler(failSafe);
    return Detail::GetUnitValueWith<T>(unit, handler);
}

template <typename T>
void SetUnitValue(Modification::Unit& unit, Detail::ValueResult<T> value)
{
    using Target =
        std::conditional_t<Detail::kIsScalar<T>, Modification::ScalarValue<T>, Modification::ComplexValue<T>>;
    Detail::ValueSetter<Detail::ValueResult<T>, Target&> setter(value);
    Modification::Detail::UnitVisitorAdaptor<decltype(setter)> adaptor(&setter);
    unit.Accept(adaptor);
}

} // namespace Por::Util
