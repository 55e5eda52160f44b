#include "enterprise/serialize/base64_decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

using Serialization::Base64DecodedCapacity;
using Serialization::Base64Stream;
using Serialization::DecodeBase64;
using Serialization::kBase64ClassTable;
using Serialization::MeasureBase64;

// Decodes `text` piece by piece through a Base64Stream, `piece` bytes per read.
template <typename Text>
std::string Stream(const Text& text, size_t size, size_t piece)
{
    Base64Stream<typename Text::value_type> stream(text.data(), text.data() + text.size(), kBase64ClassTable.data());
    std::string bytes;
    for (size_t at = 0; at < size; at += piece) {
        uint8_t buffer[16];
        const size_t want = std::min(piece, size - at);
        EXPECT_EQ(stream.Read(buffer, want), want);
        bytes.append(reinterpret_cast<const char*>(buffer), want);
    }
    uint8_t beyond = 0;
    EXPECT_EQ(stream.Read(&beyond, 1), 0u) << "read past the end of the data";
    return bytes;
}

// Decodes `text`; false when DecodeBase64 refused it. Checks that no byte is
// written beyond the capacity promised for the text length, that MeasureBase64
// says the same, and that the text read in pieces of any size gives the same
// bytes.
bool Decode(const std::u16string& text, std::string& bytes)
{
    const size_t capacity = Base64DecodedCapacity(text.size());
    std::vector<uint8_t> buffer(capacity + 16, 0xA5);
    const uint8_t* end = DecodeBase64(buffer.data(), text.data(), text.data() + text.size(), kBase64ClassTable.data());
    for (size_t i = capacity; i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], 0xA5) << "written beyond the capacity";
    uint64_t measured = 0;
    const bool valid = MeasureBase64(text.data(), text.data() + text.size(), kBase64ClassTable.data(), measured);
    EXPECT_EQ(valid, end != nullptr);
    if (end == nullptr)
        return false;
    EXPECT_LE(static_cast<size_t>(end - buffer.data()), capacity);
    bytes.assign(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(end - buffer.data()));
    EXPECT_EQ(measured, bytes.size());
    // Units below U+0100 are also kept one per byte.
    const bool narrow = std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x100; });
    const std::string narrowed(text.begin(), text.end());
    for (size_t piece : {1, 2, 3, 4, 5, 7, 16}) {
        EXPECT_EQ(Stream(text, bytes.size(), piece), bytes) << "in pieces of " << piece;
        if (narrow) {
            EXPECT_EQ(Stream(narrowed, bytes.size(), piece), bytes) << "narrow, in pieces of " << piece;
        }
    }
    return true;
}

std::u16string Wide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

