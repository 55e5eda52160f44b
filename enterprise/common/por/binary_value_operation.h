// Double dispatch over the values of two units: an operation is a set of
// 17 x 17 cases, resolved with two visits.
//
//     struct MyOp {
//         template <typename V> void Same(const V& left, const V& right);   // one case per kind
//         void Different(int leftKind, int rightKind);                      // any two kinds
//     };
//
// With a Modification::Unit on the left, Same receives the left value as its
// Modification interface (to write it) and the right one as its View interface.
//     MyOp op{...};
//     Por::Util::BinaryValueOperation::Dispatch(leftUnit, rightUnit, op);
//
// The left unit's value is visited with a LeftResolver holding the operation
// and the right unit; its case makes a RightResolver for the left value's
// interface L and visits the right unit's value with it; that case calls Same
// when the right value is also an L, else Different with the two kind indexes.
// A unit whose Accept visits nothing runs no case.
//
// Threading: the resolvers live on the caller's stack for one dispatch.
#pragma once

#include <type_traits>

#include "enterprise/common/por/unit.h"
#include "enterprise/common/por/value_type_index.h"

namespace Por::Util::BinaryValueOperation {

// The View value interface of a value interface of any level.
template <typename V>
struct ViewOf;
template <>
struct ViewOf<View::NilValue>
{
    using Type = View::NilValue;
};
template <typename T>
struct ViewOf<View::ScalarValue<T>>
{
    using Type = View::ScalarValue<T>;
};
template <typename T>
struct ViewOf<View::ComplexValue<T>>
{
    using Type = View::ComplexValue<T>;
};
template <>
struct ViewOf<View::ArrayValue>
{
    using Type = View::ArrayValue;
};
template <>
struct ViewOf<View::CompositeValue>
{
    using Type = View::CompositeValue;
};
template <>
struct ViewOf<Modification::NilValue> : ViewOf<View::NilValue>
{
};
template <typename T>
struct ViewOf<Modification::ScalarValue<T>> : ViewOf<View::ScalarValue<T>>
{
};
template <typename T>
struct ViewOf<Modification::ComplexValue<T>> : ViewOf<View::ComplexValue<T>>
{
};
template <>
struct ViewOf<Modification::ArrayValue> : ViewOf<View::ArrayValue>
{
};
template <>
struct ViewOf<Modification::CompositeValue> : ViewOf<View::CompositeValue>
{
};

// The kind index of a value interface of any level.
template <typename V>
int KindIndexOf(const V& value)
{
    GetValueTypeIndexVisitor index;
    index(value);
    return index.GetIndex();
}

// Visits the right (View) value, holding the left value L (const View::X or
// Modification::X): Same(left, right) when the right value has L's kind.
template <typename Op, typename L>
class RightResolver
{
public:
    RightResolver(Op& operation, L& left) noexcept : m_operation(operation), m_left(left) {}

    void operator()(const typename ViewOf<std::remove_const_t<L>>::Type& right) { m_operation.Same(m_left, right); }
    template <typename R>
    void operator()(const R& right)
    {
        m_operation.Different(KindIndexOf(m_left), KindIndexOf(right));
    }

private:
    Op& m_operation;
    L& m_left;
};

// Visits the left value, holding the right unit U.
template <typename Op, typename U = const View::Unit>
class LeftResolver
{
public:
    LeftResolver(Op& operation, U& right) noexcept : m_operation(operation), m_right(right) {}

    template <typename L>
    void operator()(L& left)
    {
        RightResolver<Op, L> resolver(m_operation, left);
        View::Detail::UnitVisitorAdaptor<RightResolver<Op, L>> adaptor(&resolver);
        m_right.Accept(adaptor);
    }

private:
    Op& m_operation;
    U& m_right;
};

// Over two const units: the left values are View values.
template <typename Op>
void Dispatch(const View::Unit& left, const View::Unit& right, Op& operation)
{
    LeftResolver<Op> resolver(operation, right);
    View::Detail::UnitVisitorAdaptor<LeftResolver<Op>> adaptor(&resolver);
    left.Accept(adaptor);
}

// Over a changeable left unit: the left values are Modification values.
template <typename Op>
void Dispatch(Modification::Unit& left, const View::Unit& right, Op& operation)
{
    LeftResolver<Op> resolver(operation, right);
    Modification::Detail::UnitVisitorAdaptor<LeftResolver<Op>> adaptor(&resolver);
    left.Accept(adaptor);
}

} // namespace Por::Util::BinaryValueOperation
