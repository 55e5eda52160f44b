#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "enterprise/common/por/name.h"
#include "enterprise/common/por/property_holder.h"
#include "enterprise/common/por/value_kind.h"
#include "enterprise/common/por/value_type_index.h"

namespace {

using Por::ComputeNameHash;
using Por::Name;

TEST(NameHash, WorkedValues)
{
    EXPECT_EQ(ComputeNameHash("", 0), 0u);
    EXPECT_EQ(ComputeNameHash("\0", 1), 0x9E3779B9u);
    EXPECT_EQ(ComputeNameHash("abc", 4), 0x28253ca30c4acull);
    static_assert(ComputeNameHash("abc", 4) == 0x28253ca30c4acull, "usable at compile time");
}

TEST(NameHash, BytesAreUnsigned)
{
    // One byte 0xFF: 0 ^ (0 + 0 + 0x9E3779B9 + 255). A signed char would add -1.
    EXPECT_EQ(ComputeNameHash("\xff", 1), 0x9E3779B9ull + 255);
}

TEST(Name, LiteralAndRuntimeNamesOfOneTextAreEqual)
{
    const Name literal("Is");
    const Name runtime(std::string("Is"));
    EXPECT_EQ(literal.GetHash(), ComputeNameHash("Is", 3));
    EXPECT_EQ(runtime.GetHash(), 0u);
    EXPECT_TRUE(literal == runtime);
    EXPECT_FALSE(literal < runtime || runtime < literal);
    EXPECT_FALSE(literal.OwnsText());
    EXPECT_TRUE(runtime.OwnsText());
}

TEST(Name, OrderIsStrcmpOfUnsignedBytes)
{
    EXPECT_TRUE(Name("B") < Name("a"));
    EXPECT_TRUE(Name("") < Name("a"));
    EXPECT_TRUE(Name("a") < Name("ab"));
    // 0x80 orders after every ASCII letter.
    EXPECT_TRUE(Name("z") < Name(std::string("\x80")));
    EXPECT_GT(Por::CompareNames(Name(std::string("\x80")), Name("z")), 0);
}

TEST(Name, AWritableBufferIsNoLiteral)
{
    static_assert(!std::is_constructible_v<Name, char(&)[8]>, "a buffer must not be borrowed");
    static_assert(std::is_constructible_v<Name, const char(&)[8]>);
    char buffer[8] = "abc";
    const Name name{std::string_view(buffer)};
    buffer[0] = 'x';
    EXPECT_STREQ(name.GetText(), "abc");
    EXPECT_TRUE(name.OwnsText());
}

TEST(Name, CopyOfALiteralSharesTheLiteral)
{
    static const char literal[] = "first";
    const Name name(literal);
    const Name copy(name);
    EXPECT_EQ(copy.GetText(), literal);
    EXPECT_FALSE(copy.OwnsText());
    EXPECT_EQ(copy.GetHash(), name.GetHash());
}

TEST(Name, CopyOfARuntimeNameOwnsItsTextAndOutlivesTheSource)
{
    auto source = std::make_unique<Name>(std::string("a long runtime name beyond the short-string buffer"));
    Name copy(*source);
    Name assigned("x");
    assigned = *source;
    EXPECT_NE(copy.GetText(), source->GetText());
    source.reset();
    EXPECT_STREQ(copy.GetText(), "a long runtime name beyond the short-string buffer");
    EXPECT_STREQ(assigned.GetText(), "a long runtime name beyond the short-string buffer");
    EXPECT_TRUE(copy.OwnsText());
}

// An assigned name takes over the kind of the source whatever it held before:
// it shares a literal, and owns a copy of runtime text.
TEST(Name, CopyAssignmentFollowsTheSource)
{
    static const char literal[] = "Pattern";
    const std::string longText = "a long runtime name beyond the short-string buffer";
    const Name sources[] = {Name(literal), Name(std::string("x")), Name(longText), Name()};
    for (const Name& source : sources) {
        for (const Name& before : sources) {
            SCOPED_TRACE(std::string(source.GetText()) + " over " + before.GetText());
            Name target(before);
            target = source;
            EXPECT_STREQ(target.GetText(), source.GetText());
            EXPECT_EQ(target.OwnsText(), source.OwnsText());
            EXPECT_EQ(target.GetHash(), source.GetHash());
            if (source.OwnsText())
                EXPECT_NE(target.GetText(), source.GetText());
            else
                EXPECT_EQ(target.GetText(), source.GetText());
        }
    }
}

TEST(Name, MovesKeepTheTextAndLeaveTheSourceEmpty)
{
    for (const std::string text : {"short", "a long runtime name beyond the short-string buffer"}) {
        Name source(text);
        Name moved(std::move(source));
        EXPECT_EQ(moved.GetText(), text);
        EXPECT_TRUE(moved.OwnsText());
        EXPECT_STREQ(source.GetText(), ""); // NOLINT: checking the moved-from state
        Name target("literal");
        target = std::move(moved);
        EXPECT_EQ(target.GetText(), text);
        EXPECT_TRUE(target.OwnsText());
    }
    Name literal("Pattern");
    Name target(std::string("owned"));
    target = std::move(literal);
    EXPECT_FALSE(target.OwnsText());
    EXPECT_STREQ(target.GetText(), "Pattern");
}

TEST(Name, SelfAssignmentKeepsTheText)
{
    Name name(std::string("self"));
    Name& alias = name;
    name = alias;
    EXPECT_STREQ(name.GetText(), "self");
    name = std::move(alias);
    EXPECT_STREQ(name.GetText(), "self");
}

TEST(Name, Utf16TextIsStoredAsUtf8)
{
    const Name name(std::u16string(u"K\u00e4se"));
    EXPECT_STREQ(name.GetText(), "K\xc3\xa4se");
    EXPECT_EQ(name.ToUtf16(), u"K\u00e4se");
    EXPECT_STREQ(Name().GetText(), "");
}

// A property node is a vtable pointer, its name and its value pointer: with a
// 24-byte name it fits a 48-byte heap chunk.
TEST(NameLayout, APointerAndSixteenBytes)
{
    static_assert(sizeof(Name) <= 24);
    static_assert(sizeof(Por::PropertyHolder) <= 40);
    static_assert(std::is_nothrow_move_constructible_v<Name> && std::is_nothrow_move_assignable_v<Name>);
    static_assert(std::is_nothrow_default_constructible_v<Name>);
}

TEST(GuidLayout, SixteenBytesInFieldOrder)
{
    EXPECT_EQ(sizeof(Por::GuidType), 16u);
    EXPECT_EQ(offsetof(Por::GuidType, first), 0u);
    EXPECT_EQ(offsetof(Por::GuidType, second), 4u);
    EXPECT_EQ(offsetof(Por::GuidType, third), 6u);
    EXPECT_EQ(offsetof(Por::GuidType, last), 8u);
}

TEST(ValueKindNames, TablesAndTypeNames)
{
    EXPECT_STREQ(Por::kValueKindNames[0], "Nil");
    EXPECT_STREQ(Por::kValueKindNames[16], "Composite");
    EXPECT_STREQ(Por::kValueKindLowerNames[9], "sqword");
    EXPECT_EQ(sizeof Por::kValueKindLowerNames, 17u * 17u);
    EXPECT_EQ(Por::Util::GetValueTypeName(0), u"nil");
    EXPECT_EQ(Por::Util::GetValueTypeName(6), u"dword");
    EXPECT_EQ(Por::Util::GetValueTypeName(16), u"composite");
    EXPECT_EQ(Por::Util::GetValueTypeName(17), u"17");
    EXPECT_EQ(Por::Util::GetValueTypeName(4294967295u), u"4294967295");
}

} // namespace
