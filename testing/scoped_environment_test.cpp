#include "testing/scoped_environment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <system_error>

namespace {

using Testing::kUnset;
using Testing::ScopedEnvironmentVariable;

constexpr const char* kName = "OBJPATCHER_SCOPED_ENVIRONMENT_TEST";

std::optional<std::string> Current()
{
    const char* value = std::getenv(kName);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

void Put(const char* value)
{
    if (value)
        ASSERT_EQ(setenv(kName, value, 1), 0);
    else
        ASSERT_EQ(unsetenv(kName), 0);
}

TEST(ScopedEnvironmentVariable, SetsWhileItLivesAndPutsBackWhatWasThere)
{
    struct Case
    {
        const char* before;
        const char* during;
    } cases[] = {
        {"old", "new"}, {kUnset, "new"}, {"old", kUnset}, {kUnset, kUnset}, {"", "x"}, {"same", "same"},
    };
    for (const Case& c : cases) {
        Put(c.before);
        {
            ScopedEnvironmentVariable variable(kName, c.during);
            EXPECT_EQ(Current(), c.during ? std::optional<std::string>(c.during) : std::nullopt);
        }
        EXPECT_EQ(Current(), c.before ? std::optional<std::string>(c.before) : std::nullopt)
            << (c.before ? c.before : "(unset)") << " -> " << (c.during ? c.during : "(unset)");
    }
    Put(kUnset);
}

TEST(ScopedEnvironmentVariable, ASetInsideTheScopeIsPutBackToo)
{
    Put("original");
    {
        ScopedEnvironmentVariable variable(kName, "first");
        variable.Set(kUnset);
        EXPECT_EQ(Current(), std::nullopt);
        variable.Set("second");
        EXPECT_EQ(Current(), "second");
    }
    EXPECT_EQ(Current(), "original");
    Put(kUnset);
}

TEST(ScopedEnvironmentVariable, NestedScopesUnwindInOrder)
{
    {
        ScopedEnvironmentVariable outer(kName, "outer");
        {
            ScopedEnvironmentVariable inner(kName, "inner");
            EXPECT_EQ(Current(), "inner");
        }
        EXPECT_EQ(Current(), "outer");
    }
    EXPECT_EQ(Current(), std::nullopt);
}

TEST(ScopedEnvironmentVariable, ANameThatCannotBeSetThrowsAndChangesNothing)
{
    EXPECT_THROW(ScopedEnvironmentVariable("BAD=NAME", "x"), std::system_error);
    EXPECT_EQ(std::getenv("BAD"), nullptr);
}

} // namespace
