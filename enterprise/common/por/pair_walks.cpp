#include "enterprise/common/por/pair_walks.h"

#include "enterprise/common/por/unit_equality.h"
#include "enterprise/common/por/unit_ordering.h"

namespace Por::Util {

namespace {

// Hands the element at `index` of `array` to `function`; answers its result.
template <typename F>
bool WithElement(const View::ArrayValue& array, size_t index, F function)
{
    bool stop = false;
    auto processor = ProcessorOf<const View::Unit>([&](const View::Unit& element) {
        stop = function(element);
        return true;
    });
    array.At(index, processor);
    return stop;
}

// LeftOnly or RightOnly for each element from `first`, until one answers true.
template <typename F>
void WalkArrayOverflow(const View::ArrayValue& array, size_t first, F report)
{
    const size_t count = array.GetSize();
    for (size_t index = first; index < count; ++index) {
        if (WithElement(array, index, report))
            return;
    }
}

class ArrayComparisonWalker final : public ArrayElementsWalker
{
public:
    bool Pair(const View::Unit& left, const View::Unit& right) override
    {
        result = CompareUnits(left, right);
        return result != 0;
    }
    bool LeftOnly(const View::Unit&) override
    {
        result = 1;
        return true;
    }
    bool RightOnly(const View::Unit&) override
    {
        result = -1;
        return true;
    }
    int result = 0;
};

const View::Unit& ValueOf(const View::Unit& element)
{
    return element;
}
const View::Unit& ValueOf(const View::Property& property)
{
    return property.GetValue();
}

// Equal while every pair is unit-equal and nothing is one-sided.
template <typename Walker, typename Item>
class EqualityChecker final : public Walker
{
public:
    bool Pair(const Item& left, const Item& right) override
    {
        equal = UnitsEqual(ValueOf(left), ValueOf(right));
        return !equal;
    }
    bool LeftOnly(const Item&) override { return Unequal(); }
    bool RightOnly(const Item&) override { return Unequal(); }
    bool equal = true;

private:
    bool Unequal()
    {
        equal = false;
        return true;
    }
};

// The first left-only and the first right-only property names; a name with
// the empty text counts as none.
class CompositeComparisonWalker final : public CompositePropertyWalker
{
public:
    bool Pair(const View::Property& left, const View::Property& right) override
    {
        if (!HasName(m_leftOnly) && !HasName(m_rightOnly) && m_result == 0)
            m_result = CompareUnits(left.GetValue(), right.GetValue());
        return false;
    }
    bool LeftOnly(const View::Property& property) override
    {
        if (!HasName(m_leftOnly))
            m_leftOnly = property.GetName();
        return HasName(m_rightOnly);
    }
    bool RightOnly(const View::Property& property) override
    {
        if (!HasName(m_rightOnly))
            m_rightOnly = property.GetName();
        return HasName(m_leftOnly);
    }
    int Result() const
    {
        if (HasName(m_leftOnly) || HasName(m_rightOnly)) {
            const int names = CompareNames(m_leftOnly, m_rightOnly);
            return (names > 0) - (names < 0);
        }
        return m_result;
    }

private:
    static bool HasName(const Name& name) { return name.GetText()[0] != '\0'; }

    int m_result = 0;
    Name m_leftOnly;
    Name m_rightOnly;
};

} // namespace

void WalkArrayPairs(const View::ArrayValue& left, const View::ArrayValue& right, ArrayElementsWalker& walker)
{
    const size_t leftCount = left.GetSize();
    const size_t rightCount = right.GetSize();
    const size_t common = leftCount < rightCount ? leftCount : rightCount;
    for (size_t index = 0; index < common; ++index) {
        const bool stop = WithElement(left, index, [&](const View::Unit& leftElement) {
            return WithElement(right, index,
                               [&](const View::Unit& rightElement) { return walker.Pair(leftElement, rightElement); });
        });
        if (stop)
            return;
    }
    if (leftCount > rightCount)
        WalkArrayOverflow(left, common, [&](const View::Unit& element) { return walker.LeftOnly(element); });
    else
        WalkArrayOverflow(right, common, [&](const View::Unit& element) { return walker.RightOnly(element); });
}

void WalkCompositePairs(const View::CompositeValue& left, const View::CompositeValue& right,
                        CompositePropertyWalker& walker)
{
    bool stop = false;
    auto leftPass = ProcessorOf<const View::Property>([&](const View::Property& property) {
        auto pair = ProcessorOf<const View::Property>([&](const View::Property& namesake) {
            stop = walker.Pair(property, namesake);
            return true;
        });
        if (!right.ForEachNamed(property.GetName(), pair))
            stop = walker.LeftOnly(property);
        return stop;
    });
    left.ForEach(leftPass);
    if (stop)
        return;

    auto rightPass = ProcessorOf<const View::Property>([&](const View::Property& property) {
        auto stub = ProcessorOf<const View::Property>([](const View::Property&) { return true; });
        if (left.ForEachNamed(property.GetName(), stub))
            return false;
        return walker.RightOnly(property);
    });
    right.ForEach(rightPass);
}

int CompareArrays(const View::ArrayValue& left, const View::ArrayValue& right)
{
    const size_t leftCount = left.GetSize();
    const size_t rightCount = right.GetSize();
    if (leftCount != rightCount)
        return leftCount < rightCount ? -1 : 1;
    ArrayComparisonWalker walker;
    WalkArrayPairs(left, right, walker);
    return walker.result;
}

int CompareComposites(const View::CompositeValue& left, const View::CompositeValue& right)
{
    CompositeComparisonWalker walker;
    WalkCompositePairs(left, right, walker);
    return walker.Result();
}

bool ArraysEqual(const View::ArrayValue& left, const View::ArrayValue& right)
{
    EqualityChecker<ArrayElementsWalker, View::Unit> checker;
    WalkArrayPairs(left, right, checker);
    return checker.equal;
}

bool CompositesEqual(const View::CompositeValue& left, const View::CompositeValue& right)
{
    EqualityChecker<CompositePropertyWalker, View::Property> checker;
    WalkCompositePairs(left, right, checker);
    return checker.equal;
}

} // namespace Por::Util
