#include "enterprise/common/por/unit_equality.h"

#include <cstring>

#include "enterprise/common/por/binary_value_operation.h"
#include "enterprise/common/por/error_ordering.h"
#include "enterprise/common/por/pair_walks.h"

namespace Por::Util {

namespace {

class ValueComparator
{
public:
    explicit ValueComparator(bool& equal) noexcept : m_equal(equal) {}

    void Same(const View::NilValue&, const View::NilValue&) { m_equal = true; }
    template <typename T>
    void Same(const View::ScalarValue<T>& left, const View::ScalarValue<T>& right)
    {
        m_equal = left.Get() == right.Get(); // Double: IEEE, so a NaN equals nothing
    }
    void Same(const View::ComplexValue<BlobType>& left, const View::ComplexValue<BlobType>& right)
    {
        const BlobType& a = left.Get();
        const BlobType& b = right.Get();
        m_equal = a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
    }
    void Same(const View::ComplexValue<GuidType>& left, const View::ComplexValue<GuidType>& right)
    {
        m_equal = std::memcmp(&left.Get(), &right.Get(), sizeof(GuidType)) == 0;
    }
    void Same(const View::ComplexValue<std::u16string>& left, const View::ComplexValue<std::u16string>& right)
    {
        m_equal = left.Get() == right.Get();
    }
    void Same(const View::ComplexValue<Common::Error>& left, const View::ComplexValue<Common::Error>& right)
    {
        m_equal = CompareErrors(left, right) == 0;
    }
    void Same(const View::ArrayValue& left, const View::ArrayValue& right) { m_equal = ArraysEqual(left, right); }
    void Same(const View::CompositeValue& left, const View::CompositeValue& right)
    {
        m_equal = CompositesEqual(left, right);
    }
    void Different(int, int) { m_equal = false; }

private:
    bool& m_equal;
};

} // namespace

bool UnitsEqual(const View::Unit& a, const View::Unit& b)
{
    if (&a == &b)
        return true;
    return TraitsIncluded(a, b) && TraitsIncluded(b, a) && ValuesEqual(a, b);
}

bool ValuesEqual(const View::Unit& a, const View::Unit& b)
{
    bool equal = false; // a unit that visits no kind equals nothing
    ValueComparator comparator(equal);
    BinaryValueOperation::Dispatch(a, b, comparator);
    return equal;
}

bool TraitsEqual(const View::Unit& a, const View::Unit& b)
{
    return TraitsIncluded(a, b) && TraitsIncluded(b, a);
}

bool TraitsIncluded(const View::Unit& source, const View::Unit& target)
{
    const View::Traits& targetTraits = target.traits();
    bool included = true;
    auto sourceTraits = ProcessorOf<const View::Trait>([&](const View::Trait& trait) {
        bool found = false;
        auto namesakes = ProcessorOf<const View::Trait>([&](const View::Trait& candidate) {
            found = UnitsEqual(trait.GetValue(), candidate.GetValue());
            return found;
        });
        targetTraits.ForEachNamed(trait.GetName(), namesakes);
        included = found;
        return !included;
    });
    source.traits().ForEach(sourceTraits);
    return included;
}

} // namespace Por::Util
