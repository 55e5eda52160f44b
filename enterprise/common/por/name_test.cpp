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

// How a name holds its text, told from outside: a literal's own pointer, or an
// owned copy inside the name object (short texts) or outside it (a heap copy).
bool HeldInside(const Name& name)
{
    const auto text = reinterpret_cast<std::uintptr_t>(name.GetText());
    const auto begin = reinterpret_cast<std::uintptr_t>(&name);
    return text >= begin && text < begin + sizeof(Name);
}

constexpr size_t kInlineRoom = 15; // the longest runtime text that takes no allocation

struct NameState
{
    std::string text;
    bool owns;
    uint64_t hash;
    const char* literal; // the shared text of a name that owns none
};

NameState StateOf(const Name& name)
{
    return {name.GetText(), name.OwnsText(), name.GetHash(), name.OwnsText() ? nullptr : name.GetText()};
}

const NameState kEmptyRuntimeName{"", true, 0, nullptr};

void ExpectState(const Name& name, const NameState& expected)
{
    EXPECT_STREQ(name.GetText(), expected.text.c_str());
    EXPECT_EQ(name.OwnsText(), expected.owns);
    EXPECT_EQ(name.GetHash(), expected.hash);
    if (expected.owns)
        EXPECT_EQ(HeldInside(name), expected.text.size() <= kInlineRoom) << expected.text;
    else
        EXPECT_EQ(name.GetText(), expected.literal);
}

// The text of `length` bytes "abc...zab...".
std::string TextOfLength(size_t length)
{
    std::string text;
    for (size_t i = 0; i < length; ++i)
        text += static_cast<char>('a' + i % 26);
    return text;
}

TEST(NameStorage, ShortRuntimeTextsAreHeldInsideTheName)
{
    for (const size_t length : {size_t(0), size_t(1), size_t(14), size_t(15), size_t(16), size_t(17), size_t(100)}) {
        SCOPED_TRACE(length);
        const std::string text = TextOfLength(length);
        const Name fromUtf8{std::string_view(text)};
        const Name fromUtf16{std::u16string_view(std::u16string(text.begin(), text.end()))};
        for (const Name* name : {&fromUtf8, &fromUtf16}) {
            ExpectState(*name, {text, true, 0, nullptr});
            const Name copy(*name);
            ExpectState(copy, {text, true, 0, nullptr});
            EXPECT_NE(copy.GetText(), name->GetText());
        }
    }
}

// The room is counted in UTF-8 bytes, whatever the form the text came in.
TEST(NameStorage, TheRoomIsCountedInUtf8Bytes)
{
    const struct
    {
        std::u16string utf16;
        std::string utf8;
    } cases[] = {
        {u"\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4x",
         "\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4x"}, // 15 bytes
        {u"\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4",
         "\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4"}, // 16 bytes
        {u"\U0001F600\U0001F600\U0001F600",
         "\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80"}, // 12 bytes from 6 units
        {u"\U0001F600\U0001F600\U0001F600\U0001F600",
         "\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80"}, // 16
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utf8);
        const Name fromUtf16{std::u16string_view(c.utf16)};
        const Name fromUtf8{std::string_view(c.utf8)};
        ExpectState(fromUtf16, {c.utf8, true, 0, nullptr});
        ExpectState(fromUtf8, {c.utf8, true, 0, nullptr});
        EXPECT_EQ(fromUtf16.ToUtf16(), c.utf16);
        EXPECT_TRUE(fromUtf16 == fromUtf8);
    }
}

// A runtime text ends at its first NUL, as every reader of GetText sees it;
// copies hold that text.
TEST(NameStorage, TheTextEndsAtTheFirstNul)
{
    const std::string longText = "abc" + std::string(1, '\0') + TextOfLength(30);
    const std::u16string longUtf16 = u"ab" + std::u16string(1, u'\0') + u"cd";
    const Name names[] = {Name(std::string_view(longText)), Name(std::string_view("ab\0cd", 5)),
                          Name(std::u16string_view(longUtf16))};
    const char* const expected[] = {"abc", "ab", "ab"};
    for (size_t i = 0; i < std::size(names); ++i) {
        EXPECT_STREQ(names[i].GetText(), expected[i]);
        const Name copy(names[i]);
        Name assigned("literal");
        assigned = names[i];
        EXPECT_STREQ(copy.GetText(), expected[i]);
        EXPECT_STREQ(assigned.GetText(), expected[i]);
        EXPECT_TRUE(copy == names[i]);
    }
}

TEST(NameStorage, EveryEmptyNameIsEqual)
{
    const Name runtime[] = {Name(), Name(std::string_view()), Name(std::string_view("")), Name(std::u16string_view()),
                            Name(std::u16string_view(u""))};
    const Name literal("");
    ExpectState(literal, {"", false, ComputeNameHash("", 1), literal.GetText()});
    for (const Name& name : runtime) {
        ExpectState(name, kEmptyRuntimeName);
        EXPECT_TRUE(name == literal);
        EXPECT_FALSE(name < literal || literal < name);
        EXPECT_TRUE(name < Name("a"));
    }
}

