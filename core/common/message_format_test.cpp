#include "core/common/message_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/common/message_catalogue.h"

namespace {

struct FormatCase
{
    std::u16string messageTemplate;
    std::vector<std::u16string> arguments;
    std::u16string expected;
};

TEST(FormatMessage, PlaceholderTable)
{
    const std::vector<std::u16string> ab = {u"a", u"b"};
    const std::vector<FormatCase> cases = {
        {u"{0} and {1}", ab, u"a and b"},
        {u"{1}{0}", ab, u"ba"},
        {u"{0}{0}", ab, u"aa"},
        {u"{0}", {u"{0}"}, u"{0}"},         // inserted text is not scanned again
        {u"{0}{1}", {u"{", u"1}"}, u"{1}"}, // nor joined with what follows
        {u"{2} {0}", ab, u"{2} {0}"},       // stops at the first missing argument
        {u"{0} {2} {1}", ab, u"a {2} {1}"},
        {u"{x} {0}", ab, u"{x} a"},
        {u"{}", ab, u"{}"},
        {u"{{0}", ab, u"{a"},
        {u"{0", ab, u"{0"}, // digits to the end
        {u"{0 {1}", ab, u"{0 b"},
        {u"{1a} {1}", ab, u"{1a} b"},
        {u"{4294967296}", ab, u"a"}, // the index is truncated to 32 bits
        {u"{4294967297}", ab, u"b"},
        {u"{00001}", ab, u"b"},
        {u"{99999999999999999999999}", ab, u"{99999999999999999999999}"},
        {u"no placeholders", ab, u"no placeholders"},
        {u"{0}", {}, u"{0}"},
        {u"", ab, u""},
        {u"{0}!", {u""}, u"!"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Common::FormatMessage(c.messageTemplate, c.arguments), c.expected)
            << std::string(c.messageTemplate.begin(), c.messageTemplate.end());
    }
}

TEST(FormatMessage, OneArgumentForms)
{
    EXPECT_EQ(Common::FormatMessageWithArgument(u"Trait '{0}' is missing.", u"x"), u"Trait 'x' is missing.");
    EXPECT_EQ(Common::FormatCatalogueMessage(nullptr, u"x"), u"");
    EXPECT_EQ(Common::FormatCatalogueMessage(u"<{0}>", u"x"), u"<x>");
    // A catalogue text without placeholders comes back unchanged.
    EXPECT_EQ(Common::FormatCatalogueMessage(Common::GetMessageText(26), u"x"), u"Success");
}

TEST(FindPlaceholder, ReportsPositionIndexAndLength)
{
    uint32_t index = 99;
    size_t length = 99;
    EXPECT_EQ(Common::FindPlaceholder(u"ab{12}c", 0, index, length), 2u);
    EXPECT_EQ(index, 12u);
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(Common::FindPlaceholder(u"{1}{2}", 1, index, length), 3u);
    EXPECT_EQ(index, 2u);
    EXPECT_EQ(Common::FindPlaceholder(u"{{0}", 0, index, length), 1u);
    EXPECT_EQ(Common::FindPlaceholder(u"{", 0, index, length), std::u16string::npos);
    EXPECT_EQ(Common::FindPlaceholder(u"{12", 0, index, length), std::u16string::npos);
    EXPECT_EQ(Common::FindPlaceholder(u"{0}", 5, index, length), std::u16string::npos);
}

TEST(ParsePlaceholderIndex, ReadsOnlyTheGivenDigits)
{
    uint32_t index = 0;
    Common::ParsePlaceholderIndex(u"{123}", 1, 2, index);
    EXPECT_EQ(index, 12u);
    // A template with an embedded 0 before the digits.
    const std::u16string withNul(u"a\0{7}", 5);
    Common::ParsePlaceholderIndex(withNul, 3, 1, index);
    EXPECT_EQ(index, 7u);
    EXPECT_EQ(Common::FormatMessage(std::u16string(u"a\0{0}", 5), {u"x"}), std::u16string(u"a\0x", 3));
}

} // namespace
