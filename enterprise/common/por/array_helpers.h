// Small operations on Array units, each done by one visitor.
//
// A unit that is not an Array gives the neutral result (0, null, false,
// nothing appended: the offered element is destroyed), except GetArrayValue
// and ForEachArrayElement, which raise the type-mismatch error (a plain
// Common::Error 0xFA000A expecting "array"). An index past the end is reported
// by the array value itself (the in-memory array raises 0xFA000F).
//
// Threading: runs on the caller's thread.
#pragma once

#include <cstdint>
#include <memory>

#include "enterprise/common/por/array_visitor.h"
#include "enterprise/common/por/unit.h"

namespace Por {

namespace View {
// Runs the array's ForEach with the processor; other kinds raise the
// type-mismatch error.
class ForEachArrayElementVisitor : public ArrayVisitor
{
public:
    explicit ForEachArrayElementVisitor(ItemProcessor<const Unit>& processor) noexcept : m_processor(&processor) {}
    using ArrayVisitor::Visit;
    void Visit(const ArrayValue& value) override { value.ForEach(*m_processor); }

private:
    ItemProcessor<const Unit>* m_processor;
};
} // namespace View

Construction::ArrayValue* GetArrayValue(Construction::Unit& unit);
const View::Unit* GetArrayElement(const View::Unit& unit, uint64_t index);
Construction::Unit* GetArrayElement(Construction::Unit& unit, uint64_t index);
// The Construction-level GetArrayElement under its other name.
inline Construction::Unit* GetMutableArrayElement(Construction::Unit& unit, uint64_t index)
{
    return GetArrayElement(unit, index);
}
uint64_t GetArraySize(const View::Unit& unit);
// An element equal to `unit`, traits included (UnitsEqual).
bool ArrayContainsUnit(const View::Unit& array, const View::Unit& unit);
// An element whose value equals `unit`'s value, traits ignored (ValuesEqual).
bool ArrayContainsValue(const View::Unit& array, const View::Unit& unit);
void ForEachArrayElement(const View::Unit& unit, ItemProcessor<const View::Unit>& processor);

namespace Util {
// Appends `element` (taken over; the caller's pointer is empty afterwards) at
// the back of the array; a unit that is not an Array destroys it.
void AppendToArray(Construction::Unit& unit, std::unique_ptr<Construction::Unit>&& element);
} // namespace Util

// AppendToArray under its other name.
inline void AddArrayElement(Construction::Unit& unit, std::unique_ptr<Construction::Unit>& element)
{
    Util::AppendToArray(unit, std::move(element));
}

} // namespace Por
