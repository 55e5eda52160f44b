#include "core/file/unix/file_name_conversion.h"

#include <atomic>
#include <cstdlib>
#include <vector>

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/unistr.h>

#include "core/common/mutex.h"

namespace {

constexpr char16_t kPrivateFirst = 0xF880;
constexpr char16_t kPrivateLast = 0xF8FF;
constexpr char16_t kPrivateBase = 0xF800;

bool IsPrivateByteUnit(char16_t unit)
{
    return unit >= kPrivateFirst && unit <= kPrivateLast;
}

// Published once under the mutex; read without it on the fast path.
std::atomic<UConverter*> g_converter{nullptr};

// Guards the converter: ICU converters are not for concurrent use.
Common::Mutex g_converterMutex;

// Undecodable bytes become U+F800 + byte (bytes below 0x80 stay themselves).
void ToUnicodeCallback(const void*, UConverterToUnicodeArgs* args, const char* codeUnits, int32_t length,
                       UConverterCallbackReason reason, UErrorCode* status)
{
    if (reason != UCNV_UNASSIGNED && reason != UCNV_ILLEGAL && reason != UCNV_IRREGULAR)
        return;
    *status = U_ZERO_ERROR;
    for (int32_t i = 0; i < length && U_SUCCESS(*status); ++i) {
        const unsigned char byte = static_cast<unsigned char>(codeUnits[i]);
        const UChar unit = byte >= 0x80 ? static_cast<UChar>(kPrivateBase + byte) : static_cast<UChar>(byte);
        ucnv_cbToUWriteUChars(args, &unit, 1, 0, status);
    }
}

// The private-use range goes back to the byte it came from; anything else the
// character set cannot hold stays an error.
void FromUnicodeCallback(const void*, UConverterFromUnicodeArgs* args, const UChar*, int32_t, UChar32 codePoint,
                         UConverterCallbackReason reason, UErrorCode* status)
{
    if (reason != UCNV_UNASSIGNED || codePoint < kPrivateFirst || codePoint > kPrivateLast)
        return;
    *status = U_ZERO_ERROR;
    const char byte = static_cast<char>(codePoint - kPrivateBase);
    ucnv_cbFromUWriteBytes(args, &byte, 1, 0, status);
}

// Converts one run of units without private-use bytes; false when the
// character set cannot represent it.
bool AppendConvertedRun(UConverter* converter, const char16_t* units, size_t count, std::string& out)
{
    const icu::UnicodeString run(false, units, static_cast<int32_t>(count));
    UErrorCode status = U_ZERO_ERROR;
    const int32_t needed = run.extract(nullptr, 0, converter, status);
    if (status != U_BUFFER_OVERFLOW_ERROR && status != U_STRING_NOT_TERMINATED_WARNING)
        return false;
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    status = U_ZERO_ERROR;
    const int32_t written = run.extract(buffer.data(), needed + 1, converter, status);
    if (U_FAILURE(status))
        return false;
    out.append(buffer.data(), static_cast<size_t>(written));
    return true;
}

} // namespace

UConverter* GetFileNameConverter()
{
    UConverter* converter = g_converter.load(std::memory_order_relaxed);
    if (converter)
        return converter;
    UErrorCode status = U_ZERO_ERROR;
    converter = ucnv_open(nullptr, &status);
    if (U_SUCCESS(status))
        ucnv_setFromUCallBack(converter, FromUnicodeCallback, nullptr, nullptr, nullptr, &status);
    if (U_SUCCESS(status))
        ucnv_setToUCallBack(converter, ToUnicodeCallback, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status) || !converter)
        std::abort();
    g_converter.store(converter, std::memory_order_release);
    return converter;
}

std::u16string NativeToUnicodeName(const char* nativeName)
{
    const Common::LockGuard lock(g_converterMutex);
    UConverter* converter = GetFileNameConverter();
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString text(nativeName, -1, converter, status);
    if (U_FAILURE(status))
        return std::u16string();
    return std::u16string(text.getBuffer(), static_cast<size_t>(text.length()));
}

std::string UnicodeToNativeName(const char16_t* name)
{
    if (!g_converter.load(std::memory_order_acquire)) {
        std::string direct;
        const char16_t* unit = name;
        for (; *unit; ++unit) {
            if (*unit >= 0x80 && !IsPrivateByteUnit(*unit))
                break;
            direct.push_back(static_cast<char>(*unit & 0xFF));
        }
        if (!*unit)
            return direct;
    }

    const Common::LockGuard lock(g_converterMutex);
    UConverter* converter = GetFileNameConverter();
    std::string result;
    const char16_t* runStart = name;
    const char16_t* unit = name;
    for (;; ++unit) {
        const bool end = *unit == 0;
        if (!end && !IsPrivateByteUnit(*unit))
            continue;
        if (unit != runStart && !AppendConvertedRun(converter, runStart, static_cast<size_t>(unit - runStart), result))
            return std::string();
        if (end)
            break;
        result.push_back(static_cast<char>(*unit - kPrivateBase));
        runStart = unit + 1;
    }
    return result;
}

namespace FileNameDetail {
bool IsFileNameConverterOpen()
{
    return g_converter.load(std::memory_order_acquire) != nullptr;
}
} // namespace FileNameDetail
