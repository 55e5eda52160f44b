#include "enterprise/common/por/unit_accumulator.h"

#include <utility>

#include "core/common/location.h"
#include "enterprise/common/por/array_helpers.h"
#include "enterprise/common/por/assign.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/por_errors.h"
#include "enterprise/common/por/types_mismatch.h"
#include "enterprise/common/por/utils.h"
#include "enterprise/common/por/value_type_index.h"

namespace Por::Util {

namespace {

constexpr Common::SourceFile kSource("enterprise/common/por/unit_accumulator");

bool Owns(UnitAccumulator::FrameKind kind)
{
    switch (kind) {
    case UnitAccumulator::FRAME_ROOT:
    case UnitAccumulator::FRAME_NEW_PROPERTY:
    case UnitAccumulator::FRAME_TRAIT:
    case UnitAccumulator::FRAME_NEW_ELEMENT:
    case UnitAccumulator::FRAME_CONTINUED_ARRAY:
        return true;
    default:
        return false;
    }
}

constexpr int kNilKind = static_cast<int>(ValueKind::Nil);

// Room for the frames of a few levels from the start, in a block of less
// than a kilobyte: a larger request makes the heap gather its free blocks
// first, which a run of small ones does not.
constexpr size_t kFirstFrames = 8;

} // namespace

UnitAccumulator::UnitAccumulator(const Construction::UnitFactory& factory) : m_factory(factory)
{
    m_frames.reserve(kFirstFrames);
    Push(FRAME_ROOT, nullptr, kNoValueKind);
}

UnitAccumulator::UnitAccumulator(std::unique_ptr<Construction::Unit>&& unit, const Construction::UnitFactory& factory)
    : m_factory(factory)
{
    std::unique_ptr<Construction::Unit> taken = std::move(unit);
    const int kind = taken ? GetValueTypeIndex(*taken) : kNoValueKind;
    m_frames.reserve(kFirstFrames);
    if (kind == kArrayKind)
        Push(FRAME_CONTINUED_ARRAY, taken.get(), kind).count = GetArraySize(*taken);
    else
        Push(FRAME_ROOT, taken.get(), kind);
    m_continuedRootPending = taken && kind != kNilKind;
    (void)taken.release(); // owned by the root frame now
}

UnitAccumulator::~UnitAccumulator()
{
    for (; m_open > 0; --m_open) {
        if (Owns(Top().kind))
            delete Top().unit;
    }
}

UnitAccumulator::Frame& UnitAccumulator::Push(FrameKind kind, Construction::Unit* unit, int unitKind)
{
    if (m_open == m_frames.size())
        m_frames.push_back(Frame{Name(), kind, unit, 0, 0, unitKind, nullptr});
    else
        m_frames[m_open] = Frame{Name(), kind, unit, 0, 0, unitKind, nullptr};
    return m_frames[m_open++];
}

UnitAccumulator::Frame& UnitAccumulator::Push(const Name& name, FrameKind kind, Construction::Unit* unit, int unitKind)
{
    if (m_open == m_frames.size()) {
        m_frames.push_back(Frame{name, kind, unit, 0, 0, unitKind, nullptr});
    } else {
        Frame& frame = m_frames[m_open];
        frame.name = name; // reuses the room of the name closed here last
        frame.kind = kind;
        frame.unit = unit;
        frame.count = 0;
        frame.next = 0;
        frame.unitKind = unitKind;
        frame.composite = nullptr;
    }
    return m_frames[m_open++];
}

Construction::CompositeValue* UnitAccumulator::CompositeOf(Frame& frame)
{
    if (frame.composite == nullptr && frame.unitKind == kCompositeKind)
        frame.composite = &GetCompositeValue(*frame.unit);
    return frame.composite;
}

void UnitAccumulator::Nil()
{
    OnValue(
        kNilKind, [](const Construction::UnitFactory& f, const void*) { return f.CreateNil(); }, nullptr);
}

#define POR_ACCUMULATE_VALUE(Kind, Parameter, Type)                  \
    void UnitAccumulator::Kind(Parameter value)                      \
    {                                                                \
        OnValue(                                                     \
            KindOfValue<Type>::index,                                \
            [](const Construction::UnitFactory& f, const void* v) {  \
                return f.Create##Kind(*static_cast<const Type*>(v)); \
            },                                                       \
            &value);                                                 \
    }
#define POR_ACCUMULATE_SCALAR(Kind, Type) POR_ACCUMULATE_VALUE(Kind, Type, Type)
#define POR_ACCUMULATE_COMPLEX(Kind, Type) POR_ACCUMULATE_VALUE(Kind, const Type&, Type)
POR_SCALAR_KINDS(POR_ACCUMULATE_SCALAR)
POR_COMPLEX_KINDS(POR_ACCUMULATE_COMPLEX)
#undef POR_ACCUMULATE_SCALAR
#undef POR_ACCUMULATE_COMPLEX
#undef POR_ACCUMULATE_VALUE

void UnitAccumulator::TakeString(std::u16string& value)
{
    OnValue(
        KindOfValue<std::u16string>::index,
        [](const Construction::UnitFactory& f, const void* v) {
            auto& text = *static_cast<std::u16string*>(const_cast<void*>(v));
            // Only a factory of this library is known to take a string over:
            // the factory interface is of a fixed binary order.
            if (const auto* inMemory = dynamic_cast<const Construction::InMemoryUnitFactory*>(&f))
                return inMemory->TakeString(text);
            return f.CreateString(text);
        },
        &value);
}

void UnitAccumulator::Array()
{
    OnValue(
        kArrayKind, [](const Construction::UnitFactory& f, const void*) { return f.CreateArray(); }, nullptr);
}

void UnitAccumulator::Composite()
{
    OnValue(
        kCompositeKind, [](const Construction::UnitFactory& f, const void*) { return f.CreateComposite(); }, nullptr);
}

void UnitAccumulator::OnValue(int kind, Maker make, const void* value)
{
    Frame& top = Top();
    if (m_continuedRootPending && m_open == 1) {
        // The first value event of a continued root: an Array continues an
        // Array root only, and only an Array does.
        m_continuedRootPending = false;
        if ((kind == kArrayKind) != (top.kind == FRAME_CONTINUED_ARRAY))
            ThrowModuleError(PorErrors::kDifferentTypes, PorErrors::kDifferentTypesText,
                             kSource.At("OnValue", __LINE__));
    }
    if (kind == kArrayKind) {
        if (top.kind == FRAME_EXISTING_PROPERTY && top.unitKind != kNilKind) {
            top.kind = FRAME_EXISTING_ARRAY;
            top.count = GetArraySize(*top.unit);
            return;
        }
        if (top.kind == FRAME_CONTINUED_ARRAY)
            return;
    }
    if (!top.unit) {
        top.unit = make(m_factory, value).release();
        top.unitKind = kind;
        return;
    }
    if (top.unitKind == kNilKind) {
        ReplaceValue(kind, make, value);
        return;
    }
    if (top.kind != FRAME_ROOT || top.unitKind == kArrayKind)
        PlaceValue(kind, make, value);
    // Otherwise a second value event on a finished root value: ignored.
}

void UnitAccumulator::ReplaceValue(int kind, Maker make, const void* value)
{
    Frame& top = Top();
    FrameKind frameKind = top.kind;
    switch (top.kind) {
    case FRAME_EXISTING_PROPERTY:
        frameKind = FRAME_NEW_PROPERTY; // the property is set anew at End, replacing the Nil one
        break;
    case FRAME_EXISTING_ELEMENT:
        // An existing Nil element is assigned, never replaced.
        AssignValue(*top.unit, top.unitKind, make, value);
        return;
    default: // root, new property, trait and new element frames keep their kind
        break;
    }
    std::unique_ptr<Construction::Unit> fresh = make(m_factory, value);
    const std::unique_ptr<Construction::Unit> replaced(Owns(top.kind) ? top.unit : nullptr);
    top.unit = fresh.release();
    top.unitKind = kind;
    top.composite = nullptr;
    top.kind = frameKind;
    top.count = 0;
    top.next = 0;
}

void UnitAccumulator::PlaceValue(int kind, Maker make, const void* value)
{
    Frame& top = Top();
    if (top.kind == FRAME_EXISTING_PROPERTY) {
        AssignValue(*top.unit, top.unitKind, make, value);
        return;
    }
    if ((top.kind == FRAME_EXISTING_ARRAY || top.kind == FRAME_CONTINUED_ARRAY) && top.next < top.count) {
        Construction::Unit* element = GetMutableArrayElement(*top.unit, top.next);
        ++top.next;
        const int elementKind = GetValueTypeIndex(*element);
        Push(FRAME_EXISTING_ELEMENT, element, elementKind);
        AssignValue(*element, elementKind, make, value);
        return;
    }
    std::unique_ptr<Construction::Unit> unit = make(m_factory, value);
    Push(FRAME_NEW_ELEMENT, unit.get(), kind);
    (void)unit.release(); // owned by the new frame
}

void UnitAccumulator::AssignValue(Construction::Unit& target, int targetKind, Maker make, const void* value)
{
    const std::unique_ptr<Construction::Unit> source = make(m_factory, value);
    if (targetKind < kArrayKind)
        Assign(target, *source, m_factory);
}

void UnitAccumulator::Property(const Name& name)
{
    Frame& top = Top();
    if (!top.unit) // a property before its composite's value event
        Common::ThrowError(Detail::MakeTypeMismatchError(kCompositeKind, kNoValueKind));
    // Anything but a Composite raises the type-mismatch error.
    Construction::CompositeValue* composite = CompositeOf(top);
    Construction::Property* existing = composite ? FindCompositeProperty(*composite, name)
                                                 : FindProperty(*top.unit, name);
    Construction::Unit* value = existing ? &existing->GetValue() : nullptr;
    Push(name, existing ? FRAME_EXISTING_PROPERTY : FRAME_NEW_PROPERTY, value,
         value ? GetValueTypeIndex(*value) : kNoValueKind);
}

void UnitAccumulator::Trait(const Name& name)
{
    Push(name, FRAME_TRAIT, nullptr, kNoValueKind);
}

void UnitAccumulator::End()
{
    // The frame is closed at once; its slot stays untouched until the next
    // frame is opened.
    Frame& top = m_frames[--m_open];
    std::unique_ptr<Construction::Unit> owned(Owns(top.kind) ? top.unit : nullptr);

    if (top.kind == FRAME_ROOT || top.kind == FRAME_CONTINUED_ARRAY) {
        m_result = std::move(owned);
        m_continuedRootPending = false;
        Push(FRAME_ROOT, nullptr, kNoValueKind);
        return;
    }
    if (!Owns(top.kind))
        return; // an existing property, array or element was changed in place
    Frame& parentFrame = Top();
    Construction::Unit* parent = parentFrame.unit;
    if (!parent) // a trait before its unit's value event
        ThrowModuleError(PorErrors::kNullUnit, PorErrors::kNullUnitText, kSource.At("End", __LINE__));
    switch (top.kind) {
    case FRAME_NEW_PROPERTY:
        if (Construction::CompositeValue* composite = CompositeOf(parentFrame))
            composite->Set(m_factory.CreateProperty(top.name, std::move(owned)));
        else // raises the type-mismatch error
            AddProperty(*parent, top.name, std::move(owned), m_factory);
        break;
    case FRAME_TRAIT:
        AddTrait(*parent, top.name, std::move(owned), m_factory);
        break;
    default: // FRAME_NEW_ELEMENT: dropped when the parent is not an Array
        Util::AppendToArray(*parent, std::move(owned));
        break;
    }
}

std::unique_ptr<Construction::Unit> UnitAccumulator::TakeUnit()
{
    return std::move(m_result);
}

} // namespace Por::Util
