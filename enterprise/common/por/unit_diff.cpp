#include "enterprise/common/por/unit_diff.h"

#include <utility>

#include "enterprise/common/por/binary_value_operation.h"
#include "enterprise/common/por/error_ordering.h"
#include "enterprise/common/por/pair_walks.h"
#include "enterprise/common/por/trait_pairing.h"
#include "enterprise/common/por/unit_copier.h"
#include "enterprise/common/por/utils.h"
#include "enterprise/common/por/value_creator.h"

namespace Por::Util {

namespace {

using Construction::UnitFactory;
using UnitPtr = std::unique_ptr<Construction::Unit>;
namespace M = DiffMarkers;

// The value diff of two values of equal or different kinds.
struct DiffValueOperation
{
    const UnitFactory& factory;
    const View::Unit& newUnit;
    UnitPtr result;

    void Same(const View::NilValue&, const View::NilValue&) {}
    template <typename T>
    void Same(const View::ScalarValue<T>& oldValue, const View::ScalarValue<T>& newValue)
    {
        if (!(oldValue.Get() == newValue.Get())) // a NaN on either side is a change; 0.0 equals -0.0
            result = CreateUnitOf(factory, newValue.Get());
    }
    template <typename T>
    void Same(const View::ComplexValue<T>& oldValue, const View::ComplexValue<T>& newValue)
    {
        if (!(oldValue.Get() == newValue.Get()))
            result = CreateUnitOf(factory, newValue.Get());
    }
    void Same(const View::ComplexValue<Common::Error>& oldValue, const View::ComplexValue<Common::Error>& newValue)
    {
        if (CompareErrors(oldValue, newValue) != 0)
            result = factory.CreateError(newValue.Get());
    }
    void Same(const View::ArrayValue& oldValue, const View::ArrayValue& newValue)
    {
        result = DiffArrays(oldValue, newValue, factory);
    }
    void Same(const View::CompositeValue& oldValue, const View::CompositeValue& newValue)
    {
        result = DiffComposites(oldValue, newValue, factory);
    }
    void Different(int, int) { result = CopyUnitValue(newUnit, factory); }
};

class CompositeDiffWalker final : public CompositePropertyWalker
{
public:
    explicit CompositeDiffWalker(const UnitFactory& factory) noexcept : m_factory(factory) {}

    bool Pair(const View::Property& oldProperty, const View::Property& newProperty) override
    {
        UnitPtr diff = DiffUnits(oldProperty.GetValue(), newProperty.GetValue(), m_factory);
        if (diff)
            Add(oldProperty.GetName(), std::move(diff));
        return false;
    }
    bool LeftOnly(const View::Property& property) override
    {
        UnitPtr removed = m_factory.CreateNil();
        AddNilTrait(*removed, M::kRemoved, m_factory);
        Add(property.GetName(), std::move(removed));
        return false;
    }
    bool RightOnly(const View::Property& property) override
    {
        UnitPtr added = CopyUnit(property.GetValue(), m_factory);
        AddNilTrait(*added, M::kAdded, m_factory);
        Add(property.GetName(), std::move(added));
        return false;
    }

    UnitPtr TakeResult() noexcept { return std::move(m_result); }

private:
    void Add(const Name& name, UnitPtr value)
    {
        if (!m_result)
            m_result = m_factory.CreateComposite();
        AddProperty(*m_result, name, std::move(value), m_factory);
    }

    const UnitFactory& m_factory;
    UnitPtr m_result;
};

class DiffTraitsWalker final : public UnitTraitsWalker
{
public:
    DiffTraitsWalker(const UnitFactory& factory, UnitPtr valueDiff) noexcept
        : m_factory(factory), m_valueDiff(std::move(valueDiff))
    {
    }

