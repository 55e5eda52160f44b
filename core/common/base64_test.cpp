#include "core/common/base64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Encode(const std::string& input, bool fill, const char* alphabet = Common::kStandardBase64Alphabet)
{
    std::vector<char> out((input.size() + 2) / 3 * 4 + 1, '#');
    const auto* begin = reinterpret_cast<const uint8_t*>(input.data());
    char* end = Common::EncodeBase64(out.data(), begin, begin + input.size(), alphabet, fill);
    EXPECT_EQ(out[static_cast<size_t>(end - out.data())], '#') << "wrote past the returned end";
    return std::string(out.data(), end);
}

TEST(EncodeBase64, WithAndWithoutFill)
{
    struct Case
    {
        std::string input;
        const char* filled;
        const char* unfilled;
    };
    const std::vector<Case> cases = {
        {"", "", ""},
        {"f", "Zg==", "Zg"},
        {"fo", "Zm8=", "Zm8"},
        {"foo", "Zm9v", "Zm9v"},
        {"foob", "Zm9vYg==", "Zm9vYg"},
        {"foobar", "Zm9vYmFy", "Zm9vYmFy"},
        {std::string("\xFF\xFE\x00", 3), "//4A", "//4A"},
        {std::string("\xFB\xFF", 2), "+/8=", "+/8"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Encode(c.input, true), c.filled) << c.input;
        EXPECT_EQ(Encode(c.input, false), c.unfilled) << c.input;
    }
}

TEST(EncodeBase64, UsesTheGivenAlphabet)
{
    EXPECT_EQ(
        Encode(std::string("\xFB\xFF", 2), true, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
        "-_8=");
}

} // namespace
