#include "enterprise/common/dml/view_options.h"

#include <algorithm>

#include "core/common/guid.h"
#include "core/common/text_conversion.h"
#include "enterprise/common/dml/object_key.h"
#include "enterprise/common/por/array_helpers.h"
#include "enterprise/common/por/const_data_accessor.h"
#include "enterprise/common/por/path_utils.h"
#include "enterprise/common/por/typed_access.h"
#include "enterprise/common/por/unit_accessor.h"
#include "enterprise/common/por/unit_constructor.h"
#include "enterprise/common/por/unit_copier.h"
#include "enterprise/common/por/utils.h"
#include "enterprise/common/por/value_type_index.h"

namespace Dml {
namespace {

constexpr Por::Name kLimitOptions("LimitOptions");
constexpr Por::Name kCounter("Counter");
constexpr Por::Name kCounterValue("CounterValue");

bool IsKind(const Por::View::Unit& unit, Por::ValueKind kind)
{
    return Por::Util::GetValueTypeIndex(unit) == static_cast<int>(kind);
}

// The property `name` of the composite `options`, created from `initial` when
// it is missing.
template <typename MakeInitial>
Por::Construction::Unit& TakeProperty(Por::Construction::Unit& options, const Por::Name& name,
                                      const Por::Construction::UnitFactory& factory, MakeInitial makeInitial)
{
    Por::DataAccessor property = Por::DataAccessor(&options).GetChild(name);
    if (!property.IsValid()) {
        Por::Util::AddProperty(options, name, makeInitial(), factory);
        property = Por::DataAccessor(&options).GetChild(name);
    }
    return property.GetUnit();
}

// The spec's pattern with a new options unit.
ViewSpec WithOptions(const ViewSpec& spec, std::unique_ptr<Por::Construction::Unit> options)
{
    ViewSpec result;
    result.Pattern = spec.Pattern;
    result.Options = std::shared_ptr<const Por::View::Unit>(std::move(options));
    return result;
}

} // namespace

bool HasLimitOptions(const Por::View::Unit& options)
{
    return Por::ConstDataAccessor(&options).GetChild(kLimitOptions).IsValid();
}

void SetLimitOptions(Por::Construction::Unit& options, uint32_t limit, const Por::Construction::UnitFactory& factory)
{
    Por::Construction::Unit& value = TakeProperty(options, kLimitOptions, factory,
                                                  [&] { return factory.CreateDWord(0); });
    Por::Util::SetUnitValue<unsigned int>(value, limit);
}

void SetEntryPoint(Por::Construction::Unit& options, const Core::EntryPoint& caller,
                   const Por::Construction::UnitFactory& factory)
{
    std::unique_ptr<Por::Construction::Unit> entryPoint = Por::Util::UnitConstructor(factory)
                                                              .Composite()
                                                              .Property("ID")
                                                              .QWord(caller.GetLocationId())
                                                              .End()
                                                              .Property("File")
                                                              .String(Common::FromUtf8(caller.GetSourceFile().c_str()))
                                                              .End()
                                                              .Property("Line")
                                                              .DWord(caller.GetLine())
                                                              .End()
                                                              .End()
                                                              .GetUnit();
    Por::Util::AddProperty(options, "EntryPoint", std::move(entryPoint), factory);
}

ViewSpec LimitViewSpec(const ViewSpec& spec, uint32_t limit, const Por::Construction::UnitFactory& factory)
{
    std::unique_ptr<Por::Construction::Unit> options = Por::Util::CopyAsComposite(spec.Options, factory);
    SetLimitOptions(*options, limit, factory);
    return WithOptions(spec, std::move(options));
}

std::unique_ptr<Por::Construction::Unit> MakeTimeStampSortKey(const Por::Construction::UnitFactory& factory)
{
    return Por::Util::UnitConstructor(factory).Composite().Property("DmlTimeStamp").SQWord(0).End().End().GetUnit();
}

void AddSortKey(Por::Construction::Unit& options, const Por::View::Unit& key, const Por::Name& direction,
                const Por::Construction::UnitFactory& factory)
{
    std::unique_ptr<Por::Construction::Unit> copy = Por::Util::CopyUnit(key, factory);
    Por::Construction::Unit* leaf = Por::FindFirstLeafUnit(copy.get());
    if (!leaf || Por::Util::IsArray(*leaf) || Por::Util::IsComposite(*leaf))
        return;
    Por::Util::AddNilTrait(*leaf, direction, factory);
    Por::Construction::Unit& sorting = TakeProperty(options, "SortingOptions", factory,
                                                    [&] { return factory.CreateArray(); });
    Por::GetArrayValue(sorting)->PushBack(std::move(copy));
}

void AddAscendingSortKey(Por::Construction::Unit& options, const Por::View::Unit& key,
                         const Por::Construction::UnitFactory& factory)
{
    AddSortKey(options, key, "Ascending ", factory);
}

std::unique_ptr<Por::Construction::Unit> MakeSortedOptions(const std::shared_ptr<const Por::View::Unit>& options,
                                                           const Por::Construction::UnitFactory& factory)
{
    std::unique_ptr<Por::Construction::Unit> copy = Por::Util::CopyAsComposite(options, factory);
    const std::unique_ptr<Por::Construction::Unit> key = MakeTimeStampSortKey(factory);
    AddAscendingSortKey(*copy, *key, factory);
    return copy;
}

ViewSpec SortByTimeStamp(const ViewSpec& spec, const Por::Construction::UnitFactory& factory)
{
    return WithOptions(spec, MakeSortedOptions(spec.Options, factory));
}

void AddCounterTemplate(Por::Construction::Unit& options, const Por::View::Unit& counterTemplate,
                        const Por::Construction::UnitFactory& factory)
{
    (void)GetObjectKey(counterTemplate); // a template without a key throws here
    Por::Construction::Unit& counter = TakeProperty(options, kCounter, factory,
                                                    [&] { return factory.CreateComposite(); });
    Por::Util::AddProperty(counter, "CounterObjectTemplate", Por::Util::CopyUnit(counterTemplate, factory), factory);
}

void AddCounterRequest(Por::Construction::Unit& options, const Por::Construction::UnitFactory& factory)
{
    std::unique_ptr<Por::Construction::Unit> counterTemplate = factory.CreateComposite();
    Common::Guid id{};
    (void)Common::GenerateGuid(id, 0); // method 0 always succeeds
    Por::Util::AddProperty(*counterTemplate, "ID", factory.CreateGuid(id), factory);
    Por::Util::AddTraitToProperty(*counterTemplate, "ID", "PrimaryKey", factory);
    AddCounterTemplate(options, *counterTemplate, factory);
}

ViewSpec MakeCounterViewSpec(const ViewSpec& spec, const Por::Construction::UnitFactory& factory)
{
    std::unique_ptr<Por::Construction::Unit> options = Por::Util::CopyAsComposite(spec.Options, factory);
    AddCounterRequest(*options, factory);
    return WithOptions(spec, std::move(options));
}

uint32_t GetCounterValue(const Por::View::Unit& answer)
{
    const Por::ConstDataAccessor value = Por::ConstDataAccessor(&answer).GetChild(kCounterValue);
    if (!value.IsValid())
        return 0;
    return Por::Util::GetUnitValue<unsigned int>(value.GetUnit(), 0u);
}

bool ReadViewRequest(const Por::View::Unit* options, ViewRequest& request, std::string& fault)
{
    request = ViewRequest();
    if (!options || IsKind(*options, Por::ValueKind::Nil))
        return true;
    if (!IsKind(*options, Por::ValueKind::Composite)) {
        fault = "the view options are not a Composite";
        return false;
    }
    if (const Por::View::Property* limit = Por::Util::FindConstProperty(*options, kLimitOptions)) {
        if (!IsKind(limit->GetValue(), Por::ValueKind::DWord)) {
            fault = "\"LimitOptions\" is not a DWord";
            return false;
        }
        request.limit = Por::Util::GetUnitValue<unsigned int>(limit->GetValue());
    }
    request.counter = Por::Util::HasProperty(*options, kCounter);
    return true;
}

std::unique_ptr<Por::Construction::Unit> MakeCounterAnswer(uint64_t count,
                                                           const Por::Construction::UnitFactory& factory)
{
    std::unique_ptr<Por::Construction::Unit> answer = factory.CreateComposite();
    const uint64_t answered = std::min<uint64_t>(count, UINT32_MAX);
    Por::Util::AddProperty(*answer, kCounterValue, factory.CreateDWord(static_cast<unsigned int>(answered)), factory);
    return answer;
}

} // namespace Dml
