// The multi-line text of a Common::Error that users see: the first record and
// then each cause, each with its title, code, message text, location and named
// parameters. Every continuation line starts with "| "; there is no final line
// feed. Labels come from the active message catalogue; parameter names and
// values are not translated.
//
// Threading: reads the error's records (shared, immutable) and the message
// catalogue; safe from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/objrep/common_error.h"

namespace Common {

// The level that stands for "no trace-level line".
inline constexpr uint8_t kNoTraceLevel = 255;

// The whole text; "Success" for an error without a record or with code 0.
std::u16string FormatError(const Error& error);

// FormatError in UTF-8, for console output.
std::string ErrorToUtf8Text(const Error& error);

// The text of the error's first record. `first` selects the title ("Error" or,
// on a new line, "error"); kNoTraceLevel means no trace-level line; a null or
// empty channel means no channel line.
std::u16string FormatErrorRecord(const Error& error, bool first, uint8_t traceLevel, const char* channel);

// One parameter line ("\n| name: value") of the error's first record.
std::u16string FormatErrorParameter(const std::string& name, const Error& error);

// A copy in which every line feed is followed by "| ".
std::u16string IndentErrorText(const std::u16string& text);

// "\n| trace level: " and the level's name (its decimal value when unnamed).
std::u16string FormatTraceLevelLine(uint8_t level);

// "\n| channel: " and the channel name.
std::u16string FormatChannelLine(const char* channel);

} // namespace Common
