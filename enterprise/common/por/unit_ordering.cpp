#include "enterprise/common/por/unit_ordering.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "enterprise/common/por/binary_value_operation.h"
#include "enterprise/common/por/error_ordering.h"
#include "enterprise/common/por/pair_walks.h"
#include "enterprise/common/por/trait_pairing.h"
#include "enterprise/common/por/unit_equality.h"
#include "enterprise/common/por/unit_order_key.h"

namespace Por::Util {

namespace {

enum class OrderMode
{
    Pairwise, // the order of CompareUnits: values as the pair walks meet them
    Total,    // the key order of CompareUnitKeys
};

int Sign(int value)
{
    return (value > 0) - (value < 0);
}

template <typename T>
int CompareNumbers(T left, T right)
{
    return left < right ? -1 : (right < left ? 1 : 0);
}

// Key order of composites: sorted names, then the values in name order.
int CompareCompositeKeys(const View::CompositeValue& left, const View::CompositeValue& right)
{
    auto collect = [](const View::CompositeValue& composite) {
        std::vector<const View::Property*> properties;
        auto all = ProcessorOf<const View::Property>([&](const View::Property& property) {
            properties.push_back(&property);
            return false;
        });
        composite.ForEach(all);
        std::stable_sort(properties.begin(), properties.end(), [](const View::Property* a, const View::Property* b) {
            return CompareNames(a->GetName(), b->GetName()) < 0;
        });
        return properties;
    };
    const std::vector<const View::Property*> leftProperties = collect(left);
    const std::vector<const View::Property*> rightProperties = collect(right);
    const size_t common = std::min(leftProperties.size(), rightProperties.size());
    for (size_t i = 0; i < common; ++i) {
        if (const int names = CompareNames(leftProperties[i]->GetName(), rightProperties[i]->GetName()))
            return Sign(names);
    }
    if (leftProperties.size() != rightProperties.size())
        return leftProperties.size() < rightProperties.size() ? -1 : 1;
    for (size_t i = 0; i < common; ++i) {
        if (const int values = CompareUnitKeys(leftProperties[i]->GetValue(), rightProperties[i]->GetValue()))
            return values;
    }
    return 0;
}

int CompareArrayKeys(const View::ArrayValue& left, const View::ArrayValue& right)
{
    const size_t leftCount = left.GetSize();
    const size_t rightCount = right.GetSize();
    if (leftCount != rightCount)
        return leftCount < rightCount ? -1 : 1;
    class KeyWalker final : public ArrayElementsWalker
    {
    public:
        bool Pair(const View::Unit& a, const View::Unit& b) override { return (result = CompareUnitKeys(a, b)) != 0; }
        bool LeftOnly(const View::Unit&) override { return (result = 1) != 0; }
        bool RightOnly(const View::Unit&) override { return (result = -1) != 0; }
        int result = 0;
    } walker;
    WalkArrayPairs(left, right, walker);
    return walker.result;
}

class PerformValueCompare
{
public:
    PerformValueCompare(int& result, OrderMode mode) noexcept : m_result(result), m_mode(mode) {}

    void Same(const View::NilValue&, const View::NilValue&) { m_result = 0; }
    template <typename T>
    void Same(const View::ScalarValue<T>& left, const View::ScalarValue<T>& right)
    {
        m_result = CompareNumbers(left.Get(), right.Get());
    }
    void Same(const View::ScalarValue<double>& left, const View::ScalarValue<double>& right)
    {
        const double a = left.Get();
        const double b = right.Get();
        if (m_mode == OrderMode::Total && (std::isnan(a) || std::isnan(b)))
            m_result = std::isnan(a) - std::isnan(b); // NaN after every number
        else
            m_result = a < b ? -1 : (a == b ? 0 : 1); // any NaN: 1 both ways
    }
    void Same(const View::ComplexValue<BlobType>& left, const View::ComplexValue<BlobType>& right)
    {
        const BlobType& a = left.Get();
        const BlobType& b = right.Get();
        const size_t common = std::min(a.size(), b.size());
        const int bytes = common == 0 ? 0 : std::memcmp(a.data(), b.data(), common);
        m_result = bytes != 0 ? Sign(bytes) : CompareNumbers(a.size(), b.size());
    }
    void Same(const View::ComplexValue<GuidType>& left, const View::ComplexValue<GuidType>& right)
    {
        const GuidType& a = left.Get();
        const GuidType& b = right.Get();
        int result = CompareNumbers(a.first, b.first);
        if (result == 0)
            result = CompareNumbers(a.second, b.second);
        if (result == 0)
            result = CompareNumbers(a.third, b.third);
        if (result == 0)
            result = Sign(std::memcmp(a.last, b.last, sizeof a.last));
        m_result = result;
    }
    void Same(const View::ComplexValue<std::u16string>& left, const View::ComplexValue<std::u16string>& right)
    {
        m_result = Sign(left.Get().compare(right.Get())); // code units as unsigned 16-bit numbers
    }
    void Same(const View::ComplexValue<Common::Error>& left, const View::ComplexValue<Common::Error>& right)
    {
        m_result = m_mode == OrderMode::Total
            ? Detail::CompareErrorRecords(left.Get().GetRecord(), right.Get().GetRecord(), Detail::IntegerOrder::Total)
            : CompareErrors(left, right);
    }
    void Same(const View::ArrayValue& left, const View::ArrayValue& right)
    {
        m_result = m_mode == OrderMode::Total ? CompareArrayKeys(left, right) : CompareArrays(left, right);
    }
    void Same(const View::CompositeValue& left, const View::CompositeValue& right)
    {
        m_result = m_mode == OrderMode::Total ? CompareCompositeKeys(left, right) : CompareComposites(left, right);
    }
    void Different(int leftKind, int rightKind) { m_result = leftKind < rightKind ? -1 : 1; }

private:
    int& m_result;
    OrderMode m_mode;
};

int CompareValuesIn(const View::Unit& left, const View::Unit& right, OrderMode mode)
{
    constexpr int kUnset = 2;
    int result = kUnset;
    PerformValueCompare operation(result, mode);
    BinaryValueOperation::Dispatch(left, right, operation);
    if (result == kUnset) // a unit whose Accept visits no kind orders after every kind
        result = CompareNumbers(GetValueTypeIndex(left), GetValueTypeIndex(right));
    return result;
}

// The trait comparison of CompareUnits: the candidates are the least-valued
// traits of the first run of one-sided traits sharing a name, per side.
class TraitsComparisonWalker final : public UnitTraitsWalker
{
public:
    bool Pair(const View::Trait& left, const View::Trait& right) override
    {
        if (m_leftCandidate || m_rightCandidate)
            return false;
        m_result = CompareUnits(left.GetValue(), right.GetValue());
        return m_result != 0;
    }
    bool LeftOnly(const View::Trait& trait) override { return OneSided(trait, m_leftCandidate, m_leftDone); }
    bool RightOnly(const View::Trait& trait) override { return OneSided(trait, m_rightCandidate, m_rightDone); }

