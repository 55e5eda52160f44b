#include "core/common/like_match.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct LikeCase
{
    std::u16string pattern;
    std::u16string text;
    bool matches;
};

TEST(MatchLikePattern, PercentAndUnderscoreTable)
{
    const std::vector<LikeCase> cases = {
        {u"%a", u"a", true},
        {u"%a", u"ba", true},
        {u"%a", u"aa", true},
        {u"%a", u"aba", true},
        {u"%a", u"ab", false},
        {u"a_c", u"abc", true},
        {u"a_c", u"ac", false},
        {u"a_c", u"abbc", false},
        {u"%", u"", true},
        {u"%", u"anything", true},
        {u"%%", u"", true},
        {u"_", u"", false},
        {u"_", u"x", true},
        {u"", u"xyz", true},
        {u"", u"", true},
        {u"abc", u"abc", true},
        {u"abc", u"abd", false},
        {u"abc", u"ABC", false},
        {u"abc", u"abcd", false},
        {u"a%", u"a", true},
        {u"a%", u"abc", true},
        {u"a%", u"ba", false},
        {u"a%c%e", u"abcde", true},
        {u"a%c%e", u"abcdef", false},
        {u"%ab%ab%", u"aabxab", true},
        {u"%ab%ab%", u"aabxa", false},
        {u"%_%_", u"a", false},
        {u"%_%_", u"ab", true},
        {u"%\u00E9", u"caf\u00E9", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Common::MatchLikePattern(c.text, c.pattern, u'%', u'_'), c.matches)
            << std::string(c.pattern.begin(), c.pattern.end()) << " / " << std::string(c.text.begin(), c.text.end());
    }
}

TEST(MatchLikePattern, UsesTheGivenWildcards)
{
    EXPECT_TRUE(Common::MatchLikePattern(u"a%b", u"a*?", u'*', u'?'));
    EXPECT_TRUE(Common::MatchLikePattern(u"a%b", u"a%b", u'*', u'?'));
    EXPECT_FALSE(Common::MatchLikePattern(u"axb", u"a%b", u'*', u'?'));
}

TEST(MatchLikePattern, ManyWildcardsOnALongTextStayQuick)
{
    const std::u16string text(20000, u'a');
    const std::u16string pattern = u"%a%a%a%a%a%a%a%a%b";
    EXPECT_FALSE(Common::MatchLikePattern(text, pattern, u'%', u'_'));
    EXPECT_TRUE(Common::MatchLikePattern(text + u"b", pattern, u'%', u'_'));
}

} // namespace
