// The unit interfaces are a binary contract: every operation sits at a fixed
// virtual slot (slots 0 and 1 are the two destructors of every interface).

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "enterprise/common/por/item_processor.h"
#include "enterprise/common/por/unit.h"
#include "enterprise/common/por/unit_factory.h"
#include "testing/vtable_slot.h"

namespace {

using namespace Por;
using Testing::VirtualSlot;

// The slot of the overload of `member` whose pointer type is `Type`.
#define SLOT(Type, member) VirtualSlot(static_cast<Type>(member))

TEST(UnitInterfaceSlots, Units)
{
    EXPECT_EQ(SLOT(void(View::Unit::*)(View::UnitReader&) const, &View::Unit::Accept), 2u);
    EXPECT_EQ(SLOT(const View::Traits& (View::Unit::*)() const, &View::Unit::traits), 3u);
    EXPECT_EQ(SLOT(void(Modification::Unit::*)(Modification::UnitWriter&), &Modification::Unit::Accept), 4u);
    EXPECT_EQ(SLOT(void(Construction::Unit::*)(Construction::UnitBuilder&), &Construction::Unit::Accept), 5u);
    EXPECT_EQ(SLOT(Construction::Traits & (Construction::Unit::*)(), &Construction::Unit::traits), 6u);
}

TEST(UnitInterfaceSlots, ScalarAndComplexValues)
{
    EXPECT_EQ(VirtualSlot(&View::ScalarValue<int>::Get), 2u);
    EXPECT_EQ(VirtualSlot(&Modification::ScalarValue<int>::Set), 3u);
    EXPECT_EQ(VirtualSlot(&View::ComplexValue<std::u16string>::Get), 2u);
    EXPECT_EQ(VirtualSlot(&Modification::ComplexValue<std::u16string>::Set), 3u);
    EXPECT_EQ(VirtualSlot(&Modification::ComplexValue<Common::Error>::Set), 3u);
}

TEST(UnitInterfaceSlots, ArrayValue)
{
    using VP = ItemProcessor<const View::Unit>;
    using MP = ItemProcessor<Modification::Unit>;
    using CP = ItemProcessor<Construction::Unit>;
    using View::ArrayValue;
    using MA = Modification::ArrayValue;
    using CA = Construction::ArrayValue;
    EXPECT_EQ(VirtualSlot(&ArrayValue::IsEmpty), 2u);
    EXPECT_EQ(VirtualSlot(&ArrayValue::GetSize), 3u);
    EXPECT_EQ(SLOT(void(ArrayValue::*)(VP&) const, &ArrayValue::Front), 4u);
    EXPECT_EQ(SLOT(void(ArrayValue::*)(VP&) const, &ArrayValue::Back), 5u);
    EXPECT_EQ(SLOT(void(ArrayValue::*)(size_t, VP&) const, &ArrayValue::At), 6u);
    EXPECT_EQ(SLOT(void(ArrayValue::*)(VP&) const, &ArrayValue::ForEach), 7u);

    EXPECT_EQ(VirtualSlot(&MA::Clear), 8u);
    EXPECT_EQ(SLOT(void(MA::*)(size_t, std::unique_ptr<Construction::Unit>&), &MA::Insert), 9u);
    EXPECT_EQ(VirtualSlot(&MA::Erase), 10u);
    EXPECT_EQ(SLOT(void(MA::*)(MP&), &MA::Front), 11u);
    EXPECT_EQ(SLOT(void(MA::*)(MP&), &MA::Back), 12u);
    EXPECT_EQ(SLOT(void(MA::*)(std::unique_ptr<Construction::Unit>&), &MA::PushBack), 13u);
    EXPECT_EQ(SLOT(void(MA::*)(std::unique_ptr<Construction::Unit>&), &MA::PushFront), 14u);
    EXPECT_EQ(VirtualSlot(&MA::PopBack), 15u);
    EXPECT_EQ(VirtualSlot(&MA::PopFront), 16u);
    EXPECT_EQ(SLOT(void(MA::*)(size_t, MP&), &MA::At), 17u);
    EXPECT_EQ(SLOT(void(MA::*)(MP&), &MA::ForEach), 18u);

    EXPECT_EQ(SLOT(void(CA::*)(size_t, std::unique_ptr<Construction::Unit> &&), &CA::Insert), 19u);
    EXPECT_EQ(SLOT(void(CA::*)(CP&), &CA::Front), 20u);
    EXPECT_EQ(SLOT(void(CA::*)(CP&), &CA::Back), 21u);
    EXPECT_EQ(SLOT(void(CA::*)(std::unique_ptr<Construction::Unit> &&), &CA::PushBack), 22u);
    EXPECT_EQ(SLOT(void(CA::*)(std::unique_ptr<Construction::Unit> &&), &CA::PushFront), 23u);
    EXPECT_EQ(SLOT(void(CA::*)(size_t, CP&), &CA::At), 24u);
    EXPECT_EQ(SLOT(void(CA::*)(CP&), &CA::ForEach), 25u);
}

TEST(UnitInterfaceSlots, CompositeValue)
{
    using VP = ItemProcessor<const View::Property>;
    using MP = ItemProcessor<Modification::Property>;
    using CP = ItemProcessor<Construction::Property>;
    using View::CompositeValue;
    using MC = Modification::CompositeValue;
    using CC = Construction::CompositeValue;
    EXPECT_EQ(SLOT(void(CompositeValue::*)(VP&) const, &CompositeValue::ForEach), 2u);
    EXPECT_EQ(SLOT(bool(CompositeValue::*)(const Name&, VP&) const, &CompositeValue::ForEachNamed), 3u);
    EXPECT_EQ(SLOT(PropertyIterator<const View::Property>(CompositeValue::*)() const, &CompositeValue::Enumerate), 4u);
    EXPECT_EQ(SLOT(void(MC::*)(MP&), &MC::ForEach), 5u);
    EXPECT_EQ(SLOT(bool(MC::*)(const Name&, MP&), &MC::ForEachNamed), 6u);
    EXPECT_EQ(SLOT(void(CC::*)(CP&), &CC::ForEach), 7u);
    EXPECT_EQ(SLOT(bool(CC::*)(const Name&, CP&), &CC::ForEachNamed), 8u);
    EXPECT_EQ(VirtualSlot(&CC::Set), 9u);
    EXPECT_EQ(VirtualSlot(&CC::Remove), 10u);
    EXPECT_EQ(SLOT(PropertyIterator<Construction::Property>(CC::*)(), &CC::Enumerate), 11u);
}

TEST(UnitInterfaceSlots, PropertiesTraitsAndTraitSets)
{
    EXPECT_EQ(VirtualSlot(&View::Property::GetName), 2u);
    EXPECT_EQ(SLOT(const View::Unit& (View::Property::*)() const, &View::Property::GetValue), 3u);
    EXPECT_EQ(SLOT(Modification::Unit & (Modification::Property::*)(), &Modification::Property::GetValue), 4u);
    // The Construction level's covariant GetValue takes no slot of its own.
    EXPECT_EQ(SLOT(Construction::Unit & (Construction::Property::*)(), &Construction::Property::GetValue), 4u);

    EXPECT_EQ(VirtualSlot(&View::Trait::GetName), 2u);
    EXPECT_EQ(VirtualSlot(&View::Trait::GetValue), 3u);

    EXPECT_EQ(VirtualSlot(&View::Traits::ForEach), 2u);
    EXPECT_EQ(VirtualSlot(&View::Traits::ForEachNamed), 3u);
    EXPECT_EQ(VirtualSlot(&Construction::Traits::Add), 4u);
    EXPECT_EQ(VirtualSlot(&Construction::Traits::Remove), 5u);
}

// Visit of kind k sits at slot 2 + k in all three visitors.
template <typename Visitor, template <typename> class Scalar, template <typename> class Complex, typename Nil,
          typename Array, typename Composite, bool isConst>
void ExpectVisitSlots()
{
    auto slotOf = [](auto* tag) {
        using V = std::remove_pointer_t<decltype(tag)>;
        using Arg = std::conditional_t<isConst, const V&, V&>;
        return VirtualSlot(static_cast<void (Visitor::*)(Arg)>(&Visitor::Visit));
    };
    size_t k = 0;
    EXPECT_EQ(slotOf(static_cast<Nil*>(nullptr)), 2 + k++);
#define POR_EXPECT_SCALAR_SLOT(Name, Type) EXPECT_EQ(slotOf(static_cast<Scalar<Type>*>(nullptr)), 2 + k++) << #Name;
#define POR_EXPECT_COMPLEX_SLOT(Name, Type) EXPECT_EQ(slotOf(static_cast<Complex<Type>*>(nullptr)), 2 + k++) << #Name;
    POR_SCALAR_KINDS(POR_EXPECT_SCALAR_SLOT)
    POR_COMPLEX_KINDS(POR_EXPECT_COMPLEX_SLOT)
#undef POR_EXPECT_SCALAR_SLOT
#undef POR_EXPECT_COMPLEX_SLOT
    EXPECT_EQ(slotOf(static_cast<Array*>(nullptr)), 2 + k++);
    EXPECT_EQ(slotOf(static_cast<Composite*>(nullptr)), 2 + k++);
    EXPECT_EQ(k, 17u);
}

TEST(UnitInterfaceSlots, VisitorsHaveOneVisitPerKindInKindOrder)
{
    ExpectVisitSlots<View::UnitReader, View::ScalarValue, View::ComplexValue, View::NilValue, View::ArrayValue,
                     View::CompositeValue, true>();
    ExpectVisitSlots<Modification::UnitWriter, Modification::ScalarValue, Modification::ComplexValue,
                     Modification::NilValue, Modification::ArrayValue, Modification::CompositeValue, false>();
    ExpectVisitSlots<Construction::UnitBuilder, Construction::ScalarValue, Construction::ComplexValue,
                     Construction::NilValue, Construction::ArrayValue, Construction::CompositeValue, false>();
}

TEST(UnitInterfaceSlots, ItemProcessorAndFactory)
{
    EXPECT_EQ(VirtualSlot(&ItemProcessor<const View::Unit>::Process), 2u);
    using F = Construction::UnitFactory;
    EXPECT_EQ(VirtualSlot(&F::CreateNil), 2u);
    size_t k = 3;
#define POR_EXPECT_CREATOR_SLOT(Name, Type) EXPECT_EQ(VirtualSlot(&F::Create##Name), k++) << #Name;
    POR_SCALAR_KINDS(POR_EXPECT_CREATOR_SLOT)
    POR_COMPLEX_KINDS(POR_EXPECT_CREATOR_SLOT)
#undef POR_EXPECT_CREATOR_SLOT
    EXPECT_EQ(VirtualSlot(&F::CreateArray), 17u);
    EXPECT_EQ(VirtualSlot(&F::CreateComposite), 18u);
    EXPECT_EQ(VirtualSlot(&F::CreateTrait), 19u);
    EXPECT_EQ(VirtualSlot(&F::CreateProperty), 20u);
}

TEST(UnitInterfaceLayout, InterfacesHoldOnlyTheirTablePointer)
{
    EXPECT_EQ(sizeof(View::Unit), sizeof(void*));
    EXPECT_EQ(sizeof(Construction::Unit), sizeof(void*));
    EXPECT_EQ(sizeof(Construction::ArrayValue), sizeof(void*));
    EXPECT_EQ(sizeof(Construction::Property), sizeof(void*));
    EXPECT_EQ(sizeof(Construction::UnitFactory), sizeof(void*));
    EXPECT_EQ(sizeof(PropertyIterator<const View::Property>), sizeof(std::shared_ptr<void>) + 3 * sizeof(void*));
}

} // namespace
