// The visitor bases that accept Array units only: every other kind raises the
// type-mismatch error (a plain Common::Error 0xFA000A expecting "array"). Their
// own Array Visit does nothing; derived visitors replace it.
//
// Threading: stack visitors; any thread.
#pragma once

#include "enterprise/common/por/types_mismatch.h"

namespace Por::View {

class ArrayVisitor : public TypeMismatchThrowingVisitor
{
public:
    ArrayVisitor() noexcept : TypeMismatchThrowingVisitor(kArrayKind) {}

    using TypeMismatchThrowingVisitor::Visit;
    void Visit(const ArrayValue&) override {}
};

} // namespace Por::View

namespace Por::Construction {

class ArrayVisitor : public TypeMismatchThrowingVisitor
{
public:
    ArrayVisitor() noexcept : TypeMismatchThrowingVisitor(kArrayKind) {}

    using TypeMismatchThrowingVisitor::Visit;
    void Visit(ArrayValue&) override {}
};

} // namespace Por::Construction
