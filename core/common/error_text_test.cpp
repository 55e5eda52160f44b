#include "core/common/error_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/common/error.h"
#include "core/common/number_text.h"
#include "core/common/text_conversion.h"

namespace {

constexpr Common::SourceFile kSource("core/common/error_text_test");

std::string Utf8(const std::u16string& text)
{
    std::string out;
    Common::ConvertUtf16ToUtf8(out, text.data(), text.size());
    return out;
}

std::string Hex(uint64_t value)
{
    return Utf8(Common::ToHexText(value));
}

// A record kind for the parameter lines: its names are "a,,b"; "a" answers a
// UTF-8 text, "b" a wide text with a line feed, anything else the integer 0.
const char* TestNames(const Common::ErrorRecord*)
{
    return "a,,b";
}
const char* TestText(const Common::ErrorRecord*, const char* name)
{
    return std::strcmp(name, "a") == 0 ? "caf\xC3\xA9" : nullptr;
}
const char16_t* TestWideText(const Common::ErrorRecord*, const char* name)
{
    return std::strcmp(name, "b") == 0 ? u"one\ntwo" : nullptr;
}
uint64_t TestInteger(const Common::ErrorRecord*, const char*)
{
    return 0;
}
std::u16string TestMessage(const Common::ErrorRecord*)
{
    return std::u16string();
}
void TestFree(Common::ErrorRecord* record)
{
    Common::Detail::FreeRecordBlock(record);
}
Common::ErrorRecord* TestClone(const Common::ErrorRecord* record)
{
    return Common::Detail::CloneRecordBytes(record, sizeof(Common::ErrorRecord));
}
const Common::ErrorRecordKind kTestKind{TestFree, TestClone,    TestMessage, TestInteger,
                                        TestText, TestWideText, TestNames};

Common::Error MakeTestError(unsigned code, Common::Location location)
{
    auto* record = reinterpret_cast<Common::ErrorRecord*>(
        Common::Detail::AllocateRecordBlock(sizeof(Common::ErrorRecord)));
    record->count = 0;
    record->code = code;
    record->next = nullptr;
    record->kind = &kTestKind;
    record->location = location;
    record->size = sizeof(Common::ErrorRecord);
    return Common::Error(record);
}

TEST(FormatError, SuccessRendersAsSuccess)
{
    EXPECT_EQ(Common::ErrorToUtf8Text(Common::Success), "Success");
    EXPECT_EQ(Common::FormatError(Common::Error()), u"Success");
    EXPECT_EQ(Common::FormatError(MakeTestError(0, kSource.At("F", 1))), u"Success");
}

TEST(FormatError, UnsupportedOperationWithPosixCause)
{
    const Common::Location location = kSource.At("IOCTL", 28);
    Common::Error error(0x4000E, u"The operation is not supported.", location);
    error.AddPosixError(2);
    const Common::Location cause = error.GetCause().GetLocation();
    ASSERT_NE(cause.file, nullptr);

    const std::string expected = "Error 0x4000e: The operation is not supported.\n"
                                 "| line: " +
        Hex(location.LineTag) +
        "\n"
        "| file: core/common/error_text_test:28\n"
        "| function: IOCTL\n"
        "| $module: objpatcher_lxa64_43043\n"
        "|\n"
        "| error 0xfff1: No such file or directory\n"
        "| line: " +
        Hex(cause.LineTag) +
        "\n"
        "| file: " +
        cause.file + ":" + std::to_string(cause.line) +
        "\n"
        "| function: AddPosixError\n"
        "| code: 0x2\n"
        "| $module: objpatcher_lxa64_43043";
    EXPECT_EQ(Common::ErrorToUtf8Text(error), expected);
    EXPECT_EQ(Hex(location.LineTag), Hex(kSource.base + 28));
}

TEST(FormatError, OutOfMemoryRecordHasOnlyTheLineOfItsLocation)
{
    const Common::Error error(Common::GetOutOfMemoryErrorRecord());
    EXPECT_EQ(Common::ErrorToUtf8Text(error), "Error 0xfff2\n| line: 0x0\n| $module: objpatcher_lxa64_43043");
}

TEST(FormatError, CodeOnlyErrorHasNoColonAfterTheCode)
{
    const Common::Error error(0x9C0001, kSource.At("Run", 7));
    const std::string text = Common::ErrorToUtf8Text(error);
    EXPECT_EQ(text.substr(0, text.find('\n')), "Error 0x9c0001");
}

TEST(FormatError, ChainStopsAtACauseWithCodeZero)
{
    Common::Error hidden(0x99, u"hidden", kSource.At("Hidden", 3));
    Common::Error zero = MakeTestError(0, Common::NoLocation);
    zero.AddCause(hidden);
    Common::Error first(0x11, u"first cause", Common::NoLocation);
    first.AddCause(zero);
    Common::Error top(0x10, u"top", Common::NoLocation);
    top.AddCause(first);

    EXPECT_EQ(Common::ErrorToUtf8Text(top),
              "Error 0x10: top\n| line: 0x0\n| $module: objpatcher_lxa64_43043\n"
              "|\n| error 0x11: first cause\n| line: 0x0\n| $module: objpatcher_lxa64_43043");
}

TEST(FormatError, ParameterListWithAnEmptyName)
{
    const Common::Error error = MakeTestError(0x5, Common::NoLocation);
    EXPECT_EQ(Common::ErrorToUtf8Text(error),
              "Error 0x5\n| line: 0x0\n"
              "| a: caf\xC3\xA9\n"
              "| : 0x0\n"
              "| b: one\n| two");
}

TEST(FormatError, MultiLineTextIsIndented)
{
    const Common::Error error(0x7, u"one\ntwo\nthree", Common::NoLocation);
    const std::string text = Common::ErrorToUtf8Text(error);
    EXPECT_EQ(text.substr(0, text.find("\n| line")), "Error 0x7: one\n| two\n| three");
}

TEST(FormatError, TraceLevelRecordEndsWithItsTwoParameters)
{
    const Common::Error error = Common::MakeTraceLevelError(0xF90001, u"traced", kSource.At("Trace", 9));
    const std::string text = Common::ErrorToUtf8Text(error);
    const std::string tail = "\n| TraceLevel: 0x1\n| $module: objpatcher_lxa64_43043";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST(FormatErrorRecord, TraceLevelAndChannelLines)
{
    const Common::Error error(0x3, Common::NoLocation);
    EXPECT_EQ(Utf8(Common::FormatErrorRecord(error, false, 3, "net")),
              "\n| error 0x3\n| trace level: warning\n| channel: net\n| line: 0x0\n| $module: objpatcher_lxa64_43043");
    EXPECT_EQ(Utf8(Common::FormatErrorRecord(error, true, Common::kNoTraceLevel, "")),
              "Error 0x3\n| line: 0x0\n| $module: objpatcher_lxa64_43043");
    EXPECT_EQ(Utf8(Common::FormatErrorRecord(Common::Success, true, Common::kNoTraceLevel, nullptr)),
              "Error 0x0\n| line: 0x0");
}

TEST(FormatTraceLevelLine, NamesAndNumbers)
{
    const std::pair<uint8_t, const char*> cases[] = {
        {1, "debug"}, {2, "information"}, {3, "warning"}, {4, "error"}, {5, "critical error"},
        {0, "0"},     {6, "6"},           {7, "7"},       {254, "254"},
    };
    for (const auto& [level, name] : cases)
        EXPECT_EQ(Utf8(Common::FormatTraceLevelLine(level)), std::string("\n| trace level: ") + name) << int(level);
    EXPECT_EQ(Utf8(Common::FormatChannelLine("audit")), "\n| channel: audit");
}

TEST(IndentErrorText, EveryLineFeedGetsTheBar)
{
    EXPECT_EQ(Common::IndentErrorText(u""), u"");
    EXPECT_EQ(Common::IndentErrorText(u"plain"), u"plain");
    EXPECT_EQ(Common::IndentErrorText(u"\n\n"), u"\n| \n| ");
    EXPECT_EQ(Common::IndentErrorText(u"a\nb"), u"a\n| b");
}

TEST(FormatErrorParameter, ValueOrder)
{
    Common::Error posix;
    posix.AddPosixError(13);
    EXPECT_EQ(Utf8(Common::FormatErrorParameter("code", posix)), "\n| code: 0xd");
    EXPECT_EQ(Utf8(Common::FormatErrorParameter("$module", posix)), "\n| $module: objpatcher_lxa64_43043");
    EXPECT_EQ(Utf8(Common::FormatErrorParameter("missing", Common::Success)), "\n| missing: 0x0");
}

} // namespace
