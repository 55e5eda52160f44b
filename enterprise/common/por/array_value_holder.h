// Por::ArrayValueHolder: the in-memory array value, an ordered vector of owned
// units (index 0 first).
//
// The Modification-level adders store a deep copy (made of in-memory units,
// whatever factory made the caller's unit) and leave the caller's unit alone;
// the Construction-level adders take the unit over. An index at or beyond the
// size for At and Erase, or beyond it for Insert, raises Por::ModuleError
// 0xFA000F "POR: Out of range." before anything is copied or changed; a null
// unit given to an adder raises 0xFA000B "POR: Null units are forbidden.".
// Front and Back on an empty array hand nothing to the processor; PopBack and
// PopFront on an empty array do nothing.
//
// Threading: none; callers that share a unit across threads synchronize
// outside it.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "enterprise/common/por/unit.h"

namespace Por {

class ArrayValueHolder final : public Construction::ArrayValue
{
public:
    ArrayValueHolder() noexcept = default;

    bool IsEmpty() const override;
    size_t GetSize() const override;
    void Front(ItemProcessor<const View::Unit>& processor) const override;
    void Back(ItemProcessor<const View::Unit>& processor) const override;
    void At(size_t index, ItemProcessor<const View::Unit>& processor) const override;
    void ForEach(ItemProcessor<const View::Unit>& processor) const override;

    void Clear() override;
    void Insert(size_t index, std::unique_ptr<Construction::Unit>& unit) override;
    void Erase(size_t index) override;
    void Front(ItemProcessor<Modification::Unit>& processor) override;
    void Back(ItemProcessor<Modification::Unit>& processor) override;
    void PushBack(std::unique_ptr<Construction::Unit>& unit) override;
    void PushFront(std::unique_ptr<Construction::Unit>& unit) override;
    void PopBack() override;
    void PopFront() override;
    void At(size_t index, ItemProcessor<Modification::Unit>& processor) override;
    void ForEach(ItemProcessor<Modification::Unit>& processor) override;

    void Insert(size_t index, std::unique_ptr<Construction::Unit>&& unit) override;
    void Front(ItemProcessor<Construction::Unit>& processor) override;
    void Back(ItemProcessor<Construction::Unit>& processor) override;
    void PushBack(std::unique_ptr<Construction::Unit>&& unit) override;
    void PushFront(std::unique_ptr<Construction::Unit>&& unit) override;
    void At(size_t index, ItemProcessor<Construction::Unit>& processor) override;
    void ForEach(ItemProcessor<Construction::Unit>& processor) override;

private:
    using UnitVector = std::vector<std::unique_ptr<Construction::Unit>>;
    static constexpr size_t kFirstRoom = 3;

    // Raises 0xFA000F unless index < bound.
    static void CheckOutOfRange(size_t index, size_t bound);
    // A deep copy of `unit` made of in-memory units; a null unit raises 0xFA000B.
    static std::unique_ptr<Construction::Unit> CopyOf(const std::unique_ptr<Construction::Unit>& unit);
    // Inserts `unit` (never null) before `index`; the caller checked the bound.
    void InsertAt(size_t index, std::unique_ptr<Construction::Unit>&& unit);

    template <typename T>
    void HandFront(ItemProcessor<T>& processor) const;
    template <typename T>
    void HandBack(ItemProcessor<T>& processor) const;
    template <typename T>
    void HandAt(size_t index, ItemProcessor<T>& processor) const;
    template <typename T>
    void HandEach(ItemProcessor<T>& processor) const;

    UnitVector m_units;
};

} // namespace Por
