// gMock matchers over Common::Error, shared by every folder's tests.
//
//     EXPECT_THAT(error, ErrorIs(0x40007));
//     EXPECT_THAT(error, AllOf(ErrorIs(0xFA000D), HasText(u"POR: Property 'x' cannot be found.")));
//     EXPECT_THAT(error, HasTextThat(StartsWith("Cannot deserialize"))); // a matcher of the UTF-8 text
//     EXPECT_THAT(error, RaisedAt("core/file/unix/posixsp", "Open", 120));
//     EXPECT_THAT(error, HasTextParameter("path", "/tmp/a"));
//     EXPECT_THAT(error, HasNoTextParameter("path"));
//     EXPECT_THAT(error, HasPosixCause(ENOENT));            // any cause in the chain
//     EXPECT_THAT(error, CausedBy(IsPosixError(ENOENT)));   // the direct cause
//     EXPECT_THAT(error, CausedBy(IsSuccessError()));       // no cause at all
//     EXPECT_THAT(error, ChainContains(ErrorIs(0xF90002))); // this record or any cause
//
// A failing match prints the whole error text (FormatError) of the value.
//
// Threading: matchers are used on the test's thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>

#include <gmock/gmock.h>

#include "core/common/error.h"
#include "core/common/error_text.h"
#include "core/common/text_conversion.h"

namespace Common {

// Lets gtest print an error as its whole text.
inline void PrintTo(const Error& error, std::ostream* out)
{
    if (!error.GetRecord()) {
        *out << "Common::Error(success, no record)";
        return;
    }
    *out << "Common::Error(0x" << std::hex << error.GetCode() << std::dec << ")\n" << ErrorToUtf8Text(error);
}

} // namespace Common

namespace Testing {

inline std::string HexCode(uint64_t code)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(code));
    return text;
}

MATCHER_P(ErrorIs, code, "is an error with code " + HexCode(code))
{
    if (arg.GetCode() == static_cast<unsigned>(code))
        return true;
    *result_listener << "its code is 0x" << std::hex << arg.GetCode();
    return false;
}

MATCHER(IsSuccessError, "is success")
{
    return arg.IsSuccess();
}

MATCHER_P(HasText, text, "has the text \"" + Common::ToUtf8(std::u16string(text).c_str()) + "\"")
{
    const std::u16string actual = arg.GetText();
    if (actual == std::u16string(text))
        return true;
    *result_listener << "its text is \"" << Common::ToUtf8(actual.c_str()) << "\"";
    return false;
}

MATCHER_P(HasTextThat, inner, "has a text that " + ::testing::DescribeMatcher<std::string>(inner))
{
    return ::testing::ExplainMatchResult(inner, Common::ToUtf8(arg.GetText().c_str()), result_listener);
}

MATCHER_P3(RaisedAt, file, function, line,
           std::string("was raised at ") + file + " " + function + " line " + ::testing::PrintToString(line))
{
    const Common::Location location = arg.GetLocation();
    const bool same = location.file && location.function && std::string(location.file) == file &&
        std::string(location.function) == function && location.line == static_cast<uint32_t>(line);
    if (!same)
        *result_listener << "it was raised at " << (location.file ? location.file : "(none)") << " "
                         << (location.function ? location.function : "(none)") << " line " << location.line;
    return same;
}

MATCHER_P(HasLineTag, lineTag, "has the LineTag " + HexCode(lineTag))
{
    const uint64_t actual = arg.GetLocation().LineTag;
    if (actual == static_cast<uint64_t>(lineTag))
        return true;
    *result_listener << "its LineTag is 0x" << std::hex << actual;
    return false;
}

MATCHER_P2(HasTextParameter, name, value,
           std::string("has the text parameter ") + name + " \"" + std::string(value) + "\"")
{
    const char* actual = arg.GetTextParameter(name);
    if (actual && std::string(actual) == std::string(value))
        return true;
    if (actual)
        *result_listener << "its text parameter " << name << " is \"" << actual << "\"";
    else
        *result_listener << "it has no text parameter " << name;
    return false;
}

MATCHER_P(HasNoTextParameter, name, std::string("has no text parameter ") + name)
{
    const char* actual = arg.GetTextParameter(name);
    if (actual)
        *result_listener << "its text parameter " << name << " is \"" << actual << "\"";
    return actual == nullptr;
}

// A record of the POSIX kind that carries `errnoValue`.
MATCHER_P(IsPosixError, errnoValue, "is the POSIX error errno " + ::testing::PrintToString(errnoValue))
{
    if (arg.GetCode() != Common::kPosixErrorCode) {
        *result_listener << "its code is 0x" << std::hex << arg.GetCode();
        return false;
    }
    const uint64_t actual = arg.GetIntegerParameter("code");
    if (actual == static_cast<uint64_t>(errnoValue))
        return true;
    *result_listener << "its errno is " << actual;
    return false;
}

MATCHER_P(CausedBy, inner, "has a direct cause that " + ::testing::DescribeMatcher<Common::Error>(inner))
{
    return ::testing::ExplainMatchResult(inner, arg.GetCause(), result_listener);
}

MATCHER_P(ChainContains, inner, "has a record in its chain that " + ::testing::DescribeMatcher<Common::Error>(inner))
{
    for (Common::Error current = arg; current.GetRecord(); current = current.GetCause()) {
        ::testing::StringMatchResultListener ignored;
        if (::testing::ExplainMatchResult(inner, current, &ignored))
            return true;
    }
    return false;
}

MATCHER_P(HasPosixCause, errnoValue, "has the POSIX cause errno " + ::testing::PrintToString(errnoValue))
{
    for (Common::Error current = arg.GetCause(); current.GetRecord(); current = current.GetCause()) {
        if (::testing::Matches(IsPosixError(errnoValue))(current))
            return true;
    }
    *result_listener << "no POSIX cause with that errno";
    return false;
}

} // namespace Testing
