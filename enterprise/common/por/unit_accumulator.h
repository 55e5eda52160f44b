// Por::Util::UnitAccumulator: builds a construction unit from building events
// (unit_builder.h), keeping the open units on a stack of frames.
//
// An empty accumulator builds new units; a continuing one applies the events
// onto an existing unit: a Property naming an existing property enters its
// value, a value event on an existing value of kind 1-14 assigns it in place
// (Por::Util::Assign: kinds must be equal, else 0xFA0011), on a Composite or
// Array it assigns nothing (properties merge by name, elements by position
// with the surplus appended), on Nil it replaces the Nil. Traits are always
// added (the trait set drops an equal one). End of a root keeps the unit as
// the result (TakeUnit hands it out once) and opens a fresh empty root.
//
// Sequences that cannot describe a unit raise instead of touching a missing
// unit: a Property before its unit's value event raises the type-mismatch
// error (expected "composite"); an End whose parent has no unit raises
// 0xFA000B; continuing a root where exactly one of the root and the first
// value event is an Array raises 0xFA0011. After an error the accumulator can
// only be destroyed; it releases what it owns and nothing else.
//
// Threading: one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "enterprise/common/por/unit_builder.h"
#include "enterprise/common/por/unit_factory.h"

namespace Por::Util {

class UnitAccumulator final : public UnitBuilder
{
public:
    enum FrameKind : uint32_t
    {
        FRAME_ROOT,
        FRAME_NEW_PROPERTY,
        FRAME_EXISTING_PROPERTY,
        FRAME_EXISTING_ARRAY,
        FRAME_TRAIT,
        FRAME_NEW_ELEMENT,
        FRAME_EXISTING_ELEMENT,
        FRAME_CONTINUED_ARRAY,
    };

    struct Frame
    {
        Name name; // property or trait name; empty for roots and elements
        FrameKind kind;
        Construction::Unit* unit; // null until the frame's first value event
        size_t count;             // existing elements matched by position (array frames)
        size_t next;              // the next existing element to match
        int unitKind;             // the kind index of `unit`, kNoValueKind without one
        // The unit's composite value, once a property event has looked for it
        // (null until then, and for a unit of any other kind).
        Construction::CompositeValue* composite;
    };

    explicit UnitAccumulator(const Construction::UnitFactory& factory);
    // Continues `unit` (taken over; may be null).
    UnitAccumulator(std::unique_ptr<Construction::Unit>&& unit, const Construction::UnitFactory& factory);
    ~UnitAccumulator() override;

    void Nil() override;
#define POR_ACCUMULATE_SCALAR(Kind, Type) void Kind(Type value) override;
    POR_SCALAR_KINDS(POR_ACCUMULATE_SCALAR)
#undef POR_ACCUMULATE_SCALAR
#define POR_ACCUMULATE_COMPLEX(Kind, Type) void Kind(const Type& value) override;
    POR_COMPLEX_KINDS(POR_ACCUMULATE_COMPLEX)
#undef POR_ACCUMULATE_COMPLEX
    void Array() override;
    void Composite() override;
    void Property(const Name& name) override;
    void Trait(const Name& name) override;
    void End() override;
    std::unique_ptr<Construction::Unit> TakeUnit() override;
    // String that takes the units of `value` over where the factory can;
    // `value` is then left valid but unspecified.
    void TakeString(std::u16string& value);

private:
    using Maker = std::unique_ptr<Construction::Unit> (*)(const Construction::UnitFactory&, const void* value);

    void OnValue(int kind, Maker make, const void* value);
    void ReplaceValue(int kind, Maker make, const void* value);
    void PlaceValue(int kind, Maker make, const void* value);
    void AssignValue(Construction::Unit& target, int targetKind, Maker make, const void* value);

    Frame& Top() noexcept
    {
        return m_frames[m_open - 1];
    }
    // Opens a frame on top. Frames above the open ones are kept for reuse,
    // so that a name copied into a frame reuses the room of the last one.
    Frame& Push(FrameKind kind, Construction::Unit* unit, int unitKind);
    Frame& Push(const Name& name, FrameKind kind, Construction::Unit* unit, int unitKind);
    // The composite value of the frame's unit; null when it is no Composite.
    Construction::CompositeValue* CompositeOf(Frame& frame);

    const Construction::UnitFactory& m_factory;
    // m_frames[0, m_open) are the open frames, the top last; the rest are
    // closed frames kept for their room.
    std::vector<Frame> m_frames;
    size_t m_open = 0;
    std::unique_ptr<Construction::Unit> m_result;
    bool m_continuedRootPending = false; // the continued root has not seen its value event yet
};

} // namespace Por::Util
