// Double dispatch over the values of two units: an operation is a set of
// 17 x 17 cases, resolved with two visits.
//
//     struct MyOp {
//         template <typename V> void Same(const V& left, const V& right);   // one case per kind
//         void Different(int leftKind, int rightKind);                      // any two kinds
//     };
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

#include "enterprise/common/por/unit.h"
#include "enterprise/common/por/value_type_index.h"

namespace Por::Util::BinaryValueOperation {

// The kind index of a View value interface.
template <typename V>
int KindIndexOf(const V& value)
{
    GetValueTypeIndexVisitor index;
    index(value);
    return index.GetIndex();
}

template <typename Op, typename L>
class RightResolver
{
public:
    RightResolver(Op& operation, const L& left) noexcept : m_operation(operation), m_left(left) {}

    void operator()(const L& right) { m_operation.Same(m_left, right); }
    template <typename R>
    void operator()(const R& right)
    {
        m_operation.Different(KindIndexOf(m_left), KindIndexOf(right));
    }

private:
    Op& m_operation;
    const L& m_left;
};

template <typename Op, typename U = const View::Unit>
class LeftResolver
{
public:
    LeftResolver(Op& operation, U& right) noexcept : m_operation(operation), m_right(right) {}

    template <typename L>
    void operator()(const L& left)
    {
        RightResolver<Op, L> resolver(m_operation, left);
        View::Detail::UnitVisitorAdaptor<RightResolver<Op, L>> adaptor(&resolver);
        m_right.Accept(adaptor);
    }

private:
    Op& m_operation;
    U& m_right;
};

template <typename Op>
void Dispatch(const View::Unit& left, const View::Unit& right, Op& operation)
{
    LeftResolver<Op> resolver(operation, right);
    View::Detail::UnitVisitorAdaptor<LeftResolver<Op>> adaptor(&resolver);
    left.Accept(adaptor);
}

} // namespace Por::Util::BinaryValueOperation
