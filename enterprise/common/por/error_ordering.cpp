#include "enterprise/common/por/error_ordering.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Por::Util {

namespace {

int Sign(int value)
{
    return (value > 0) - (value < 0);
}

// The next name of a comma-separated list from `position`; false when the rest
// is empty (no name).
bool NextName(std::string_view list, size_t& position, std::string& name)
{
    if (position >= list.size())
        return false;
    const size_t comma = list.find(',', position);
    const size_t end = comma == std::string_view::npos ? list.size() : comma;
    name.assign(list.substr(position, end - position));
    position = end == list.size() ? end : end + 1;
    return true;
}

int CompareNameBytes(const std::string& left, const std::string& right)
{
    const size_t common = left.size() < right.size() ? left.size() : right.size();
    const int bytes = std::memcmp(left.data(), right.data(), common);
    if (bytes != 0)
        return Sign(bytes);
    if (left.size() != right.size())
        return left.size() < right.size() ? -1 : 1;
    return 0;
}

// Presence decides first: the record that has the parameter orders last.
template <typename T>
bool ComparePresence(const T* left, const T* right, int& result)
{
    if (left && right)
        return false;
    result = left ? 1 : (right ? -1 : 0);
    return true;
}

int CompareParameter(const Common::ErrorRecord* left, const Common::ErrorRecord* right, const char* name,
                     Detail::IntegerOrder order)
{
    const char16_t* leftWide = left->kind->GetWideTextParameter(left, name);
    const char16_t* rightWide = right->kind->GetWideTextParameter(right, name);
    int result = 0;
    if (!ComparePresence(leftWide, rightWide, result)) {
        const size_t leftLength = std::char_traits<char16_t>::length(leftWide);
        const size_t rightLength = std::char_traits<char16_t>::length(rightWide);
        if (leftLength != rightLength)
            return leftLength < rightLength ? -1 : 1;
        return Sign(std::memcmp(leftWide, rightWide, (leftLength + 1) * sizeof(char16_t)));
    }
    if (result != 0)
        return result;

    const char* leftText = left->kind->GetTextParameter(left, name);
    const char* rightText = right->kind->GetTextParameter(right, name);
    if (!ComparePresence(leftText, rightText, result))
        return Sign(std::strcmp(leftText, rightText));
    if (result != 0)
        return result;

    const uint64_t leftValue = left->kind->GetIntegerParameter(left, name);
    const uint64_t rightValue = right->kind->GetIntegerParameter(right, name);
    if (order == Detail::IntegerOrder::Total)
        return leftValue == rightValue ? 0 : (leftValue > rightValue ? -1 : 1);
    const int64_t difference = static_cast<int64_t>(rightValue - leftValue);
    return difference < 0 ? -1 : (difference > 0 ? 1 : 0);
}

int CompareParameters(const Common::ErrorRecord* left, const Common::ErrorRecord* right, Detail::IntegerOrder order)
{
    const char* leftList = left->kind->GetParameterNames(left);
    const char* rightList = right->kind->GetParameterNames(right);
    if (!leftList || !rightList)
        return leftList ? 1 : (rightList ? -1 : 0);

    const std::string_view leftNames(leftList);
    const std::string_view rightNames(rightList);
    size_t leftPosition = 0;
    size_t rightPosition = 0;
    std::string leftName;
    std::string rightName;
    for (;;) {
        const bool leftHas = NextName(leftNames, leftPosition, leftName);
        const bool rightHas = NextName(rightNames, rightPosition, rightName);
        if (!leftHas || !rightHas)
            return leftHas ? 1 : (rightHas ? -1 : 0);
        if (const int names = CompareNameBytes(leftName, rightName))
            return names;
        if (const int parameter = CompareParameter(left, right, leftName.c_str(), order))
            return parameter;
    }
}

} // namespace

namespace Detail {

int CompareErrorRecords(const Common::ErrorRecord* left, const Common::ErrorRecord* right, IntegerOrder order)
{
    // Codes down both chains, first record first; the first pair that differs
    // decides. A pair of missing or zero codes ends the chains as equal. Then
    // the parameters, from the deepest pair of equal codes back to the first.
    // Iterative, so a long chain cannot exhaust the stack.
    std::vector<std::pair<const Common::ErrorRecord*, const Common::ErrorRecord*>> pairs;
    for (;;) {
        const uint32_t leftCode = left ? left->code : 0;
        const uint32_t rightCode = right ? right->code : 0;
        if (leftCode == 0 && rightCode == 0)
            break;
        if (leftCode != rightCode)
            return leftCode < rightCode ? -1 : 1;
        pairs.emplace_back(left, right);
        left = left->next;
        right = right->next;
    }
    for (auto pair = pairs.rbegin(); pair != pairs.rend(); ++pair) {
        if (const int parameters = CompareParameters(pair->first, pair->second, order))
            return parameters;
    }
    return 0;
}

} // namespace Detail

int CompareErrorRecords(const Common::Error& left, const Common::Error& right)
{
    return Detail::CompareErrorRecords(left.GetRecord(), right.GetRecord(), Detail::IntegerOrder::WrapAroundDifference);
}

int CompareErrors(const View::ComplexValue<Common::Error>& left, const View::ComplexValue<Common::Error>& right)
{
    return CompareErrorRecords(left.Get(), right.Get());
}

} // namespace Por::Util
