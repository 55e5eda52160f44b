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

// Declares the 17 Visit operations of a visitor over the value interfaces of
// namespace NS, with Q the qualifier of the value ("const" or nothing) and
// TAIL what follows each declaration ("= 0", "override {}", ...).
#define POR_VISIT_SCALAR_DECL(Name, Type) \
    virtual void Visit(POR_VISIT_Q POR_VISIT_NS::ScalarValue<Type>&) POR_VISIT_TAIL;
#define POR_VISIT_COMPLEX_DECL(Name, Type) \
    virtual void Visit(POR_VISIT_Q POR_VISIT_NS::ComplexValue<Type>&) POR_VISIT_TAIL;
#define POR_DECLARE_VISITS                                                    \
    virtual void Visit(POR_VISIT_Q POR_VISIT_NS::NilValue&) POR_VISIT_TAIL;   \
    POR_SCALAR_KINDS(POR_VISIT_SCALAR_DECL)                                   \
    POR_COMPLEX_KINDS(POR_VISIT_COMPLEX_DECL)                                 \
    virtual void Visit(POR_VISIT_Q POR_VISIT_NS::ArrayValue&) POR_VISIT_TAIL; \
    virtual void Visit(POR_VISIT_Q POR_VISIT_NS::CompositeValue&) POR_VISIT_TAIL;

// The adaptor's 17 forwarding visits.
#define POR_ADAPT_SCALAR(Name, Type)                                        \
    void Visit(POR_VISIT_Q POR_VISIT_NS::ScalarValue<Type>& value) override \
    {                                                                       \
        (*m_functor)(value);                                                \
    }
#define POR_ADAPT_COMPLEX(Name, Type)                                        \
    void Visit(POR_VISIT_Q POR_VISIT_NS::ComplexValue<Type>& value) override \
    {                                                                        \
        (*m_functor)(value);                                                 \
    }
#define POR_ADAPT_VISITS                                                 \
    void Visit(POR_VISIT_Q POR_VISIT_NS::NilValue& value) override       \
    {                                                                    \
        (*m_functor)(value);                                             \
    }                                                                    \
    POR_SCALAR_KINDS(POR_ADAPT_SCALAR)                                   \
    POR_COMPLEX_KINDS(POR_ADAPT_COMPLEX)                                 \
    void Visit(POR_VISIT_Q POR_VISIT_NS::ArrayValue& value) override     \
    {                                                                    \
        (*m_functor)(value);                                             \
    }                                                                    \
    void Visit(POR_VISIT_Q POR_VISIT_NS::CompositeValue& value) override \
    {                                                                    \
        (*m_functor)(value);                                             \
    }

#define POR_VISIT_Q const
#define POR_VISIT_NS ::Por::View
namespace View {

class UnitReader : private Common::NonCopyable
{
public:
    virtual ~UnitReader() = default;
#define POR_VISIT_TAIL = 0
    POR_DECLARE_VISITS
#undef POR_VISIT_TAIL
};

class NullVisitor : public UnitReader
{
public:
#define POR_VISIT_TAIL \
    override           \
    {                  \
    }
    POR_DECLARE_VISITS
#undef POR_VISIT_TAIL
};

namespace Detail {
template <typename F>
class UnitVisitorAdaptor : public UnitReader
{
public:
    explicit UnitVisitorAdaptor(F* functor) noexcept : m_functor(functor) {}
    POR_ADAPT_VISITS

protected:
    F* m_functor;
};
} // namespace Detail

} // namespace View
#undef POR_VISIT_Q
#undef POR_VISIT_NS

#define POR_VISIT_Q
#define POR_VISIT_NS ::Por::Modification
namespace Modification {

class UnitWriter : private Common::NonCopyable
{
public:
    virtual ~UnitWriter() = default;
#define POR_VISIT_TAIL = 0
    POR_DECLARE_VISITS
#undef POR_VISIT_TAIL
};

namespace Detail {
template <typename F>
class UnitVisitorAdaptor : public UnitWriter
{
public:
    explicit UnitVisitorAdaptor(F* functor) noexcept : m_functor(functor) {}
    POR_ADAPT_VISITS

protected:
    F* m_functor;
};
} // namespace Detail

} // namespace Modification
#undef POR_VISIT_NS

#define POR_VISIT_NS ::Por::Construction
namespace Construction {

class UnitBuilder : private Common::NonCopyable
{
public:
    virtual ~UnitBuilder() = default;
#define POR_VISIT_TAIL = 0
    POR_DECLARE_VISITS
#undef POR_VISIT_TAIL
};

class NullVisitor : public UnitBuilder
{
public:
#define POR_VISIT_TAIL \
    override           \
    {                  \
    }
    POR_DECLARE_VISITS
#undef POR_VISIT_TAIL
};

namespace Detail {
template <typename F>
class UnitVisitorAdaptor : public UnitBuilder
{
public:
    explicit UnitVisitorAdaptor(F* functor) noexcept : m_functor(functor) {}
    POR_ADAPT_VISITS

protected:
    F* m_functor;
};
} // namespace Detail

} // namespace Construction
#undef POR_VISIT_Q
#undef POR_VISIT_NS

#undef POR_VISIT_SCALAR_DECL
#undef POR_VISIT_COMPLEX_DECL
#undef POR_DECLARE_VISITS
#undef POR_ADAPT_SCALAR
#undef POR_ADAPT_COMPLEX
#undef POR_ADAPT_VISITS

} // namespace Por
