// The tool's missing-property error.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/common/error_text.h"
#include "core/common/text_conversion.h"
#include "enterprise/common/dml/tools/objpatcher/property_not_found.h"
#include "enterprise/common/dml/tools/objpatcher/tool_locations.h"
#include "testing/error_matchers.h"

namespace {

using namespace Objpatcher;
using namespace Testing;

std::u16string Reason(const Common::Error& error)
{
    const char16_t* reason = error.GetWideTextParameter("reason");
    return reason ? reason : u"(none)";
}

// The record every missing-property error shares: a trace-level record of
// level 1 with the module and the reason after it.
void ExpectTheSharedRecord(const Common::Error& error)
{
    EXPECT_THAT(error, ErrorIs(0xFA000D));
    EXPECT_EQ(error.GetIntegerParameter("TraceLevel"), 1u);
    EXPECT_STREQ(error.GetTextParameter("$module"), "objpatcher_lxa64_43043");
    EXPECT_STREQ(error.GetParameterNames(), "TraceLevel,$module,reason");
}

TEST(PropertyNotFound, LackingBothAlternativesNamesTheLastAndItsReasonNamesBoth)
{
    struct Case
    {
        Common::Location location;
        const char16_t* first;
        const char16_t* second;
        const char* function;
        uint32_t line;
        uint64_t lineTag;
    };
    const Case cases[] = {
        {kGetViewSpecLocation, u"Pattern", u"ID", "GetViewSpec", 253, 0x6f7744b1cdc5bcd8ull},
        {kGetUpdateProcessorLocation, u"Diff", u"State", "GetUpdateProcessor", 273, 0x6f7744b1cdc5bcecull},
    };
    for (const Case& c : cases) {
        const Common::Error error = MakeMissingAlternativesError(c.location, c.first, c.second);
        ExpectTheSharedRecord(error);
        EXPECT_THAT(error, HasText(u"POR: Property '" + std::u16string(c.second) + u"' cannot be found."));
        EXPECT_EQ(Reason(error),
                  u"The input holds neither '" + std::u16string(c.first) + u"' nor '" + std::u16string(c.second) +
                      u"': the command needs one of them.");
        EXPECT_THAT(error, RaisedAt("enterprise/common/dml/tools/objpatcher/main", c.function, c.line));
        EXPECT_THAT(error, HasLineTag(c.lineTag));
    }
}

TEST(PropertyNotFound, AnUnknownCommandIsNamedAtItsPublishedPlace)
{
    // The word goes in as it is, placeholders and all, never scanned again.
    for (const std::u16string word : {u"Create", u"updte", u"", u"{0}{1}"}) {
        const Common::Error error = MakeUnknownCommandError(word);
        ExpectTheSharedRecord(error);
        EXPECT_THAT(error, HasText(u"POR: Property '" + word + u"' cannot be found."));
        EXPECT_EQ(Reason(error),
                  u"The command '" + word + u"' is unknown: the commands are create, update and delete.");
        EXPECT_THAT(error, RaisedAt("enterprise/common/dml/tools/objpatcher/main", "main", 326));
        EXPECT_THAT(error, HasLineTag(0x6f7744b1cdc5bd21ull));
    }
}

TEST(PropertyNotFound, TheReasonIsTheLastLineOfTheText)
{
    const std::string text = Common::ErrorToUtf8Text(MakeUnknownCommandError(u"updte"));
    EXPECT_THAT(text, ::testing::StartsWith("Error 0xfa000d: POR: Property 'updte' cannot be found.\n"));
    EXPECT_THAT(text,
                ::testing::EndsWith("\n| TraceLevel: 0x1\n| $module: objpatcher_lxa64_43043\n"
                                    "| reason: The command 'updte' is unknown: the commands are create, "
                                    "update and delete."));
}

TEST(PropertyNotFound, EveryPublishedLocationKeepsItsLineTag)
{
    struct Case
    {
        Common::Location location;
        const char* function;
        uint32_t line;
        uint64_t lineTag;
    };
    const Case cases[] = {
        {kGetViewSpecLocation, "GetViewSpec", 253, 0x6f7744b1cdc5bcd8ull},
        {kGetUpdateProcessorLocation, "GetUpdateProcessor", 273, 0x6f7744b1cdc5bcecull},
        {kSecurityLocation, "main", 289, 0x6f7744b1cdc5bcfcull},
        {kCreateLocation, "main", 310, 0x6f7744b1cdc5bd11ull},
        {kUpdateLocation, "main", 316, 0x6f7744b1cdc5bd17ull},
        {kDeleteLocation, "main", 321, 0x6f7744b1cdc5bd1cull},
        {kUnknownCommandLocation, "main", 326, 0x6f7744b1cdc5bd21ull},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(c.location.function, c.function);
        EXPECT_EQ(c.location.line, c.line);
        EXPECT_EQ(c.location.LineTag, c.lineTag) << c.function << " " << c.line;
    }
}

} // namespace