    bool Pair(const View::Trait&, const View::Trait&) override { return false; }
    bool LeftOnly(const View::Trait& trait) override
    {
        UnitPtr removed = m_factory.CreateNil();
        AddNilTrait(*removed, M::kRemoved, m_factory);
        AddRecord(trait.GetName(), CopyUnit(trait.GetValue(), m_factory), std::move(removed));
        return false;
    }
    bool RightOnly(const View::Trait& trait) override
    {
        UnitPtr added = m_factory.CreateNil();
        AddNilTrait(*added, M::kAdded, m_factory);
        AddRecord(trait.GetName(), std::move(added), CopyUnit(trait.GetValue(), m_factory));
        return false;
    }

    // The target when a record was made, else the value diff.
    UnitPtr TakeResult() noexcept { return m_target ? std::move(m_target) : std::move(m_valueDiff); }

private:
    void AddRecord(const Name& name, UnitPtr previousValue, UnitPtr newValue)
    {
        UnitPtr record = m_factory.CreateComposite();
        AddNilTrait(*record, M::kFullDiff, m_factory);
        AddProperty(*record, M::kPreviousValue, std::move(previousValue), m_factory);
        AddProperty(*record, M::kNewValue, std::move(newValue), m_factory);
        if (!m_target) {
            if (m_valueDiff) {
                m_target = std::move(m_valueDiff);
            } else {
                m_target = m_factory.CreateComposite();
                AddNilTrait(*m_target, M::kTraitsOnlyDiff, m_factory);
            }
        }
        AddTrait(*m_target, name, std::move(record), m_factory);
    }

    const UnitFactory& m_factory;
    UnitPtr m_valueDiff;
    UnitPtr m_target;
};

} // namespace

UnitPtr MakeDiff(const View::Unit& oldUnit, const View::Unit& newUnit, const UnitFactory& factory)
{
    UnitPtr diff = DiffUnits(oldUnit, newUnit, factory);
    if (!diff)
        diff = MakeEmptyDiff(factory);
    AddNilTrait(*diff, M::kPackedDiff, factory);
    return diff;
}

UnitPtr DiffUnits(const View::Unit& oldUnit, const View::Unit& newUnit, const UnitFactory& factory)
{
    return DiffTraits(oldUnit, newUnit, factory, DiffValues(oldUnit, newUnit, factory));
}

UnitPtr MakeEmptyDiff(const UnitFactory& factory)
{
    UnitPtr empty = factory.CreateNil();
    AddNilTrait(*empty, M::kEmptyDiff, factory);
    return empty;
}

UnitPtr DiffValues(const View::Unit& oldUnit, const View::Unit& newUnit, const UnitFactory& factory)
{
    DiffValueOperation operation{factory, newUnit, nullptr};
    BinaryValueOperation::Dispatch(oldUnit, newUnit, operation);
    return std::move(operation.result);
}

UnitPtr DiffTraits(const View::Unit& oldUnit, const View::Unit& newUnit, const UnitFactory& factory, UnitPtr valueDiff)
{
    if (valueDiff && HasTrait(*valueDiff, M::kFullElementCopy)) {
        ApplySourceTraits(newUnit, *valueDiff, factory);
        AddNilTrait(*valueDiff, M::kFixedTraitedFullCopy, factory);
        return valueDiff;
    }
    DiffTraitsWalker walker(factory, std::move(valueDiff));
    WalkUnitTraits(oldUnit, newUnit, walker);
    return walker.TakeResult();
}

UnitPtr DiffArrays(const View::ArrayValue& oldArray, const View::ArrayValue& newArray, const UnitFactory& factory)
{
    if (oldArray.GetSize() == newArray.GetSize() && ArraysEqual(oldArray, newArray))
        return nullptr;
    UnitPtr copy = CopyArrayValue(newArray, factory);
    AddNilTrait(*copy, M::kFullElementCopy, factory);
    return copy;
}

UnitPtr DiffComposites(const View::CompositeValue& oldComposite, const View::CompositeValue& newComposite,
                       const UnitFactory& factory)
{
    CompositeDiffWalker walker(factory);
    WalkCompositePairs(oldComposite, newComposite, walker);
    return walker.TakeResult();
}

} // namespace Por::Util
