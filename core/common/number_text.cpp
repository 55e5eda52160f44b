#include "core/common/number_text.h"

#include <cstdlib>
#include <cstring>

namespace Common {
namespace {

// Longest decimal text ParseDecimal64 looks at.
constexpr size_t kDecimalLimit = 63;

constexpr char16_t kBlank = u' ';

// Value of a digit "0"-"9", "A"-"Z", "a"-"z" (0..35), or -1.
int DigitValue(char16_t unit)
{
    if (unit >= u'0' && unit <= u'9')
        return unit - u'0';
    if (unit >= u'A' && unit <= u'Z')
        return unit - u'A' + 10;
    if (unit >= u'a' && unit <= u'z')
        return unit - u'a' + 10;
    return -1;
}

bool IsSuffix(char16_t unit)
{
    return unit == u'h' || unit == u'H';
}

} // namespace

std::u16string ToDecimalText(uint64_t value)
{
    char16_t digits[20];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char16_t>(u'0' + value % 10);
        value /= 10;
    } while (value != 0);
    std::u16string result(count, u'0');
    for (size_t i = 0; i < count; ++i)
        result[i] = digits[count - 1 - i];
    return result;
}

std::u16string ToHexText(uint64_t value)
{
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    char16_t digits[16];
    size_t count = 0;
    do {
        digits[count++] = kDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    std::u16string result(u"0x");
    for (size_t i = 0; i < count; ++i)
        result.push_back(digits[count - 1 - i]);
    return result;
}

uint64_t ParseDecimal64(const char* text, size_t length)
{
    if (text == nullptr)
        return 0;
    char copy[kDecimalLimit + 1];
    size_t count = 0;
    while (count < length && count < kDecimalLimit && text[count] != 0) {
        copy[count] = text[count];
        ++count;
    }
    copy[count] = 0;
    return std::strtoull(copy, nullptr, 10);
}

uint32_t ParseDecimal32(const char* text, size_t length)
{
    return static_cast<uint32_t>(ParseDecimal64(text, length));
}

bool ParseUInt64(uint64_t& value, const char16_t* text, unsigned base)
{
    value = 0;
    if (text == nullptr)
        return false;
    const size_t length = std::char_traits<char16_t>::length(text);

    // A trailing "h" (never the first character) makes a base-10 text hexadecimal.
    uint64_t effectiveBase = base;
    if (base == 10) {
        size_t last = length;
        while (last > 0 && text[last - 1] == kBlank)
            --last;
        if (last > 1 && IsSuffix(text[last - 1]))
            effectiveBase = 16;
    }

    size_t index = 0;
    while (index < length && text[index] == kBlank)
        ++index;

    bool digitSeen = false;
    bool prefixSeen = false;
    bool suffixSeen = false;
    bool trailingBlank = false;
    for (; index < length; ++index) {
        const char16_t unit = text[index];
        if (trailingBlank) {
            if (unit != kBlank)
                return false;
            continue;
        }
        if (unit == kBlank) {
            trailingBlank = true;
            continue;
        }
        if (suffixSeen || unit <= u'/')
            return false;
        if (base == 10) {
            if (IsSuffix(unit)) {
                if (prefixSeen)
                    return false;
                suffixSeen = true;
                continue;
            }
            if (unit == u'x' || unit == u'X') {
                if (!digitSeen || value != 0 || prefixSeen)
                    return false;
                prefixSeen = true;
                effectiveBase = 16;
                digitSeen = false;
                continue;
            }
        }
        const int digit = DigitValue(unit);
        if (digit < 0 || static_cast<uint64_t>(digit) >= effectiveBase)
            return false;
        uint64_t product;
        if (__builtin_mul_overflow(value, effectiveBase, &product))
            return false;
        uint64_t sum;
        if (__builtin_add_overflow(product, static_cast<uint64_t>(digit), &sum)) {
            value = product;
            return false;
        }
        value = sum;
        digitSeen = true;
    }
    return digitSeen;
}

} // namespace Common
