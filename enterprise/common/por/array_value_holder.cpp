#include "enterprise/common/por/array_value_holder.h"

#include <utility>

#include "core/common/location.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/por_errors.h"
#include "enterprise/common/por/unit_copier.h"

namespace Por {

namespace {

constexpr Common::SourceFile kSource("enterprise/common/por/array_value_holder", 0x1d3b96ea4085bef7);

void CheckUnit(const std::unique_ptr<Construction::Unit>& unit)
{
    if (!unit)
        ThrowModuleError(PorErrors::kNullUnit, PorErrors::kNullUnitText, kSource.At("CheckUnit", __LINE__));
}

} // namespace

void ArrayValueHolder::CheckOutOfRange(size_t index, size_t bound)
{
    if (index >= bound)
        ThrowModuleError(PorErrors::kOutOfRange, PorErrors::kOutOfRangeText, kSource.At("CheckOutOfRange", 53));
}

std::unique_ptr<Construction::Unit> ArrayValueHolder::CopyOf(const std::unique_ptr<Construction::Unit>& unit)
{
    CheckUnit(unit);
    const Construction::InMemoryUnitFactory factory;
    return Util::CopyUnit(*unit, factory);
}

void ArrayValueHolder::InsertAt(size_t index, std::unique_ptr<Construction::Unit>&& unit)
{
    m_units.insert(m_units.begin() + static_cast<std::ptrdiff_t>(index), std::move(unit));
}

template <typename T>
void ArrayValueHolder::HandFront(ItemProcessor<T>& processor) const
{
    if (!m_units.empty())
        (void)processor.Process(*m_units.front()); // a single item: nothing to stop
}

template <typename T>
void ArrayValueHolder::HandBack(ItemProcessor<T>& processor) const
{
    if (!m_units.empty())
        (void)processor.Process(*m_units.back()); // a single item: nothing to stop
}

template <typename T>
void ArrayValueHolder::HandAt(size_t index, ItemProcessor<T>& processor) const
{
    CheckOutOfRange(index, GetSize());
    (void)processor.Process(*m_units[index]); // a single item: nothing to stop
}

template <typename T>
void ArrayValueHolder::HandEach(ItemProcessor<T>& processor) const
{
    for (const auto& unit : m_units) {
        if (processor.Process(*unit))
            return;
    }
}

bool ArrayValueHolder::IsEmpty() const
{
    return m_units.empty();
}

size_t ArrayValueHolder::GetSize() const
{
    return m_units.size();
}

void ArrayValueHolder::Front(ItemProcessor<const View::Unit>& processor) const
{
    HandFront(processor);
}

void ArrayValueHolder::Back(ItemProcessor<const View::Unit>& processor) const
{
    HandBack(processor);
}

void ArrayValueHolder::At(size_t index, ItemProcessor<const View::Unit>& processor) const
{
    HandAt(index, processor);
}

void ArrayValueHolder::ForEach(ItemProcessor<const View::Unit>& processor) const
{
    HandEach(processor);
}

void ArrayValueHolder::Clear()
{
    m_units.clear();
}

void ArrayValueHolder::Insert(size_t index, std::unique_ptr<Construction::Unit>& unit)
{
    CheckOutOfRange(index, GetSize() + 1);
    InsertAt(index, CopyOf(unit));
}

void ArrayValueHolder::Erase(size_t index)
{
    CheckOutOfRange(index, GetSize());
    m_units.erase(m_units.begin() + static_cast<std::ptrdiff_t>(index));
}

void ArrayValueHolder::Front(ItemProcessor<Modification::Unit>& processor)
{
    HandFront(processor);
}

void ArrayValueHolder::Back(ItemProcessor<Modification::Unit>& processor)
{
    HandBack(processor);
}

void ArrayValueHolder::PushBack(std::unique_ptr<Construction::Unit>& unit)
{
    m_units.push_back(CopyOf(unit));
}

void ArrayValueHolder::PushFront(std::unique_ptr<Construction::Unit>& unit)
{
    InsertAt(0, CopyOf(unit));
}

void ArrayValueHolder::PopBack()
{
    if (!m_units.empty())
        m_units.pop_back();
}

void ArrayValueHolder::PopFront()
{
    if (!m_units.empty())
        m_units.erase(m_units.begin());
}

void ArrayValueHolder::At(size_t index, ItemProcessor<Modification::Unit>& processor)
{
    HandAt(index, processor);
}

void ArrayValueHolder::ForEach(ItemProcessor<Modification::Unit>& processor)
{
    HandEach(processor);
}

void ArrayValueHolder::Insert(size_t index, std::unique_ptr<Construction::Unit>&& unit)
{
    CheckOutOfRange(index, GetSize() + 1);
    CheckUnit(unit);
    InsertAt(index, std::move(unit));
}

void ArrayValueHolder::Front(ItemProcessor<Construction::Unit>& processor)
{
    HandFront(processor);
}

void ArrayValueHolder::Back(ItemProcessor<Construction::Unit>& processor)
{
    HandBack(processor);
}

void ArrayValueHolder::PushBack(std::unique_ptr<Construction::Unit>&& unit)
{
    CheckUnit(unit);
    // The first room is for three units: no more than the heap's smallest
    // block gives one, and most arrays that get one unit get another.
    if (m_units.capacity() == 0)
        m_units.reserve(kFirstRoom);
    m_units.push_back(std::move(unit));
}

void ArrayValueHolder::PushFront(std::unique_ptr<Construction::Unit>&& unit)
{
    CheckUnit(unit);
    InsertAt(0, std::move(unit));
}

void ArrayValueHolder::At(size_t index, ItemProcessor<Construction::Unit>& processor)
{
    HandAt(index, processor);
}

void ArrayValueHolder::ForEach(ItemProcessor<Construction::Unit>& processor)
{
    HandEach(processor);
}

} // namespace Por
