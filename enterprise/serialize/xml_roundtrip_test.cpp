// Texts written by the packet serializer come back unchanged from the XML
// document reader: every form the writer chooses (plain, references, CDATA
// with CR LF) survives the reader's white-space normalisation.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/file/buf_ifile.h"
#include "core/xml/xml_document.h"
#include "enterprise/serialize/xml_packet_serializer.h"

namespace {

using Serialization::MetaInfo;
using Serialization::XMLPacketSerializer;

std::u16string Widen(const std::string& text)
{
    std::u16string wide;
    for (unsigned char c : text)
        wide.push_back(c);
    return wide;
}

std::string Hex(std::u16string_view text)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char16_t unit : text) {
        for (int shift = 12; shift >= 0; shift -= 4)
            out.push_back(kHex[(unit >> shift) & 0xF]);
        out.push_back(' ');
    }
    return out;
}

// Writes each text as one element "w" (UTF-16) and each narrow text as one
// element "s" (8-bit), reads the packet back and compares the texts.
void CheckRoundTrip(const std::vector<std::u16string>& wide, const std::vector<std::string>& narrow)
{
    XMLPacketSerializer serializer(2, 0);
    for (const std::u16string& text : wide)
        serializer.Write(MetaInfo("w"), text);
    for (const std::string& text : narrow)
        serializer.Write(MetaInfo("s"), text);
    std::vector<unsigned char> packet;
    serializer.GetData(packet);

    buf_ifile<char> source(reinterpret_cast<const char*>(packet.data()), packet.size());
    xml_tag* root = nullptr;
    int32_t line = 0;
    int32_t column = 0;
    ASSERT_TRUE(load_xml_document(root, source, line, column)) << "at " << line << ":" << column;
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->children.size(), wide.size() + narrow.size());
    for (size_t i = 0; i < wide.size(); ++i)
        EXPECT_EQ(Hex(root->children[i]->Text[0].str()), Hex(wide[i])) << "UTF-16 text " << i;
    for (size_t i = 0; i < narrow.size(); ++i)
        EXPECT_EQ(Hex(root->children[wide.size() + i]->Text[0].str()), Hex(Widen(narrow[i]))) << "8-bit text " << i;
    free_xml_tag(root);
    delete root;
}

TEST(XmlRoundTrip, EveryTextRuleCase)
{
    const std::vector<std::string> narrow = {
        "",
        "abc",
        " a",
        "a ",
        "a b",
        "a  b",
        "a   b",
        " ",
        "  ",
        "a\tb",
        "<&>",
        "\"'\x7F",
        std::string("a\0b", 3),
        "x\ny",
        "\n",
        " a\n b <&\t",
        "x\ny]]>",
        "x\ny]]",
        "x\ny] ]>",
        "x\r\ny",
        "x\n\x01",
        "x \n y",
        "a \x01 b",
        "\xE9",
        "\x80\xFF",
        "\xFF\n",
        "\r",
        "\n\n",
        "\r\n",
        " \n ",
        "]]>",
        "a\t",
        "\t\n\t",
        "  a  b  ",
    };
    std::vector<std::u16string> wide;
    for (const std::string& text : narrow)
        wide.push_back(Widen(text));
    const std::u16string more[] = {
        u"\u00E9",
        u"\u07FF\u0800",
        u"\xD83D\xDE00",
        u"\xDBFF\xDFFF",
        u"\xD83D",
        u"\xDE00",
        u"a\xD83D"
        u"b",
        u"\xDE00\xD83D",
        u"\xFFFF",
        u"\xFFFE",
        u"\xFFFD",
        u"\xD83D\xDE00\n",
        u"\xD83D\n",
        u"\xFFFF\n",
        u"a \xD83D\xDE00",
        u"\uFEFF",
        u"\uFEFF\n",
        u"\u2028 \u00A0",
    };
    wide.insert(wide.end(), std::begin(more), std::end(more));
    CheckRoundTrip(wide, narrow);
}

TEST(XmlRoundTrip, RandomTexts)
{
    std::mt19937 random(11);
    const char16_t kInteresting[] = {u' ',   u'\t',  u'\n',  u'\r',  0,      1,      0x1F,  u'<',   u'&',
                                     u'>',   u']',   u'"',   u'\'',  0x7F,   0x80,   0xFF,  0xD800, 0xDBFF,
                                     0xDC00, 0xDFFF, 0xFFFE, 0xFFFF, 0xFEFF, 0x3000, 0x00A0};
    std::vector<std::u16string> wide;
    std::vector<std::string> narrow;
    for (int i = 0; i < 3000; ++i) {
        std::u16string text;
        for (uint32_t n = random() % 16; n > 0; --n) {
            switch (random() % 4) {
            case 0:
                text.push_back(kInteresting[random() % (sizeof(kInteresting) / sizeof(kInteresting[0]))]);
                break;
            case 1:
                text.push_back(static_cast<char16_t>(random() % 0x10000));
                break;
            default:
                text.push_back(static_cast<char16_t>(0x20 + random() % 0x5F));
                break;
            }
        }
        if (i % 2 == 0) {
            wide.push_back(text);
        } else {
            std::string bytes;
            for (char16_t unit : text)
                bytes.push_back(static_cast<char>(unit & 0xFF));
            narrow.push_back(bytes);
        }
    }
    CheckRoundTrip(wide, narrow);
}

} // namespace