std::string FromHex(const std::string& hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// Random bytes and their Base64 form as python's base64.b64encode writes it.
struct Vector
{
    const char* hex;
    const char* base64;
};
const Vector kVectors[] = {
    {"", ""},
    {"a5", "pQ=="},
    {"4dca", "Tco="},
    {"182530", "GCUw"},
    {"bb1d6d13", "ux1tEw=="},
    {"2cded6237b", "LN7WI3s="},
    {"2ed91e3f721f", "LtkeP3If"},
    {"cb1971174494d6", "yxlxF0SU1g=="},
    {"493c9d5c3460be31", "STydXDRgvjE="},
    {"201e69fedaa0eee8b9", "IB5p/tqg7ui5"},
    {"997f5c7c2999fdafe593", "mX9cfCmZ/a/lkw=="},
    {"253cd654af4dfad71427a0", "JTzWVK9N+tcUJ6A="},
    {"aeb3fee9232f8af2211f9ee4", "rrP+6SMvivIhH57k"},
    {"91c5b10becb5563bfc1e6f9342", "kcWxC+y1Vjv8Hm+TQg=="},
    {"7ecbc8fe2955e5cd8e46dc8ed4b7", "fsvI/ilV5c2ORtyO1Lc="},
    {"c2764d2a5a4d767706f85d8690024a", "wnZNKlpNdncG+F2GkAJK"},
    {"d6bda3401be9c8cbccc935f6cd1f6122", "1r2jQBvpyMvMyTX2zR9hIg=="},
    {"6ae15338ae1a34004d33ba0d246ac04c81", "auFTOK4aNABNM7oNJGrATIE="},
    {"b1baf23e3bf9eef5f79f2b4934af87f5520b", "sbryPjv57vX3nytJNK+H9VIL"},
    {"69b94b0d982e85bb55b672a872637acd7466fc", "ablLDZguhbtVtnKocmN6zXRm/A=="},
    {"b60e0e8ff18463b0e4b2ba29703474f064ac68f700f5b02b3dc666f45bdeaa", "tg4Oj/GEY7DksropcDR08GSsaPcA9bArPcZm9Fveqg=="},
    {"2ccaedcd2b5157410e4dee4af2b34f430a073447de636c0e806c957ba684d643",
     "LMrtzStRV0EOTe5K8rNPQwoHNEfeY2wOgGyVe6aE1kM="},
    {"1fb5ead7424d09e15d024c5848f23d1fa6f7361d7f618d1532e70e20e2a6668de7",
     "H7Xq10JNCeFdAkxYSPI9H6b3Nh1/YY0VMucOIOKmZo3n"},
    {"f47e8467e546d53ec8e2a1257bdb256c9b3e4fbb498146ef7030cbf9537252dcceadd764b6a32fbb09adeae109c4a9",
     "9H6EZ+VG1T7I4qEle9slbJs+T7tJgUbvcDDL+VNyUtzOrddktqMvuwmt6uEJxKk="},
    {"97203975352b878b145c8a42d884cf4cfda72d8e1d5dd92589082d852a7122873ee805add58942167a385286195c679f",
     "lyA5dTUrh4sUXIpC2ITPTP2nLY4dXdkliQgthSpxIoc+6AWt1YlCFno4UoYZXGef"},
    {"9c6994e45b8ab1098012070961f37de436ddfdc99d6e75af6547cfb11b42072482dc531c2bc3907c9617eb5e5089e40186baa8a57d119e6fb"
     "65d00abc32af38e",
     "nGmU5FuKsQmAEgcJYfN95Dbd/cmdbnWvZUfPsRtCBySC3FMcK8OQfJYX615QieQBhrqopX0Rnm+2XQCrwyrzjg=="},
    {"667f022e872d49cc15c90b999b772b4fc7a6fd4c914a16db4708752b0f1544b835c0e719097dfa8701e9232f21f2812687786976ebfcc327f"
     "5931765274ba9829b4406f61ff889326ffa9492edeeee3c669f2bf20894ea27e689c66b6b262e4886b8438f",
     "Zn8CLoctScwVyQuZm3crT8em/UyRShbbRwh1Kw8VRLg1wOcZCX36hwHpIy8h8oEmh3hpduv8wyf1kxdlJ0upgptEBvYf+Ikyb/"
     "qUku3u7jxmnyvyCJTqJ+aJxmtrJi5IhrhDjw=="},
};

TEST(DecodeBase64, AgreesWithReferenceEncodings)
{
    for (const Vector& v : kVectors) {
        std::string bytes;
        ASSERT_TRUE(Decode(Wide(v.base64), bytes)) << v.base64;
        EXPECT_EQ(bytes, FromHex(v.hex)) << v.base64;
    }
}

TEST(DecodeBase64, WhiteSpaceAnywhereChangesNothing)
{
    std::mt19937 random(5);
    const char kWhite[] = {' ', '\t', '\r', '\n'};
    for (const Vector& v : kVectors) {
        const std::string plain = v.base64;
        for (int round = 0; round < 8; ++round) {
            std::string spaced;
            for (size_t i = 0; i <= plain.size(); ++i) {
                while (random() % 3 == 0)
                    spaced.push_back(kWhite[random() % 4]);
                if (i < plain.size())
                    spaced.push_back(plain[i]);
            }
            std::string bytes;
            ASSERT_TRUE(Decode(Wide(spaced), bytes)) << spaced;
            EXPECT_EQ(bytes, FromHex(v.hex)) << spaced;
        }
    }
}

TEST(DecodeBase64, FillForms)
{
    struct Case
    {
        const char* text;
        bool valid;
        const char* hex;
    } cases[] = {
        {"QQ==", true, "41"},    {"QUI=", true, "4142"}, {"QQ = \n=", true, "41"}, {"QUI= \t\r\n", true, "4142"},
        {"QQ=", false, ""},                                                // two characters need two fills
        {"QQ=x", false, ""},                                               // something other than the second fill
        {"QUI==", false, ""},                                              // three characters take one fill
        {"QQ", false, ""},                                                 // group cut short without fill
        {"QUI", false, ""},      {"Q", false, ""},       {"=", false, ""}, // fill in the first place of a group
        {"QUJD=", false, ""},    {"Q===", false, ""},                      // fill in the second place
        {"QQ==QQ==", false, ""},                                           // data after the fill
        {"QQ===", false, ""},    {"", true, ""},         {" \t\r\n", true, ""},
    };
    for (const Case& c : cases) {
        std::string bytes;
        EXPECT_EQ(Decode(Wide(c.text), bytes), c.valid) << c.text;
        if (c.valid) {
            EXPECT_EQ(bytes, FromHex(c.hex)) << c.text;
        }
    }
}

TEST(DecodeBase64, CharactersOutsideTheAlphabetFail)
{
    const std::u16string cases[] = {u"QU-B",      u"QU_B",  u"QU.B",  u"QU\u00C4B",
                                    u"QU\u0141B", u"QU\vB", u"QU\fB", u"QU\u0100"};
    for (const std::u16string& text : cases) {
        std::string bytes;
        EXPECT_FALSE(Decode(text, bytes));
    }
    // A unit whose low byte is a valid character is still refused.
    std::string bytes;
    EXPECT_FALSE(Decode(std::u16string{u'Q', u'Q', static_cast<char16_t>(0x0141), u'='}, bytes));
    EXPECT_FALSE(Decode(std::u16string{u'Q', u'Q', static_cast<char16_t>(0x3D3D), u'='}, bytes));
}

} // namespace
