#include "enterprise/common/por/unit_accumulator.h"

#include <utility>

#include "core/common/location.h"
#include "enterprise/common/por/array_helpers.h"
#include "enterprise/common/por/assign.h"
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

bool IsNil(const View::Unit& unit)
{
    return GetValueTypeIndex(unit) == static_cast<int>(ValueKind::Nil);
}

UnitAccumulator::Frame EmptyFrame(UnitAccumulator::FrameKind kind, Construction::Unit* unit = nullptr)
{
    return UnitAccumulator::Frame{Name(), kind, unit, 0, 0};
}

} // namespace

UnitAccumulator::UnitAccumulator(const Construction::UnitFactory& factory) : m_factory(factory)
{
    m_frames.push_back(EmptyFrame(FRAME_ROOT));
}

UnitAccumulator::UnitAccumulator(std::unique_ptr<Construction::Unit>&& unit, const Construction::UnitFactory& factory)
    : m_factory(factory)
{
    std::unique_ptr<Construction::Unit> taken = std::move(unit);
    if (taken && IsArray(*taken)) {
        Frame frame = EmptyFrame(FRAME_CONTINUED_ARRAY, taken.get());
        frame.count = GetArraySize(*taken);
        m_frames.push_back(std::move(frame));
    } else {
        m_frames.push_back(EmptyFrame(FRAME_ROOT, taken.get()));
    }
    m_continuedRootPending = taken && !IsNil(*taken);
    (void)taken.release(); // owned by the root frame now
}

UnitAccumulator::~UnitAccumulator()
{
    while (!m_frames.empty()) {
        if (Owns(m_frames.back().kind))
            delete m_frames.back().unit;
        m_frames.pop_back();
    }
}

void UnitAccumulator::Nil()
{
    OnValue(
        static_cast<int>(ValueKind::Nil), [](const Construction::UnitFactory& f, const void*) { return f.CreateNil(); },
        nullptr);
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
    Frame& top = m_frames.back();
    if (m_continuedRootPending && m_frames.size() == 1) {
        // The first value event of a continued root: an Array continues an
        // Array root only, and only an Array does.
        m_continuedRootPending = false;
        if ((kind == kArrayKind) != (top.kind == FRAME_CONTINUED_ARRAY))
            ThrowModuleError(PorErrors::kDifferentTypes, PorErrors::kDifferentTypesText,
                             kSource.At("OnValue", __LINE__));
    }
    if (kind == kArrayKind) {
        if (top.kind == FRAME_EXISTING_PROPERTY && !IsNil(*top.unit)) {
            top.kind = FRAME_EXISTING_ARRAY;
            top.count = GetArraySize(*top.unit);
            return;
        }
        if (top.kind == FRAME_CONTINUED_ARRAY)
            return;
    }
    if (!top.unit) {
        top.unit = make(m_factory, value).release();
        return;
    }
    if (IsNil(*top.unit)) {
        ReplaceValue(make, value);
        return;
    }
    if (top.kind != FRAME_ROOT || IsArray(*top.unit))
        PlaceValue(make, value);
    // Otherwise a second value event on a finished root value: ignored.
}

void UnitAccumulator::ReplaceValue(Maker make, const void* value)
{
    Frame& top = m_frames.back();
    FrameKind kind = top.kind;
    switch (top.kind) {
    case FRAME_EXISTING_PROPERTY:
        kind = FRAME_NEW_PROPERTY; // the property is set anew at End, replacing the Nil one
        break;
    case FRAME_EXISTING_ELEMENT:
        // An existing Nil element is assigned, never replaced.
        AssignValue(*top.unit, make, value);
        return;
    default: // root, new property, trait and new element frames keep their kind
        break;
    }
    std::unique_ptr<Construction::Unit> fresh = make(m_factory, value);
    const std::unique_ptr<Construction::Unit> replaced(Owns(top.kind) ? top.unit : nullptr);
    top.unit = fresh.release();
    top.kind = kind;
    top.count = 0;
    top.next = 0;
}

void UnitAccumulator::PlaceValue(Maker make, const void* value)
{
    Frame& top = m_frames.back();
    if (top.kind == FRAME_EXISTING_PROPERTY) {
        AssignValue(*top.unit, make, value);
        return;
    }
    if ((top.kind == FRAME_EXISTING_ARRAY || top.kind == FRAME_CONTINUED_ARRAY) && top.next < top.count) {
        Construction::Unit* element = GetMutableArrayElement(*top.unit, top.next);
        ++top.next;
        m_frames.push_back(EmptyFrame(FRAME_EXISTING_ELEMENT, element));
        AssignValue(*element, make, value);
        return;
    }
    std::unique_ptr<Construction::Unit> unit = make(m_factory, value);
    m_frames.push_back(EmptyFrame(FRAME_NEW_ELEMENT, unit.get()));
    (void)unit.release(); // owned by the new frame
}

void UnitAccumulator::AssignValue(Construction::Unit& target, Maker make, const void* value)
{
    const std::unique_ptr<Construction::Unit> source = make(m_factory, value);
    if (GetValueTypeIndex(target) < kArrayKind)
        Assign(target, *source, m_factory);
}

void UnitAccumulator::Property(const Name& name)
{
    Construction::Unit* unit = m_frames.back().unit;
    if (!unit) // a property before its composite's value event
        Common::ThrowError(Detail::MakeTypeMismatchError(kCompositeKind, kNoValueKind));
    Construction::Property* existing = FindProperty(*unit, name);
    Frame frame{name, existing ? FRAME_EXISTING_PROPERTY : FRAME_NEW_PROPERTY,
                existing ? &existing->GetValue() : nullptr, 0, 0};
    m_frames.push_back(std::move(frame));
}

void UnitAccumulator::Trait(const Name& name)
{
    m_frames.push_back(Frame{name, FRAME_TRAIT, nullptr, 0, 0});
}

void UnitAccumulator::End()
{
    Frame top = std::move(m_frames.back());
    m_frames.pop_back();
    std::unique_ptr<Construction::Unit> owned(Owns(top.kind) ? top.unit : nullptr);

    if (top.kind == FRAME_ROOT || top.kind == FRAME_CONTINUED_ARRAY) {
        m_result = std::move(owned);
        m_continuedRootPending = false;
        m_frames.push_back(EmptyFrame(FRAME_ROOT));
        return;
    }
    if (!Owns(top.kind))
        return; // an existing property, array or element was changed in place
    Construction::Unit* parent = m_frames.back().unit;
    if (!parent) // a trait before its unit's value event
        ThrowModuleError(PorErrors::kNullUnit, PorErrors::kNullUnitText, kSource.At("End", __LINE__));
    switch (top.kind) {
    case FRAME_NEW_PROPERTY:
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
