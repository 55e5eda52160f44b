// The tool's missing-property error.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "core/common/message_catalogue.h"
#include "enterprise/common/dml/tools/objpatcher/property_not_found.h"
#include "enterprise/common/dml/tools/objpatcher/tool_locations.h"
#include "testing/error_matchers.h"

namespace {

using namespace Objpatcher;
using namespace Testing;

TEST(PropertyNotFound, NamesThePropertyLookedForLastAtThePublishedPlace)
{
    const Common::Error error = MakePropertyNotFoundError(kGetUpdateProcessorLocation, u"State");
    EXPECT_THAT(error, ErrorIs(0xFA000D));
    EXPECT_THAT(error, HasText(u"POR: Property 'State' cannot be found."));
    EXPECT_THAT(error, RaisedAt("enterprise/common/dml/tools/objpatcher/main", "GetUpdateProcessor", 273));
    EXPECT_THAT(error, HasLineTag(0x6f7744b1cdc5bcecull));
    EXPECT_EQ(error.GetIntegerParameter("TraceLevel"), 1u);
    EXPECT_STREQ(error.GetTextParameter("$module"), "objpatcher_lxa64_43043");
    EXPECT_STREQ(error.GetParameterNames(), "TraceLevel,$module");
}

TEST(PropertyNotFound, WithoutANameKeepsTheCatalogueText)
{
    const Common::Error error = MakePropertyNotFoundError(kUnknownCommandLocation);
    EXPECT_THAT(error, HasText(u"POR: Property '{0}' cannot be found."));
    EXPECT_THAT(error, HasLineTag(0x6f7744b1cdc5bd21ull));
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
