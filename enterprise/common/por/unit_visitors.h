// The three unit visitors, one Visit per value kind in kind order:
// Por::View::UnitReader (View values, const), Por::Modification::UnitWriter
// (Modification values) and Por::Construction::UnitBuilder (Construction
// values). They are three independent interfaces. A unit's Accept calls
// exactly one Visit: that of its kind, with its value.
//
// Por::View::NullVisitor and Por::Construction::NullVisitor do nothing in every
// Visit: the base of visitors that care about a few kinds.
//
// Por::<Level>::Detail::UnitVisitorAdaptor<F> forwards every Visit to
// (*functor)(value) of a functor it does not own; overload resolution on the
// value type picks the functor's case (one per kind, or a template for a
// family of kinds).
//
// Declaration order is the binary order; never insert or reorder.
// Threading: a visitor is used on the caller's thread for one Accept.
#pragma once

#include "core/common/non_copyable.h"
#include "enterprise/common/por/unit_values.h"

namespace Por {

// The 17 Visit operations over the value interfaces of namespace POR_VISIT_NS,
// the value qualified by POR_VISIT_Q ("const" or nothing): pure, doing nothing,
// or forwarding to (*m_functor)(value).
#define POR_VISIT_PURE(Interface) virtual void Visit(POR_VISIT_Q POR_VISIT_NS::Interface&) = 0;
#define POR_VISIT_NULL(Interface)                             \
    void Visit(POR_VISIT_Q POR_VISIT_NS::Interface&) override \
    {                                                         \
    }
#define POR_VISIT_ADAPT(Interface)                                  \
    void Visit(POR_VISIT_Q POR_VISIT_NS::Interface& value) override \
    {                                                               \
        (*m_functor)(value);                                        \
    }
#define POR_VISITS(Each)                                                                                 \
    Each(NilValue) POR_SCALAR_KINDS(POR_VISIT_SCALAR_##Each) POR_COMPLEX_KINDS(POR_VISIT_COMPLEX_##Each) \
        Each(ArrayValue) Each(CompositeValue)
#define POR_VISIT_SCALAR_POR_VISIT_PURE(Name, Type) POR_VISIT_PURE(ScalarValue<Type>)
#define POR_VISIT_SCALAR_POR_VISIT_NULL(Name, Type) POR_VISIT_NULL(ScalarValue<Type>)
#define POR_VISIT_SCALAR_POR_VISIT_ADAPT(Name, Type) POR_VISIT_ADAPT(ScalarValue<Type>)
#define POR_VISIT_COMPLEX_POR_VISIT_PURE(Name, Type) POR_VISIT_PURE(ComplexValue<Type>)
#define POR_VISIT_COMPLEX_POR_VISIT_NULL(Name, Type) POR_VISIT_NULL(ComplexValue<Type>)
#define POR_VISIT_COMPLEX_POR_VISIT_ADAPT(Name, Type) POR_VISIT_ADAPT(ComplexValue<Type>)

// The interface, its do-nothing visitor and its functor adaptor.
#define POR_DEFINE_VISITOR(Visitor)             \
    class Visitor : private Common::NonCopyable \
    {                                           \
    public:                                     \
        virtual ~Visitor() = default;           \
        POR_VISITS(POR_VISIT_PURE)              \
    };
#define POR_DEFINE_NULL_VISITOR(Visitor) \
    class NullVisitor : public Visitor   \
    {                                    \
    public:                              \
        POR_VISITS(POR_VISIT_NULL)       \
    };
#define POR_DEFINE_ADAPTOR(Visitor)                                              \
    namespace Detail {                                                           \
    template <typename F>                                                        \
    class UnitVisitorAdaptor : public Visitor                                    \
    {                                                                            \
    public:                                                                      \
        explicit UnitVisitorAdaptor(F* functor) noexcept : m_functor(functor) {} \
        POR_VISITS(POR_VISIT_ADAPT)                                              \
                                                                                 \
    protected:                                                                   \
        F* m_functor;                                                            \
    };                                                                           \
    }

#define POR_VISIT_Q const
#define POR_VISIT_NS ::Por::View
namespace View {
POR_DEFINE_VISITOR(UnitReader)
POR_DEFINE_NULL_VISITOR(UnitReader)
POR_DEFINE_ADAPTOR(UnitReader)
} // namespace View
#undef POR_VISIT_Q
#undef POR_VISIT_NS

#define POR_VISIT_Q
#define POR_VISIT_NS ::Por::Modification
namespace Modification {
POR_DEFINE_VISITOR(UnitWriter)
POR_DEFINE_ADAPTOR(UnitWriter)
} // namespace Modification
#undef POR_VISIT_NS

#define POR_VISIT_NS ::Por::Construction
namespace Construction {
POR_DEFINE_VISITOR(UnitBuilder)
POR_DEFINE_NULL_VISITOR(UnitBuilder)
POR_DEFINE_ADAPTOR(UnitBuilder)
} // namespace Construction
#undef POR_VISIT_Q
#undef POR_VISIT_NS

#undef POR_DEFINE_VISITOR
#undef POR_DEFINE_NULL_VISITOR
#undef POR_DEFINE_ADAPTOR
#undef POR_VISITS
#undef POR_VISIT_PURE
#undef POR_VISIT_NULL
#undef POR_VISIT_ADAPT
#undef POR_VISIT_SCALAR_POR_VISIT_PURE
#undef POR_VISIT_SCALAR_POR_VISIT_NULL
#undef POR_VISIT_SCALAR_POR_VISIT_ADAPT
#undef POR_VISIT_COMPLEX_POR_VISIT_PURE
#undef POR_VISIT_COMPLEX_POR_VISIT_NULL
#undef POR_VISIT_COMPLEX_POR_VISIT_ADAPT

} // namespace Por