    int Result() const
    {
        if (m_leftCandidate && m_rightCandidate) {
            if (const int names = CompareNames(m_leftCandidate->GetName(), m_rightCandidate->GetName()))
                return Sign(names);
            return CompareUnits(m_leftCandidate->GetValue(), m_rightCandidate->GetValue());
        }
        if (m_leftCandidate)
            return 1;
        if (m_rightCandidate)
            return -1;
        return m_result;
    }

private:
    bool OneSided(const View::Trait& trait, const View::Trait*& candidate, bool& done)
    {
        if (!done) {
            if (!candidate)
                candidate = &trait;
            else if (CompareNames(trait.GetName(), candidate->GetName()) != 0)
                done = true;
            else if (UnitLess(trait.GetValue(), candidate->GetValue()))
                candidate = &trait;
        }
        return m_leftDone && m_rightDone;
    }

    int m_result = 0;
    bool m_leftDone = false;
    bool m_rightDone = false;
    const View::Trait* m_leftCandidate = nullptr;
    const View::Trait* m_rightCandidate = nullptr;
};

// Key order of trait sets: the sorted distinct (name, value) pairs,
// lexicographically.
std::vector<const View::Trait*> CanonicalTraits(const View::Unit& unit)
{
    std::vector<const View::Trait*> traits;
    auto all = ProcessorOf<const View::Trait>([&](const View::Trait& trait) {
        traits.push_back(&trait);
        return false;
    });
    unit.traits().ForEach(all);
    auto less = [](const View::Trait* a, const View::Trait* b) { return CompareTraitKeys(*a, *b) < 0; };
    std::sort(traits.begin(), traits.end(), less);
    auto same = [](const View::Trait* a, const View::Trait* b) { return CompareTraitKeys(*a, *b) == 0; };
    traits.erase(std::unique(traits.begin(), traits.end(), same), traits.end());
    return traits;
}

int CompareTraitSetKeys(const View::Unit& left, const View::Unit& right)
{
    const std::vector<const View::Trait*> leftTraits = CanonicalTraits(left);
    const std::vector<const View::Trait*> rightTraits = CanonicalTraits(right);
    const size_t common = std::min(leftTraits.size(), rightTraits.size());
    for (size_t i = 0; i < common; ++i) {
        if (const int traits = CompareTraitKeys(*leftTraits[i], *rightTraits[i]))
            return traits;
    }
    return CompareNumbers(leftTraits.size(), rightTraits.size());
}

} // namespace

int CompareUnits(const View::Unit& left, const View::Unit& right)
{
    if (&left == &right)
        return 0;
    return DoCompareUnits(left, right);
}

int DoCompareUnits(const View::Unit& left, const View::Unit& right)
{
    if (const int values = CompareValues(left, right))
        return values;
    return CompareTraits(left, right);
}

bool UnitLess(const View::Unit& left, const View::Unit& right)
{
    return &left != &right && DoCompareUnits(left, right) == -1;
}

int CompareValues(const View::Unit& left, const View::Unit& right)
{
    return CompareValuesIn(left, right, OrderMode::Pairwise);
}

int CompareTraits(const View::Unit& left, const View::Unit& right)
{
    TraitsComparisonWalker walker;
    WalkUnitTraits(left, right, walker);
    return walker.Result();
}

int CompareUnitKeys(const View::Unit& left, const View::Unit& right)
{
    if (&left == &right)
        return 0;
    if (const int values = CompareValuesIn(left, right, OrderMode::Total))
        return values;
    return CompareTraitSetKeys(left, right);
}

int CompareTraitKeys(const View::Trait& left, const View::Trait& right)
{
    if (const int names = CompareNames(left.GetName(), right.GetName()))
        return Sign(names);
    return CompareUnitKeys(left.GetValue(), right.GetValue());
}

size_t FindTraitSlot(std::span<const View::Trait* const> traits, const View::Trait& trait)
{
    auto first = std::lower_bound(traits.begin(), traits.end(), &trait, [](const View::Trait* a, const View::Trait* b) {
        return CompareTraitKeys(*a, *b) < 0;
    });
    auto last = first;
    for (; last != traits.end() && CompareTraitKeys(**last, trait) == 0; ++last) {
        if (UnitsEqual((*last)->GetValue(), trait.GetValue()))
            return kTraitPresent;
    }
    return static_cast<size_t>(last - traits.begin());
}

} // namespace Por::Util
