// Side-by-side walks of two arrays (elements paired by index) and of two
// composites (properties paired by name), and the ordering and equality of
// arrays and composites built on them.
//
// A walker answers true from any operation to end the walk.
//
// Declaration order of the walker interfaces is the binary order; never insert
// or reorder.
// Threading: only reads the two values, on the caller's thread.
#pragma once

#include "core/common/non_copyable.h"
#include "enterprise/common/por/unit.h"

namespace Por::Util {

class ArrayElementsWalker : private Common::NonCopyable
{
public:
    virtual ~ArrayElementsWalker() = default;
    virtual bool Pair(const View::Unit& left, const View::Unit& right) = 0;
    virtual bool LeftOnly(const View::Unit& element) = 0;
    virtual bool RightOnly(const View::Unit& element) = 0;
};

class CompositePropertyWalker : private Common::NonCopyable
{
public:
    virtual ~CompositePropertyWalker() = default;
    virtual bool Pair(const View::Property& left, const View::Property& right) = 0;
    virtual bool LeftOnly(const View::Property& property) = 0;
    virtual bool RightOnly(const View::Property& property) = 0;
};

// Pair for each index below both counts, then LeftOnly or RightOnly for the
// surplus of the longer array.
void WalkArrayPairs(const View::ArrayValue& left, const View::ArrayValue& right, ArrayElementsWalker& walker);
// Pair or LeftOnly for each left property in left's order, then RightOnly for
// each right property without a left namesake, in right's order.
void WalkCompositePairs(const View::CompositeValue& left, const View::CompositeValue& right,
                        CompositePropertyWalker& walker);

int CompareArrays(const View::ArrayValue& left, const View::ArrayValue& right);
int CompareComposites(const View::CompositeValue& left, const View::CompositeValue& right);
bool ArraysEqual(const View::ArrayValue& left, const View::ArrayValue& right);
bool CompositesEqual(const View::CompositeValue& left, const View::CompositeValue& right);

} // namespace Por::Util
