// Workflow conditions: always true, always false, and the negation of another
// condition (evaluated anew on every call, so a condition over futures sees
// their current values). Calling a negation of an empty condition throws
// std::bad_function_call.
//
// Threading: no state beyond the copied condition.
#pragma once

#include <functional>

namespace Async {

void MakeTrueCondition(std::function<bool()>& condition);
void MakeFalseCondition(std::function<bool()>& condition);
std::function<bool()> MakeNegatedCondition(const std::function<bool()>& condition);
// The same, filling `negated`.
void MakeNegatedCondition(std::function<bool()>& negated, const std::function<bool()>& condition);

} // namespace Async