// Literal names of any length carry the hash of their text and NUL, also
// when made at compile time.
const char kLongLiteral[] = "a literal name of more than sixteen bytes";
constexpr Name kConstantName("ObjectID");
constexpr Name kLongConstantName(kLongLiteral);

TEST(NameStorage, LiteralsKeepTheirHashAtAnyLength)
{
    static const char sixteen[] = "sixteen bytes..."; // 16 bytes
    static const char fifteen[] = "fifteen bytes..";  // 15 bytes
    ExpectState(kConstantName, {"ObjectID", false, ComputeNameHash("ObjectID", 9), kConstantName.GetText()});
    ExpectState(kLongConstantName,
                {kLongLiteral, false, ComputeNameHash(kLongLiteral, sizeof kLongLiteral), kLongConstantName.GetText()});
    for (const Name& name : {Name(sixteen), Name(fifteen)})
        EXPECT_EQ(name.GetHash(), ComputeNameHash(name.GetText(), int(std::strlen(name.GetText()) + 1)));
    EXPECT_EQ(Name(sixteen).GetText(), sixteen);
    EXPECT_NE(Name(sixteen).GetHash(), Name(fifteen).GetHash());
}

// Names of every kind, each made afresh: literals, runtime names held inside
// (up to the room's edge) and on the heap, and the empty runtime name.
const struct
{
    const char* label;
    Name (*make)();
} kSamples[] = {
    {"literal", [] { return Name("Pattern"); }},
    {"long literal", [] { return Name(kLongLiteral); }},
    {"empty", [] { return Name(); }},
    {"inline", [] { return Name(std::string_view("Items")); }},
    {"inline, 15 bytes", [] { return Name(std::string_view("fifteen bytes..")); }},
    {"heap, 16 bytes", [] { return Name(std::string_view("sixteen bytes...")); }},
    {"heap", [] { return Name(std::string_view("a runtime name beyond the room inside")); }},
};

// After a move, an owning source is the empty runtime name and a literal
// source is unchanged; either can be given a new value.
void ExpectMovedFrom(Name& source, const NameState& before)
{
    ExpectState(source, before.owns ? kEmptyRuntimeName : before);
    source = Name(std::string_view("a new value for a moved-from name"));
    EXPECT_STREQ(source.GetText(), "a new value for a moved-from name");
}

TEST(NameCopyAndMove, CopiesFollowTheSourceWhateverTheTargetHeld)
{
    for (const auto& sample : kSamples) {
        const Name source = sample.make();
        const NameState state = StateOf(source);
        const Name constructed(source);
        ExpectState(constructed, state);
        for (const auto& before : kSamples) {
            SCOPED_TRACE(std::string(sample.label) + " over " + before.label);
            Name assigned = before.make();
            assigned = source;
            ExpectState(assigned, state);
            ExpectState(source, state);
            if (state.owns) {
                EXPECT_NE(assigned.GetText(), source.GetText());
            }
        }
    }
}

TEST(NameCopyAndMove, MovesFollowTheSourceWhateverTheTargetHeld)
{
    // Moves a fresh sample into a name with `move`; the target has the
    // source's state, takes a heap copy over instead of copying it, and the
    // source is left as a moved-from name.
    auto expectMove = [](const auto& sample, auto move) {
        Name source = sample.make();
        const NameState state = StateOf(source);
        const char* const text = source.GetText();
        const Name target = move(source);
        ExpectState(target, state);
        if (!HeldInside(target)) {
            EXPECT_EQ(target.GetText(), text);
        }
        ExpectMovedFrom(source, state); // NOLINT: checking the moved-from state
    };
    for (const auto& sample : kSamples) {
        SCOPED_TRACE(sample.label);
        expectMove(sample, [](Name& source) { return Name(std::move(source)); });
        for (const auto& before : kSamples) {
            SCOPED_TRACE(std::string("over ") + before.label);
            expectMove(sample, [&before](Name& source) {
                Name assigned = before.make();
                assigned = std::move(source);
                return assigned;
            });
        }
    }
}

TEST(NameCopyAndMove, SelfAssignmentChangesNothing)
{
    for (const auto& sample : kSamples) {
        SCOPED_TRACE(sample.label);
        Name name = sample.make();
        const NameState state = StateOf(name);
        const char* const text = name.GetText();
        Name& alias = name;
        name = alias;
        ExpectState(name, state);
        EXPECT_EQ(name.GetText(), text);
        name = std::move(alias);
        ExpectState(name, state);
        EXPECT_EQ(name.GetText(), text);
    }
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
