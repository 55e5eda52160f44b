// Three-way ordering of Common::Error values: codes down the two chains first,
// then the named parameters of the records (message texts and locations take
// no part). Answers -1, 0 or 1.
//
// Integer parameters compare by the sign of the 64-bit wrap-around difference
// right - left, so the greater value orders first; that is not transitive for
// values 2^63 or more apart. The total mode compares them as unsigned numbers
// instead (still the greater first) and is a true total order; the unit order
// key of the trait set uses it.
//
// Threading: record chains are immutable once shared; safe on any thread.
#pragma once

#include "core/common/error.h"
#include "enterprise/common/por/unit_values.h"

namespace Por::Util {

int CompareErrorRecords(const Common::Error& left, const Common::Error& right);
int CompareErrors(const View::ComplexValue<Common::Error>& left, const View::ComplexValue<Common::Error>& right);

namespace Detail {
enum class IntegerOrder
{
    WrapAroundDifference,
    Total,
};
int CompareErrorRecords(const Common::ErrorRecord* left, const Common::ErrorRecord* right, IntegerOrder order);
} // namespace Detail

} // namespace Por::Util
