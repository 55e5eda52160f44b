#include "enterprise/common/por/array_helpers.h"

#include <utility>

#include "enterprise/common/por/unit_equality.h"

namespace Por {

namespace {

// The element at an index, through the array value's At.
template <typename UnitT, typename NullVisitorT, typename ArrayValueT>
class ArrayReader : public NullVisitorT
{
public:
    explicit ArrayReader(uint64_t index) noexcept : m_index(index) {}
    using NullVisitorT::Visit;
    void Visit(ArrayValueT& value) override
    {
        auto resolver = ProcessorOf<UnitT>([this](UnitT& element) {
            m_element = &element;
            return true;
        });
        value.At(static_cast<size_t>(m_index), resolver);
    }
    UnitT* Element() const { return m_element; }

private:
    uint64_t m_index;
    UnitT* m_element = nullptr;
};

template <bool (*Equal)(const View::Unit&, const View::Unit&)>
bool ArrayContains(const View::Unit& array, const View::Unit& unit)
{
    struct InclusionChecker : View::NullVisitor
    {
        explicit InclusionChecker(const View::Unit& searched) : searched(searched) {}
        using NullVisitor::Visit;
        void Visit(const View::ArrayValue& value) override
        {
            auto finder = ProcessorOf<const View::Unit>([this](const View::Unit& element) {
                found = Equal(searched, element);
                return found;
            });
            value.ForEach(finder);
        }
        const View::Unit& searched;
        bool found = false;
    } checker(unit);
    array.Accept(checker);
    return checker.found;
}

} // namespace

Construction::ArrayValue* GetArrayValue(Construction::Unit& unit)
{
    struct ArrayAccessor : Construction::ArrayVisitor
    {
        using ArrayVisitor::Visit;
        void Visit(Construction::ArrayValue& value) override { array = &value; }
        Construction::ArrayValue* array = nullptr;
    } accessor;
    unit.Accept(accessor);
    return accessor.array;
}

const View::Unit* GetArrayElement(const View::Unit& unit, uint64_t index)
{
    ArrayReader<const View::Unit, View::NullVisitor, const View::ArrayValue> reader(index);
    unit.Accept(reader);
    return reader.Element();
}

Construction::Unit* GetArrayElement(Construction::Unit& unit, uint64_t index)
{
    ArrayReader<Construction::Unit, Construction::NullVisitor, Construction::ArrayValue> reader(index);
    unit.Accept(reader);
    return reader.Element();
}

uint64_t GetArraySize(const View::Unit& unit)
{
    struct ArrayMeter : View::NullVisitor
    {
        using NullVisitor::Visit;
        void Visit(const View::ArrayValue& value) override { size = value.GetSize(); }
        uint64_t size = 0;
    } meter;
    unit.Accept(meter);
    return meter.size;
}

bool ArrayContainsUnit(const View::Unit& array, const View::Unit& unit)
{
    return ArrayContains<&Util::UnitsEqual>(array, unit);
}

bool ArrayContainsValue(const View::Unit& array, const View::Unit& unit)
{
    return ArrayContains<&Util::ValuesEqual>(array, unit);
}

void ForEachArrayElement(const View::Unit& unit, ItemProcessor<const View::Unit>& processor)
{
    View::ForEachArrayElementVisitor visitor(processor);
    unit.Accept(visitor);
}

namespace Util {

void AppendToArray(Construction::Unit& unit, std::unique_ptr<Construction::Unit>&& element)
{
    struct AddConstructionUnit : Construction::NullVisitor
    {
        using NullVisitor::Visit;
        void Visit(Construction::ArrayValue& value) override { value.PushBack(std::move(held)); }
        std::unique_ptr<Construction::Unit> held;
    } adder;
    adder.held = std::move(element);
    unit.Accept(adder);
}

} // namespace Util

} // namespace Por
