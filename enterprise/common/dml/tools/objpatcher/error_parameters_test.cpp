// Parameters added to the first record of an error.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "core/common/error.h"
#include "core/common/error_blob.h"
#include "core/common/error_text.h"
#include "enterprise/common/dml/tools/objpatcher/error_parameters.h"
#include "testing/error_matchers.h"

namespace {

using namespace Objpatcher;
using namespace Testing;

constexpr Common::Location kHere{0x1234, "test/here", "Here", 7};

// A trace-level record (an integer and a text parameter of its own) caused by
// a POSIX record.
Common::Error TraceLevelWithCause()
{
    Common::Error error = Common::MakeTraceLevelError(0xFC0005, u"refused", kHere);
    error.AddPosixError(ENOENT);
    return error;
}

std::u16string Wide(const Common::Error& error, const char* name)
{
    const char16_t* value = error.GetWideTextParameter(name);
    return value ? value : u"(none)";
}

TEST(ErrorParameters, TheRecordKeepsWhatItWasAndAnswersTheAddedOnesAfterItsOwn)
{
    const Common::Error original = TraceLevelWithCause();
    const Common::Error added = AddErrorParameters(original, {{"object", u"p\u00e9"}, {"objects updated", u"3"}});
    EXPECT_THAT(added, ErrorIs(0xFC0005u));
    EXPECT_THAT(added, HasText(u"refused"));
    EXPECT_THAT(added, RaisedAt("test/here", "Here", 7));
    EXPECT_THAT(added, HasLineTag(0x1234u));
    EXPECT_THAT(added, HasPosixCause(ENOENT));
    EXPECT_EQ(added.GetCause().GetRecord(), original.GetCause().GetRecord()) << "the same causes";
    EXPECT_STREQ(added.GetParameterNames(), "TraceLevel,$module,object,objects updated");
    EXPECT_EQ(added.GetIntegerParameter("TraceLevel"), 1u);
    EXPECT_STREQ(added.GetTextParameter("$module"), "objpatcher_lxa64_43043");
    EXPECT_EQ(Wide(added, "object"), u"p\u00e9");
    EXPECT_EQ(Wide(added, "objects updated"), u"3");
    EXPECT_EQ(added.GetTextParameter("object"), nullptr);
    EXPECT_EQ(added.GetIntegerParameter("objects updated"), 0u);

    EXPECT_STREQ(original.GetParameterNames(), "TraceLevel,$module") << "the original is unchanged";
    EXPECT_EQ(original.GetWideTextParameter("object"), nullptr);
}

TEST(ErrorParameters, TheTextShowsTheAddedParametersLast)
{
    const Common::Error added = AddErrorParameters(Common::Error(0xFC0F00, u"does not fit", kHere),
                                                   {{"object", u".String(\"p2\")"}, {"objects updated", u"1"}});
    EXPECT_EQ(Common::ErrorToUtf8Text(added),
              "Error 0xfc0f00: does not fit\n"
              "| line: 0x1234\n"
              "| file: test/here:7\n"
              "| function: Here\n"
              "| $module: objpatcher_lxa64_43043\n"
              "| object: .String(\"p2\")\n"
              "| objects updated: 1");
}

// The record lives on its own: the original value may go, the new one may be
// copied, given a cause (which clones a shared record) and sent as a blob.
TEST(ErrorParameters, TheRecordOutlivesTheOriginalAndSurvivesCopiesCausesAndBlobs)
{
    Common::Error added = AddErrorParameters(TraceLevelWithCause(), {{"object", u"p1"}});
    Common::Error copy = added;
    copy.AddCause(Common::Error(0xFC0F00, u"new cause", Common::NoLocation));
    EXPECT_THAT(copy, CausedBy(ErrorIs(0xFC0F00u)));
    EXPECT_THAT(added, HasPosixCause(ENOENT)) << "the shared record kept its causes";
    EXPECT_THAT(copy, HasText(u"refused"));
    EXPECT_EQ(Wide(copy, "object"), u"p1");
    added = Common::Error();
    EXPECT_EQ(Wide(copy, "object"), u"p1");

    uint32_t size = 0;
    const std::unique_ptr<unsigned char[]> blob(Common::SerializeError(copy, size));
    const Common::Error read = Common::DeserializeError(blob.get(), size);
    EXPECT_THAT(read, ErrorIs(0xFC0005u));
    EXPECT_THAT(read, HasText(u"refused"));
    EXPECT_EQ(read.GetIntegerParameter("TraceLevel"), 1u);
    EXPECT_EQ(Wide(read, "object"), u"p1");
    EXPECT_THAT(read, CausedBy(ErrorIs(0xFC0F00u)));
}

TEST(ErrorParameters, SuccessNothingToAddAndTooManyAreHandled)
{
    EXPECT_EQ(AddErrorParameters(Common::Success, {{"object", u"p1"}}).GetRecord(), nullptr);
    const Common::Error plain(0xFC0005, u"refused", kHere);
    EXPECT_EQ(AddErrorParameters(plain, {}).GetRecord(), plain.GetRecord());

    const Common::Error three = AddErrorParameters(plain, {{"a", u"1"}, {"b", u"2"}, {"c", u"3"}});
    static_assert(kMaxAddedParameters == 2);
    EXPECT_STREQ(three.GetParameterNames(), "$module,a,b");
    EXPECT_EQ(three.GetWideTextParameter("c"), nullptr);
}

TEST(ErrorParameters, WithoutMemoryTheErrorComesBackUnchanged)
{
    const Common::Error plain(0xFC0005, u"refused", kHere);
    Common::Detail::SetRecordAllocatorForTesting([](size_t) -> unsigned char* { return nullptr; });
    const Common::Error added = AddErrorParameters(plain, {{"object", u"p1"}});
    Common::Detail::SetRecordAllocatorForTesting(nullptr);
    EXPECT_EQ(added.GetRecord(), plain.GetRecord());
}

} // namespace
