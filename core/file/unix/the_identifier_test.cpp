#include "core/file/unix/the_identifier.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(TheIdentifier, KeepsNameAndExtraBytes)
{
    const char native[] = "a\xff"
                          "b";
    the_identifier id(u"a\uF8FF"
                      "b",
                      native, sizeof native);
    EXPECT_EQ(std::u16string(id.GetName()),
              u"a\uF8FF"
              "b");
    ASSERT_NE(id.GetNativeName(), nullptr);
    EXPECT_EQ(std::string(id.GetNativeName()), native);
    EXPECT_EQ(GetIdentifierNativeName(&id), id.GetNativeName());
}

TEST(TheIdentifier, NameWithoutExtraBytesHasNoNativeName)
{
    the_identifier id(u"name", nullptr, 0);
    EXPECT_EQ(std::u16string(id.GetName()), u"name");
    EXPECT_EQ(id.GetExtra(), nullptr);
    EXPECT_EQ(GetIdentifierNativeName(&id), nullptr);
    EXPECT_EQ(GetIdentifierNativeName(nullptr), nullptr);
}

TEST(TheIdentifier, EmptyIdentifiersShareTheStaticBlock)
{
    uint64_t before = 0;
    {
        the_identifier first(nullptr, nullptr, 0);
        before = first.GetShareCount() - 1;
        the_identifier second(u"", nullptr, 0);
        EXPECT_TRUE(first.SharesBlockWith(second));
        EXPECT_EQ(first.GetShareCount(), before + 2);
        EXPECT_EQ(std::u16string(second.GetName()), u"");
    }
    // Both gone: the static block is still there and still counted once.
    the_identifier third(nullptr, nullptr, 0);
    EXPECT_EQ(third.GetShareCount(), before + 1);
    EXPECT_GE(before, 1u);
}

TEST(TheIdentifier, EmptyNameWithExtraBytesGetsItsOwnBlock)
{
    const char native[] = "";
    the_identifier withExtra(u"", native, 1);
    the_identifier empty(nullptr, nullptr, 0);
    EXPECT_FALSE(withExtra.SharesBlockWith(empty));
    EXPECT_NE(withExtra.GetNativeName(), nullptr);
}

TEST(TheIdentifier, CloneOutlivesTheOriginal)
{
    const char native[] = "file.txt";
    std::unique_ptr<file_identifier> clone;
    {
        the_identifier original(u"file.txt", native, sizeof native);
        clone.reset(original.Clone());
        ASSERT_NE(clone, nullptr);
        EXPECT_TRUE(original.SharesBlockWith(static_cast<const the_identifier&>(*clone)));
        EXPECT_EQ(original.GetShareCount(), 2u);
    }
    const auto& kept = static_cast<const the_identifier&>(*clone);
    EXPECT_EQ(kept.GetShareCount(), 1u);
    EXPECT_EQ(std::u16string(kept.GetName()), u"file.txt");
    EXPECT_EQ(std::string(kept.GetNativeName()), "file.txt");
}

TEST(TheIdentifierThreads, ClonesReleasedOnManyThreads)
{
    const char native[] = "shared";
    auto original = std::make_unique<the_identifier>(u"shared", native, sizeof native);
    std::vector<std::unique_ptr<file_identifier>> clones;
    for (int i = 0; i < 64; ++i)
        clones.emplace_back(original->Clone());
    original.reset();
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&clones, t] {
            for (int i = t; i < 64; i += 8) {
                std::unique_ptr<file_identifier> more(clones[i]->Clone());
                if (std::string(static_cast<const the_identifier&>(*more).GetNativeName()) != "shared")
                    ADD_FAILURE();
                clones[i].reset();
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
}

} // namespace
