// Workflow conditions.

#include "enterprise/common/async/conditions.h"

namespace Async {

namespace {

bool AlwaysTrue()
{
    return true;
}

bool AlwaysFalse()
{
    return false;
}

} // namespace

void MakeTrueCondition(std::function<bool()>& condition)
{
    condition = &AlwaysTrue;
}

void MakeFalseCondition(std::function<bool()>& condition)
{
    condition = &AlwaysFalse;
}

std::function<bool()> MakeNegatedCondition(const std::function<bool()>& condition)
{
    return std::bind(std::logical_not<bool>(), std::bind(condition));
}

void MakeNegatedCondition(std::function<bool()>& negated, const std::function<bool()>& condition)
{
    negated = MakeNegatedCondition(condition);
}

} // namespace Async
