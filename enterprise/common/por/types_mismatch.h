// Type-mismatch errors (code 0xFA000A) and the visitor bases that accept a
// single value kind.
//
// Each maker first writes the current call stack to the trace (level 2; with
// no trace sink registered nothing shows) and never throws: a record that
// cannot be made gives the out-of-memory record. Kinds are named by their
// lower-case names; an index above 16 by its decimal number.
//
// Por::View::TypeMismatchThrowingVisitor and Por::Construction::
// TypeMismatchThrowingVisitor throw, from every Visit, a plain Common::Error
// (not a Por::ModuleError) naming the expected kind and the visited one;
// derived visitors replace the Visit of the kind they accept.
// Por::Construction::CompositeVisitor accepts Composite (its Visit does
// nothing); the array visitors (array_visitor.h) accept Array.
//
// Threading: free functions and stack visitors; any thread.
#pragma once

#include "enterprise/common/por/unit.h"
#include "enterprise/common/por/value_type_index.h"

namespace Por::Util {

namespace Detail {

// "Stack logging from '<from>'", then one "Stack frame <n>: '<frame>'" per
// frame (at most 32), each with Common::TraceText at level 2.
void LogStackTrace(const char* from);
// The line callback of LogStackTrace: traces one frame and goes on.
bool TraceStackFrame(unsigned frame, const char* line, void* userData);

// 368 "POR: Object internal structure mismatch.".
Common::Error MakeTypeMismatchError() noexcept;
// 370 with the names of `expected` and `actual`.
Common::Error MakeTypeMismatchError(int expected, int actual) noexcept;
// 369 with the property's name and the names of the two kinds.
Common::Error MakePropertyTypeMismatchError(const Name& property, int expected, int actual) noexcept;

// Throw Por::ModuleError holding the matching MakeTypeMismatchError.
[[noreturn]] void ThrowTypeMismatchError();
[[noreturn]] void ThrowTypeMismatchError(int expected, int actual);

} // namespace Detail

// The functor behind the throwing visitors: the case of every kind throws the
// plain Common::Error of MakeTypeMismatchError(expected, that kind).
class TypeMismatchThrowingVisitor
{
public:
    explicit TypeMismatchThrowingVisitor(int expected) noexcept : m_expected(expected) {}

    template <typename Value>
    [[noreturn]] void operator()(const Value& value) const
    {
        GetValueTypeIndexVisitor kind;
        kind(value);
        Throw(kind.GetIndex());
    }

private:
    [[noreturn]] void Throw(int actual) const;

    int m_expected;
};

} // namespace Por::Util

namespace Por::View {

class TypeMismatchThrowingVisitor : public Detail::UnitVisitorAdaptor<Util::TypeMismatchThrowingVisitor>
{
public:
    explicit TypeMismatchThrowingVisitor(int expected) noexcept : UnitVisitorAdaptor(&m_thrower), m_thrower(expected) {}

private:
    Util::TypeMismatchThrowingVisitor m_thrower;
};

} // namespace Por::View

namespace Por::Construction {

class TypeMismatchThrowingVisitor : public Detail::UnitVisitorAdaptor<Util::TypeMismatchThrowingVisitor>
{
public:
    explicit TypeMismatchThrowingVisitor(int expected) noexcept : UnitVisitorAdaptor(&m_thrower), m_thrower(expected) {}

private:
    Util::TypeMismatchThrowingVisitor m_thrower;
};

// Accepts Composite only; visitors that work on properties replace its
// Composite Visit.
class CompositeVisitor : public TypeMismatchThrowingVisitor
{
public:
    CompositeVisitor() noexcept : TypeMismatchThrowingVisitor(kCompositeKind) {}

    using TypeMismatchThrowingVisitor::Visit;
    void Visit(CompositeValue&) override {}
};

} // namespace Por::Construction
