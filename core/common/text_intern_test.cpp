#include "core/common/text_intern.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

TEST(InternString, SameTextSamePointerOtherTextOtherPointer)
{
    char buffer[] = "core/common/intern_case";
    const char* first = Common::InternString(buffer);
    EXPECT_NE(first, buffer);
    EXPECT_STREQ(first, "core/common/intern_case");
    EXPECT_EQ(Common::InternString(std::string("core/common/intern_case").c_str()), first);

    const char* prefix = Common::InternString("core/common/intern");
    const char* longer = Common::InternString("core/common/intern_case_2");
    EXPECT_NE(prefix, first);
    EXPECT_NE(longer, first);
    EXPECT_STREQ(prefix, "core/common/intern");

    // The stored copy does not follow the caller's buffer.
    buffer[0] = 'X';
    EXPECT_STREQ(first, "core/common/intern_case");
    EXPECT_STREQ(Common::InternString(""), "");
}

TEST(InternString, LongAndExcessTextsFallBackToTheFixedText)
{
    // A set that keeps texts of up to 8 bytes, 20 bytes in all (terminators
    // included).
    Common::Detail::InternedTexts set(8, 20);
    const char* kept = set.Intern("12345678");
    EXPECT_STREQ(kept, "12345678");
    EXPECT_EQ(set.Intern("123456789"), Common::kNotInternedText);
    EXPECT_EQ(set.Intern("abcdefgh"), std::string_view("abcdefgh"));
    EXPECT_EQ(set.StoredBytes(), 18u);
    // Two bytes left: an empty text fits, one byte more does not.
    EXPECT_EQ(set.Intern("a"), std::string_view("a"));
    EXPECT_EQ(set.Intern(""), Common::kNotInternedText);
    EXPECT_EQ(set.StoredBytes(), 20u);
    // Texts stored before the budget ran out are still found.
    EXPECT_EQ(set.Intern("12345678"), kept);

    // The process-wide set refuses a name longer than its bound.
    const std::string huge(Common::kMaxInternedLength + 1, 'n');
    EXPECT_EQ(Common::InternString(huge.c_str()), Common::kNotInternedText);
    const std::string longest(Common::kMaxInternedLength, 'n');
    EXPECT_STREQ(Common::InternString(longest.c_str()), longest.c_str());
}

TEST(InternStringThreads, ConcurrentInterningAgreesOnOneCopy)
{
    constexpr int kThreads = 8;
    constexpr int kTexts = 64;
    std::vector<std::vector<const char*>> seen(kThreads, std::vector<const char*>(kTexts));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &seen] {
            for (int i = 0; i < kTexts; ++i) {
                const int n = (i + t) % kTexts;
                seen[t][n] = Common::InternString(("threads/text_" + std::to_string(n)).c_str());
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    for (int i = 0; i < kTexts; ++i) {
        EXPECT_STREQ(seen[0][i], ("threads/text_" + std::to_string(i)).c_str());
        for (int t = 1; t < kThreads; ++t)
            EXPECT_EQ(seen[t][i], seen[0][i]);
    }
}

} // namespace
