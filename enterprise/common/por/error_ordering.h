// Three-way ordering of Common::Error values: codes down the two chains first,
// then the named parameters of the records (message texts and locations take
// no part). Answers -1, 0 or 1.
//
// Threading: record chains are immutable once shared; safe on any thread.
#pragma once

#include "core/common/error.h"
#include "enterprise/common/por/unit_values.h"

namespace Por::Util {

int CompareErrorRecords(const Common::Error& left, const Common::Error& right);
int CompareErrors(const View::ComplexValue<Common::Error>& left, const View::ComplexValue<Common::Error>& right);

} // namespace Por::Util
