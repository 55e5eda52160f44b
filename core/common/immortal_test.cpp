#include "core/common/immortal.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>

namespace {

// Static destruction never ends the object: a static Immortal registers no
// exit action. An empty one is constant-initialized.
static_assert(std::is_trivially_destructible_v<Common::Immortal<std::string>>);
constinit Common::Immortal<std::string> g_empty;

struct Tracked
{
    explicit Tracked(int& ends, int value) : ends(ends), value(value) {}
    ~Tracked() { ++ends; }
    int& ends;
    int value;
};

TEST(Immortal, EmptyUntilEmplacedAndEmptyAgainAfterDestroy)
{
    EXPECT_EQ(g_empty.Get(), nullptr);

    int ends = 0;
    Common::Immortal<Tracked> storage;
    EXPECT_EQ(storage.Get(), nullptr);
    storage.Destroy(); // nothing to end
    EXPECT_EQ(ends, 0);

    EXPECT_EQ(storage.Emplace(ends, 1).value, 1);
    EXPECT_EQ(storage.Emplace(ends, 2).value, 2); // the first is ended
    EXPECT_EQ(ends, 1);
    storage.Destroy();
    EXPECT_EQ(ends, 2);
    EXPECT_EQ(storage.Get(), nullptr);

    storage.Emplace(ends, 3); // made again after its end
    EXPECT_EQ(storage->value, 3);
    storage.Destroy();
    EXPECT_EQ(ends, 3);
}

} // namespace
