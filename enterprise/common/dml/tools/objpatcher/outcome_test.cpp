// The tool's report of failures on standard output.

#include <gtest/gtest.h>

#include <sstream>

#include "core/common/error.h"
#include "core/common/error_text.h"
#include "enterprise/common/dml/tools/objpatcher/outcome.h"

namespace {

using namespace Objpatcher;

Common::Error SampleError()
{
    Common::Error error(0xAD001F, u"Failed to obtain the local service browser during local connection.",
                        Common::Location{1, "enterprise/common/ipc/client/lib/client", "ConnectLocalImpl", 38});
    error.AddCause(Common::Error(0x40011, u"cause", Common::NoLocation));
    return error;
}

TEST(Outcome, AFailedConnectionPrintsItsTextOnce)
{
    std::ostringstream out;
    EXPECT_EQ(ReportConnectionFailure(out, SampleError()), 1);
    EXPECT_EQ(out.str(), "Failed to connect:\n" + Common::ErrorToUtf8Text(SampleError()) + "\n");
}

TEST(Outcome, AFailedRequestPrintsItsTextTwice)
{
    std::ostringstream out;
    EXPECT_EQ(ReportRequestFailure(out, SampleError()), 1);
    const std::string text = Common::ErrorToUtf8Text(SampleError());
    ASSERT_NE(text.find("ConnectLocalImpl"), std::string::npos);
    ASSERT_NE(text.find("cause"), std::string::npos);
    EXPECT_EQ(out.str(), "Failed to process request:\n" + text + "\n" + text + "\n");
}

} // namespace
