#include "service/patch_applier.h"

#include <string>
#include <utility>
#include <vector>

#include "core/common/location.h"
#include "core/common/message_catalogue.h"
#include "core/common/message_format.h"
#include "core/common/text_conversion.h"
#include "enterprise/common/por/types_mismatch.h"
#include "enterprise/common/por/unit_copier.h"
#include "enterprise/common/por/unit_diff.h"
#include "enterprise/common/por/unit_order_key.h"
#include "enterprise/common/por/utils.h"
#include "enterprise/common/por/value_type_index.h"
#include "service/service_errors.h"

namespace Service {

namespace {

using Por::Construction::UnitFactory;
using UnitPtr = std::unique_ptr<Por::Construction::Unit>;
namespace M = Por::Util::DiffMarkers;

constexpr Common::SourceFile kSource("service/patch_applier");

[[noreturn]] void DoesNotFit(const std::string& reason, uint32_t line)
{
    throw ServiceErrors::MakeReasonError(ServiceErrors::kPatchDoesNotFit, ServiceErrors::kPatchDoesNotFitText, reason,
                                         kSource.At("ApplyPatch", line));
}

bool IsNil(const Por::View::Unit& unit)
{
    return Por::Util::GetValueTypeIndex(unit) == static_cast<int>(Por::ValueKind::Nil);
}

size_t CountTraits(const Por::View::Unit& unit)
{
    size_t traits = 0;
    auto counter = Por::ProcessorOf<const Por::View::Trait>([&](const Por::View::Trait&) { return ++traits, false; });
    unit.traits().ForEach(counter);
    return traits;
}

// The value of a marker: a Nil without traits. A trait of a marker's name
// holding anything else is data.
bool IsMarkerValue(const Por::View::Unit& unit)
{
    return IsNil(unit) && CountTraits(unit) == 0;
}

// A marker trait of that name.
bool HasMarker(const Por::View::Unit& unit, const Por::Name& name)
{
    bool found = false;
    auto finder = Por::ProcessorOf<const Por::View::Trait>(
        [&](const Por::View::Trait& trait) { return found = IsMarkerValue(trait.GetValue()); });
    unit.traits().ForEachNamed(name, finder);
    return found;
}

// A Nil whose only trait is the marker `name`.
bool IsBareMarkedNil(const Por::View::Unit& unit, const Por::Name& name)
{
    return IsNil(unit) && CountTraits(unit) == 1 && HasMarker(unit, name);
}

const Por::View::CompositeValue* CompositeOf(const Por::View::Unit& unit)
{
    struct Finder : Por::View::NullVisitor
    {
        const Por::View::CompositeValue* value = nullptr;
        using NullVisitor::Visit;
        void Visit(const Por::View::CompositeValue& composite) override { value = &composite; }
    } finder;
    unit.Accept(finder);
    return finder.value;
}

const Por::View::Unit* FindProperty(const Por::View::CompositeValue& composite, const Por::Name& name)
{
    const Por::View::Property* property = Por::Util::FindConstCompositeProperty(composite, name);
    return property ? &property->GetValue() : nullptr;
}

void AddTraitCopy(Por::Construction::Unit& target, const Por::Name& name, const Por::View::Unit& value,
                  const UnitFactory& factory)
{
    Por::Util::AddTrait(target, name, Por::Util::CopyUnit(value, factory), factory);
}

struct Record
{
    const Por::Name* name;
    const Por::View::Unit* previousValue;
    const Por::View::Unit* newValue;
    bool removal;
};

// The trait records of a diff unit; any trait but a record or one of the
// markers `allowed` does not fit.
std::vector<Record> ReadRecords(const Por::View::Unit& patch, std::initializer_list<const Por::Name*> allowed)
{
    std::vector<Record> records;
    auto reader = Por::ProcessorOf<const Por::View::Trait>([&](const Por::View::Trait& trait) {
        const Por::View::Unit& value = trait.GetValue();
        const Por::View::CompositeValue* record = CompositeOf(value);
        if (record && HasMarker(value, M::kFullDiff)) {
            const Por::View::Unit* previousValue = FindProperty(*record, M::kPreviousValue);
            const Por::View::Unit* newValue = FindProperty(*record, M::kNewValue);
            if (!previousValue || !newValue)
                DoesNotFit(std::string("trait record '") + trait.GetName().GetText() + "' lacks a value", __LINE__);
            const bool removal = IsBareMarkedNil(*newValue, M::kRemoved);
            if (removal == IsBareMarkedNil(*previousValue, M::kAdded))
                DoesNotFit(std::string("trait record '") + trait.GetName().GetText() +
                               "' is neither removal nor addition",
                           __LINE__);
            records.push_back(Record{&trait.GetName(), previousValue, newValue, removal});
            return false;
        }
        for (const Por::Name* name : allowed) {
            if (trait.GetName() == *name && IsMarkerValue(value))
                return false;
        }
        DoesNotFit(std::string("unexpected trait '") + trait.GetName().GetText() + "'", __LINE__);
    });
    patch.traits().ForEach(reader);
    return records;
}

// Removes one trait of `name` whose value orders equal to `value`.
void RemoveOneTrait(Por::Construction::Unit& target, const Por::Name& name, const Por::View::Unit& value,
                    const UnitFactory& factory)
{
    std::vector<UnitPtr> kept;
    bool found = false;
    auto collector = Por::ProcessorOf<const Por::View::Trait>([&](const Por::View::Trait& trait) {
        if (!found && Por::Util::CompareUnitKeys(trait.GetValue(), value) == 0)
            found = true;
        else
            kept.push_back(Por::Util::CopyUnit(trait.GetValue(), factory));
        return false;
    });
    target.traits().ForEachNamed(name, collector);
    if (!found)
        DoesNotFit(std::string("no trait '") + name.GetText() + "' holds the previous value", __LINE__);
    (void)target.traits().Remove(name); // the count is known: the kept ones go back
    for (UnitPtr& value : kept)
        target.traits().Add(factory.CreateTrait(name, std::move(value)));
}

void ApplyRecords(Por::Construction::Unit& target, const std::vector<Record>& records, const UnitFactory& factory)
{
    for (const Record& record : records) {
        if (record.removal)
            RemoveOneTrait(target, *record.name, *record.previousValue, factory);
    }
    for (const Record& record : records) {
        if (!record.removal)
            AddTraitCopy(target, *record.name, *record.newValue, factory);
    }
}

UnitPtr ApplyUnitDiff(const Por::View::Unit& oldUnit, const Por::View::Unit& patch, const UnitFactory& factory,
                      const Por::Name* topMarker);

UnitPtr ApplyCompositeDiff(const Por::View::Unit& oldUnit, const Por::View::CompositeValue& oldComposite,
                           const Por::View::CompositeValue& patch, const UnitFactory& factory)
{
    UnitPtr result = Por::Util::CopyUnit(oldUnit, factory);
    Por::Construction::CompositeValue& composite = Por::Util::GetCompositeValue(*result);
    auto applier = Por::ProcessorOf<const Por::View::Property>([&](const Por::View::Property& property) {
        const Por::Name& name = property.GetName();
        const Por::View::Unit& value = property.GetValue();
        const Por::View::Unit* oldValue = FindProperty(oldComposite, name);
        if (!oldValue) {
            if (!HasMarker(value, M::kAdded))
                DoesNotFit(std::string("property '") + name.GetText() + "' is missing", __LINE__);
            UnitPtr added = Por::Util::CopyUnit(value, factory);
            RemoveOneTrait(*added, M::kAdded, *factory.CreateNil(), factory); // the marker only
            composite.Set(factory.CreateProperty(name, std::move(added)));
        } else if (IsBareMarkedNil(value, M::kRemoved)) {
            composite.Remove(name);
        } else {
            composite.Set(factory.CreateProperty(name, ApplyUnitDiff(*oldValue, value, factory, nullptr)));
        }
        return false;
    });
    patch.ForEach(applier);
    return result;
}

UnitPtr ApplyUnitDiff(const Por::View::Unit& oldUnit, const Por::View::Unit& patch, const UnitFactory& factory,
                      const Por::Name* topMarker)
{
    if (HasMarker(patch, M::kFullElementCopy)) {
        if (!HasMarker(patch, M::kFixedTraitedFullCopy))
            DoesNotFit("an array copy lacks its traits", __LINE__);
        if (Por::Util::GetValueTypeIndex(patch) != Por::kArrayKind)
            DoesNotFit("an array copy is no array", __LINE__);
        UnitPtr result = Por::Util::CopyUnitValue(patch, factory);
        auto copier = Por::ProcessorOf<const Por::View::Trait>([&](const Por::View::Trait& trait) {
            const Por::Name& name = trait.GetName();
            const bool marker = IsMarkerValue(trait.GetValue()) &&
                (name == M::kFullElementCopy || name == M::kFixedTraitedFullCopy || (topMarker && name == *topMarker));
            if (!marker)
                AddTraitCopy(*result, name, trait.GetValue(), factory);
            return false;
        });
        patch.traits().ForEach(copier);
        return result;
    }
    const Por::Name* top = topMarker ? topMarker : &M::kTraitsOnlyDiff;
    const std::vector<Record> records = ReadRecords(patch, {top, &M::kTraitsOnlyDiff});
    UnitPtr result;
    const Por::View::CompositeValue* patchComposite = CompositeOf(patch);
    const Por::View::CompositeValue* oldComposite = CompositeOf(oldUnit);
    if (HasMarker(patch, M::kTraitsOnlyDiff)) {
        if (!patchComposite || patchComposite->Enumerate().IsValid())
            DoesNotFit("a traits-only diff holds a value", __LINE__);
        result = Por::Util::CopyUnit(oldUnit, factory);
    } else if (patchComposite && oldComposite) {
        result = ApplyCompositeDiff(oldUnit, *oldComposite, *patchComposite, factory);
    } else {
        result = Por::Util::CopyUnitValue(patch, factory);
        Por::Util::ApplySourceTraits(oldUnit, *result, factory);
    }
    ApplyRecords(*result, records, factory);
    return result;
}

} // namespace

UnitPtr ApplyPatch(const Por::View::Unit& oldUnit, const Por::View::Unit& patch, const UnitFactory& factory)
{
    if (!HasMarker(patch, M::kPackedDiff))
        DoesNotFit("it is not marked PackedDiff", __LINE__);
    if (HasMarker(patch, M::kEmptyDiff)) {
        (void)ReadRecords(patch, {&M::kPackedDiff, &M::kEmptyDiff}); // only the two markers fit
        if (!IsNil(patch))
            DoesNotFit("an empty diff holds a value", __LINE__);
        return Por::Util::CopyUnit(oldUnit, factory);
    }
    return ApplyUnitDiff(oldUnit, patch, factory, &M::kPackedDiff);
}

} // namespace Service
