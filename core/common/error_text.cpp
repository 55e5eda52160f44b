#include "core/common/error_text.h"

#include <cstring>

#include "core/common/error.h"
#include "core/common/message_catalogue.h"
#include "core/common/number_text.h"
#include "core/common/text_conversion.h"

namespace Common {
namespace {

// Catalogue keys of the labels.
constexpr unsigned kFunctionLabel = 21;
constexpr unsigned kErrorTitle = 22;
constexpr unsigned kFileLabel = 23;
constexpr unsigned kLineLabel = 24;
constexpr unsigned kCauseTitle = 25;
constexpr unsigned kSuccessText = 26;
constexpr unsigned kChannelLabel = 34;
constexpr unsigned kTraceLevelLabel = 35;
constexpr unsigned kCriticalErrorLevel = 36;
constexpr unsigned kDebugLevel = 37;
constexpr unsigned kErrorLevel = 38;
constexpr unsigned kInformationLevel = 39;
constexpr unsigned kWarningLevel = 40;

constexpr char16_t kLineStart[] = u"\n| ";

// Appends a narrow text widened byte by byte (no decoding).
void AppendWidened(std::u16string& out, const char* text)
{
    for (; *text != 0; ++text)
        out.push_back(static_cast<unsigned char>(*text));
}

void AppendLabel(std::u16string& out, unsigned key)
{
    out += kLineStart;
    out += GetMessageText(key);
    out += u": ";
}

} // namespace

std::u16string FormatError(const Error& error)
{
    const ErrorRecord* record = error.GetRecord();
    if (record == nullptr || record->code == 0)
        return GetMessageText(kSuccessText);

    std::u16string text = FormatErrorRecord(error, true, kNoTraceLevel, nullptr);
    for (ErrorRecord* cause = record->next; cause != nullptr && cause->code != 0; cause = cause->next) {
        text += u"\n|";
        text += FormatErrorRecord(Error(cause), false, kNoTraceLevel, nullptr);
    }
    return text;
}

std::string ErrorToUtf8Text(const Error& error)
{
    const std::u16string text = FormatError(error);
    std::string result;
    ConvertUtf16ToUtf8(result, text.data(), text.size());
    return result;
}

std::u16string FormatErrorRecord(const Error& error, bool first, uint8_t traceLevel, const char* channel)
{
    std::u16string out;
    if (first) {
        out += GetMessageText(kErrorTitle);
    } else {
        out += kLineStart;
        out += GetMessageText(kCauseTitle);
    }
    out += u' ';
    out += ToHexText(error.GetCode());

    const std::u16string message = error.GetText();
    if (!message.empty()) {
        out += u": ";
        out += IndentErrorText(message);
    }
    if (traceLevel != kNoTraceLevel)
        out += FormatTraceLevelLine(traceLevel);
    if (channel != nullptr && *channel != 0)
        out += FormatChannelLine(channel);

    const Location location = error.GetLocation();
    AppendLabel(out, kLineLabel);
    out += ToHexText(location.LineTag);
    if (location.file != nullptr) {
        AppendLabel(out, kFileLabel);
        AppendWidened(out, location.file);
        out += u':';
        out += ToDecimalText(location.line);
    }
    if (location.function != nullptr) {
        AppendLabel(out, kFunctionLabel);
        AppendWidened(out, location.function);
    }

    if (error.GetRecord() != nullptr) {
        const char* names = error.GetParameterNames();
        if (names != nullptr && *names != 0) {
            // Every piece counts, empty ones and the one after the last comma included.
            const char* piece = names;
            for (;;) {
                const char* comma = std::strchr(piece, ',');
                const size_t size = comma ? static_cast<size_t>(comma - piece) : std::strlen(piece);
                out += FormatErrorParameter(std::string(piece, size), error);
                if (comma == nullptr)
                    break;
                piece = comma + 1;
            }
        }
    }
    return out;
}

std::u16string FormatErrorParameter(const std::string& name, const Error& error)
{
    std::u16string out = kLineStart;
    AppendWidened(out, name.c_str());
    out += u": ";

    std::u16string value;
    if (const char16_t* wide = error.GetWideTextParameter(name.c_str())) {
        value = wide;
    } else if (const char* narrow = error.GetTextParameter(name.c_str())) {
        ConvertUtf8ToUtf16(value, narrow, kWholeText);
    } else {
        value = ToHexText(error.GetIntegerParameter(name.c_str()));
    }
    out += IndentErrorText(value);
    return out;
}

std::u16string IndentErrorText(const std::u16string& text)
{
    std::u16string out;
    out.reserve(text.size());
    for (const char16_t unit : text) {
        if (unit == u'\n')
            out += kLineStart;
        else
            out.push_back(unit);
    }
    return out;
}

std::u16string FormatTraceLevelLine(uint8_t level)
{
    std::u16string out;
    AppendLabel(out, kTraceLevelLabel);
    switch (level) {
    case 1:
        out += GetMessageText(kDebugLevel);
        break;
    case 2:
        out += GetMessageText(kInformationLevel);
        break;
    case 3:
        out += GetMessageText(kWarningLevel);
        break;
    case 4:
        out += GetMessageText(kErrorLevel);
        break;
    case 5:
        out += GetMessageText(kCriticalErrorLevel);
        break;
    default:
        out += ToDecimalText(level);
        break;
    }
    return out;
}

std::u16string FormatChannelLine(const char* channel)
{
    std::u16string out;
    AppendLabel(out, kChannelLabel);
    if (channel != nullptr)
        AppendWidened(out, channel);
    return out;
}

} // namespace Common
