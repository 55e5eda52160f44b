#include "enterprise/common/por/unit_match.h"

#include <map>
#include <string>

#include "core/common/like_match.h"
#include "core/common/location.h"
#include "enterprise/common/por/array_helpers.h"
#include "enterprise/common/por/const_data_accessor.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/por_errors.h"
#include "enterprise/common/por/typed_access.h"
#include "enterprise/common/por/unit_equality.h"
#include "enterprise/common/por/unit_ordering.h"
#include "enterprise/common/por/utils.h"
#include "enterprise/common/por/value_type_index.h"

namespace Por {

namespace {

constexpr Common::SourceFile kSource("enterprise/common/por/unit_match", 0x7579DF73E32DA1FBull - 312);

using Operator = bool (*)(const View::Unit& unit, const View::Unit& operand);

[[noreturn]] void ThrowMismatch(const char* function, uint32_t line)
{
    ThrowModuleError(PorErrors::kPattern, PorErrors::kStructureMismatchText, kSource.At(function, line));
}

bool IsString(const View::Unit& unit)
{
    return Util::GetValueTypeIndex(unit) == static_cast<int>(ValueKind::String);
}

const std::u16string& TextOf(const View::Unit& unit)
{
    return Util::GetUnitValue<std::u16string>(unit);
}

// CompareUnits of two units of one kind; `kinds` false when they differ.
int CompareSameKind(const View::Unit& unit, const View::Unit& operand, bool& kinds)
{
    kinds = Util::HaveSameValueType(unit, operand);
    return kinds ? Util::CompareUnits(unit, operand) : 0;
}

bool AnyValuePattern(const View::Unit&, const View::Unit&)
{
    return true;
}

bool EqualValuePattern(const View::Unit& unit, const View::Unit& operand)
{
    return Util::ValuesEqual(unit, operand);
}

bool LessPattern(const View::Unit& unit, const View::Unit& operand)
{
    bool kinds = false;
    const int order = CompareSameKind(unit, operand, kinds);
    return kinds && order == -1;
}

bool LessEqualPattern(const View::Unit& unit, const View::Unit& operand)
{
    bool kinds = false;
    const int order = CompareSameKind(unit, operand, kinds);
    return kinds && order != 1;
}

bool GreaterPattern(const View::Unit& unit, const View::Unit& operand)
{
    bool kinds = false;
    const int order = CompareSameKind(unit, operand, kinds);
    return kinds && order == 1;
}

bool GreaterEqualPattern(const View::Unit& unit, const View::Unit& operand)
{
    bool kinds = false;
    const int order = CompareSameKind(unit, operand, kinds);
    return kinds && order != -1;
}

bool BetweenPattern(const View::Unit& unit, const View::Unit& operand)
{
    const ConstDataAccessor range(&operand);
    const View::Unit& to = range.GetChild("To").GetUnit();
    const View::Unit& from = range.GetChild("From").GetUnit();
    if (!Util::HaveSameValueType(from, to))
        ThrowModuleError(PorErrors::kPattern, PorErrors::kRangeInclusionText, kSource.At("ValidateBetweenPattern", 60));
    if (!Util::HaveSameValueType(unit, to))
        return false;
    if (Util::CompareUnits(unit, from) == -1)
        return false;
    return Util::CompareUnits(unit, to) != 1;
}

bool InPattern(const View::Unit& unit, const View::Unit& operand)
{
    return ArrayContainsUnit(operand, unit);
}

bool IncludedInArrayPattern(const View::Unit& unit, const View::Unit& operand)
{
    return ArrayContainsUnit(unit, operand);
}

bool ValueInPattern(const View::Unit& unit, const View::Unit& operand)
{
    return ArrayContainsValue(operand, unit);
}

bool ValueIncludedInArrayPattern(const View::Unit& unit, const View::Unit& operand)
{
    return ArrayContainsValue(unit, operand);
}

bool HasIntersectionPattern(const View::Unit& unit, const View::Unit& operand)
{
    if (!Util::IsArray(unit))
        ThrowMismatch("HasIntersectionPattern", 264);
    if (!Util::IsArray(operand))
        ThrowMismatch("HasIntersectionPattern", 267);
    bool found = false;
    auto matcher = ProcessorOf<const View::Unit>([&](const View::Unit& element) {
        found = ArrayContainsValue(operand, element);
        return found;
    });
    ForEachArrayElement(unit, matcher);
    return found;
}

bool IsPattern(const View::Unit& unit, const View::Unit& operand)
{
    return Util::HasTraitWithValue(unit, "Is", operand);
}

bool PrimaryKeyPattern(const View::Unit& unit, const View::Unit& operand)
{
    return Util::HasTraitWithValue(unit, "PrimaryKey", operand);
}

bool ForeignKeyPattern(const View::Unit& unit, const View::Unit& operand)
{
    return Util::HasTraitWithValue(unit, "ForeignKey", operand);
}

bool SourcePattern(const View::Unit& unit, const View::Unit& operand)
{
    if (Util::HasTrait(operand, "AnyValue"))
        return Util::HasTrait(unit, "Source");
    return Util::HasTraitWithValue(unit, "Source", operand);
}

bool LikePattern(const View::Unit& unit, const View::Unit& operand)
{
    if (!IsString(operand))
        ThrowMismatch("ValidateLikePattern", 144);
    const std::u16string& pattern = TextOf(operand);
    if (Util::IsSearchableArray(unit)) {
        bool matched = false;
        auto elements = ProcessorOf<const View::Unit>([&](const View::Unit& element) {
            matched = IsString(element) && Common::MatchLikePattern(TextOf(element), pattern, u'%', u'_');
            return matched;
        });
        ForEachArrayElement(unit, elements);
        return matched;
    }
    return IsString(unit) && Common::MatchLikePattern(TextOf(unit), pattern, u'%', u'_');
}

bool DirectRelativePattern(const View::Unit& unit, const View::Unit& operand)
{
    if (!IsString(operand))
        ThrowMismatch("DirectRelativePattern", 201);
    if (!IsString(unit))
        return false;
    const std::u16string& text = TextOf(unit);
    const std::u16string& prefix = TextOf(operand);
    return text.compare(0, prefix.size(), prefix) == 0 && text.size() >= prefix.size();
}

bool NotPattern(const View::Unit& unit, const View::Unit& operand)
{
    return !MatchUnit(unit, operand);
}

bool OrPattern(const View::Unit& unit, const View::Unit& operand)
{
    if (GetArraySize(operand) == 0)
        return true;
    bool matched = false;
    auto elements = ProcessorOf<const View::Unit>([&](const View::Unit& element) {
        matched = MatchUnit(unit, element);
        return matched;
    });
    ForEachArrayElement(operand, elements);
    return matched;
}

struct NameLess
{
    bool operator()(const Name& a, const Name& b) const noexcept { return a < b; }
};

const std::map<Name, Operator, NameLess>& PatternOperators()
{
    static const std::map<Name, Operator, NameLess> operators = {
        {"AnyValue", &AnyValuePattern},
        {"Between", &BetweenPattern},
        {"EqualValue", &EqualValuePattern},
        {"Greater", &GreaterPattern},
        {"GreaterEqual", &GreaterEqualPattern},
        {"IncludedInArray", &IncludedInArrayPattern},
        {"ValueIncludedInArray", &ValueIncludedInArrayPattern},
        {"In", &InPattern},
        {"ValueIn", &ValueInPattern},
        {"Is", &IsPattern},
        {"Less", &LessPattern},
        {"LessEqual", &LessEqualPattern},
        {"Like", &LikePattern},
        {"Not", &NotPattern},
        {"Or", &OrPattern},
        {"Source", &SourcePattern},
        {"PrimaryKey", &PrimaryKeyPattern},
        {"ForeignKey", &ForeignKeyPattern},
        {"DirectRelative", &DirectRelativePattern},
        {"HasIntersection", &HasIntersectionPattern},
    };
    return operators;
}

// Built with the other statics of this file, before main runs.
[[maybe_unused]] const auto& g_operatorsAtStartUp = PatternOperators();

Operator GetPatternByName(const Name& name)
{
    const auto& operators = PatternOperators();
    const auto found = operators.find(name);
    if (found == operators.end())
        ThrowModuleError(PorErrors::kPattern, PorErrors::kPatternNotRegisteredText, kSource.At("GetPatternByName", 312),
                         {name.ToUtf16()});
    return found->second;
}

// Every pattern property must be matched by the unit's property of that name.
bool MatchProperties(const View::Unit& unit, const View::Unit& pattern)
{
    bool verdict = true;
    auto properties = ProcessorOf<const View::Property>([&](const View::Property& property) {
        const View::Property* namesake = Util::FindConstProperty(unit, property.GetName());
        verdict = namesake && MatchUnit(namesake->GetValue(), property.GetValue());
        return !verdict;
    });
    Util::ForEachProperty(pattern, properties);
    return verdict;
}

} // namespace

bool MatchUnit(const View::Unit& unit, const View::Unit& pattern)
{
    const bool hasTraits = Util::HasTraits(pattern);
    if (!hasTraits && Util::GetValueTypeIndex(pattern) == static_cast<int>(ValueKind::Nil))
        return true;
    if (!Util::HaveSameValueType(unit, pattern))
        return false;
    const bool composite = Util::IsComposite(pattern);
    if (!hasTraits && !composite)
        return Util::ValuesEqual(unit, pattern);
    bool verdict = true;
    auto operators = ProcessorOf<const View::Trait>([&](const View::Trait& trait) {
        verdict = GetPatternByName(trait.GetName())(unit, trait.GetValue());
        return !verdict;
    });
    pattern.traits().ForEach(operators);
    if (!verdict)
        return false;
    return !composite || MatchProperties(unit, pattern);
}

} // namespace Por
