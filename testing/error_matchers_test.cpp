#include "testing/error_matchers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>

#include "core/common/error.h"

namespace {

using namespace Testing;
using ::testing::Matches;
using ::testing::Not;
using ::testing::StartsWith;

const Common::Location kHere{0, "testing/error_matchers_test", "Here", 1};

TEST(ErrorMatchers, TextParametersAreToldApartByNameAndValue)
{
    // Every record answers "$module" with the build tag, and nothing else.
    const Common::Error error(0x40011, u"text", kHere);
    EXPECT_THAT(error, HasTextParameter("$module", Common::kBuildTag));
    EXPECT_THAT(error, Not(HasTextParameter("$module", "another")));
    EXPECT_THAT(error, Not(HasTextParameter("path", "")));
    EXPECT_THAT(error, HasNoTextParameter("path"));
    EXPECT_THAT(error, Not(HasNoTextParameter("$module")));
}

TEST(ErrorMatchers, PosixErrorsAreMatchedByTheirErrnoOnTheirOwnRecord)
{
    Common::Error error(0x40011, u"text", kHere);
    error.AddPosixError(ENOENT);
    EXPECT_THAT(error, CausedBy(IsPosixError(ENOENT)));
    EXPECT_THAT(error, Not(CausedBy(IsPosixError(EACCES))));
    EXPECT_THAT(error, Not(IsPosixError(ENOENT))); // the outer record is not the POSIX one
    EXPECT_THAT(error, HasPosixCause(ENOENT));
    EXPECT_THAT(error, Not(CausedBy(IsSuccessError())));
    EXPECT_THAT(Common::Error(0x40011, u"text", kHere), CausedBy(IsSuccessError()));
}

TEST(ErrorMatchers, TextThatTakesAMatcherOfTheUtf8Text)
{
    const Common::Error error(0x9C0002, u"Cannot deserialize \u00e9", kHere);
    EXPECT_THAT(error, HasTextThat(StartsWith("Cannot deserialize")));
    EXPECT_THAT(error, HasTextThat("Cannot deserialize \xc3\xa9"));
    EXPECT_FALSE(Matches(HasTextThat(StartsWith("deserialize")))(error));
}

} // namespace
