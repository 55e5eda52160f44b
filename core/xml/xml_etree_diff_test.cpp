// Differential test: a generated corpus of documents is read by this reader
// and by python3's xml.etree.ElementTree, and both must give the same
// elements, attributes and text pieces. The corpus keeps to the documents on
// which both readers agree by design: raw white space in content is single
// blanks that the normalisation keeps (none at the start of an element's
// content, none at its end, never two in a row), attribute values have no raw
// white space at their ends, names have no ':'.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/xml/xml_test_support.h"
#include "testing/temporary_folder.h"

namespace {

class DocumentGenerator
{
public:
    explicit DocumentGenerator(uint32_t seed) : m_random(seed) {}

    std::string Document()
    {
        std::string out;
        if (Chance(4))
            out += "\xEF\xBB\xBF";
        if (Chance(2))
            out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        if (Chance(4))
            out += "<!DOCTYPE root>\n";
        if (Chance(3))
            out += Comment() + "\n";
        out += Element(0);
        if (Chance(3))
            out += "\n" + Comment();
        if (Chance(4))
            out += "\n<?after x?>\n";
        return out;
    }

private:
    uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(m_random() % bound); }
    bool Chance(uint32_t oneIn) { return Below(oneIn) == 0; }

    std::string Name()
    {
        static const char kStart[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_";
        static const char kRest[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_0123456789.-";
        std::string name(1, kStart[Below(sizeof(kStart) - 1)]);
        for (uint32_t n = Below(6); n > 0; --n)
            name.push_back(kRest[Below(sizeof(kRest) - 1)]);
        return name;
    }

    // One character of text: never white space, '<', '&' or ']'.
    std::string TextCharacter(char quote)
    {
        static const char* const kSpecial[] = {
            "\xC3\xA9",     "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xC3\x9F", "\xE3\x81\x82", ">", "\"", "'",
            "\xEF\xBB\xBF", "\x7F"};
        for (;;) {
            std::string c;
            if (Chance(5))
                c = kSpecial[Below(sizeof(kSpecial) / sizeof(kSpecial[0]))];
            else
                c = std::string(1, static_cast<char>(0x21 + Below(0x7E - 0x21)));
            if (c == "<" || c == "&" || c == "]" || (quote != 0 && c[0] == quote))
                continue;
            return c;
        }
    }

    std::string Word(char quote)
    {
        std::string out;
        for (uint32_t n = 1 + Below(6); n > 0; --n)
            out += TextCharacter(quote);
        return out;
    }

    std::string Reference()
    {
        static const char* const kEntities[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
        static const uint32_t kCodePoints[] = {0x20, 0x09, 0x0A, 0x41, 0xE9, 0x20AC, 0x1F600, 0x10FFFF, 0xFEFF, 0x7F};
        if (Chance(2))
            return kEntities[Below(5)];
        const uint32_t value = kCodePoints[Below(sizeof(kCodePoints) / sizeof(kCodePoints[0]))];
        std::ostringstream text;
        if (Chance(2))
            text << "&#" << value << ";";
        else
            text << "&#x" << std::hex << (Chance(2) ? std::uppercase : std::nouppercase) << value << ";";
        return text.str();
    }

    std::string Comment()
    {
        std::string body = " ";
        for (uint32_t n = Below(4); n > 0; --n)
            body += Word(0) + (Chance(2) ? " - " : " ");
        return "<!--" + body + "-->";
    }

    std::string Cdata()
    {
        static const char* const kPieces[] = {" ", "\t", "\n", "\r\n", "<", "&", "]", "x", "\xC3\xA9", "  "};
        std::string out = "<![CDATA[";
        for (uint32_t n = Below(8); n > 0; --n)
            out += Chance(2) ? Word(0) : kPieces[Below(sizeof(kPieces) / sizeof(kPieces[0]))];
        // No '>' ever follows "]]" inside, so the section ends only here.
        return out + "]]>";
    }

    std::string AttributeValue(char quote)
    {
        std::string out;
        bool blank = true; // no blank at the start
        for (uint32_t n = Below(5); n > 0; --n) {
            if (!blank && Chance(3)) {
                out += " ";
                blank = true;
                continue;
            }
            out += Chance(3) ? Reference() : Word(quote);
            blank = false;
        }
        if (blank && !out.empty())
            out += Word(quote);
        return out;
    }

    std::string Element(int depth)
    {
        std::string out = "<";
        const std::string name = Name();
        out += name;
        std::vector<std::string> used;
        for (uint32_t n = Below(4); n > 0; --n) {
            std::string attribute = Name();
            bool duplicate = false;
            for (const std::string& u : used)
                duplicate = duplicate || u == attribute;
            if (duplicate)
                continue;
            used.push_back(attribute);
            const char quote = Chance(2) ? '"' : '\'';
            out += " " + attribute + (Chance(4) ? " = " : "=") + quote + AttributeValue(quote) + quote;
        }
        if (Chance(4))
            return out + (Chance(2) ? " />" : "/>");
        out += ">";
        bool atStart = true; // nothing significant since the start tag
        bool blank = false;  // the last significant item was a raw blank
        for (uint32_t n = Below(8); n > 0; --n) {
            switch (Below(8)) {
            case 0:
                if (!atStart && !blank) {
                    out += " ";
                    blank = true;
                }
                continue;
            case 1:
                out += Comment();
                continue;
            case 2:
                out += "<?pi data?>";
                continue;
            case 3:
                out += Reference();
                break;
            case 4:
                out += Cdata();
                break;
            case 5:
            case 6:
                if (depth < 5) {
                    out += Element(depth + 1);
                    break;
                }
                [[fallthrough]];
            default:
                out += Word(0);
                break;
            }
            atStart = false;
            blank = false;
        }
        if (blank)
            out += Word(0);
        return out + "</" + name + ">";
    }

    std::mt19937 m_random;
};

std::string Hex16(std::u16string_view text)
{
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (char16_t unit : text)
        for (int shift = 12; shift >= 0; shift -= 4)
            out.push_back(kHex[(unit >> shift) & 0xF]);
    return out;
}

// The form that the python script prints.
std::string Canonical(const xml_tag& tag)
{
    std::string out = "<";
    out += tag.name;
    for (const auto& [name, value] : tag.attributes)
        out.append(" ").append(name).append("=").append(Hex16(value.str()));
    out += " [" + Hex16(tag.Text.empty() ? std::u16string() : tag.Text[0].str()) + "]";
    for (size_t i = 0; i < tag.children.size(); ++i)
        out += Canonical(*tag.children[i]) + "[" +
            Hex16(i + 1 < tag.Text.size() ? tag.Text[i + 1].str() : std::u16string()) + "]";
    return out + ">";
}

const char kScript[] = R"(import sys
import xml.etree.ElementTree as ET

def hx(s):
    return (s or '').encode('utf-16-be').hex()

def canonical(e):
    out = '<' + e.tag
    for k in sorted(e.attrib):
        out += ' ' + k + '=' + hx(e.attrib[k])
    out += ' [' + hx(e.text) + ']'
    for c in e:
        out += canonical(c) + '[' + hx(c.tail) + ']'
    return out + '>'

folder, count = sys.argv[1], int(sys.argv[2])
with open(folder + '/expected.txt', 'w', encoding='ascii') as out:
    for i in range(count):
        try:
            out.write(canonical(ET.parse('%s/doc%d.xml' % (folder, i)).getroot()) + '\n')
        except Exception:
            out.write('ERROR\n')
)";

TEST(XmlDifferential, SameTreesAsPythonElementTree)
{
    if (std::system("python3 -c \"import xml.etree.ElementTree\" >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3 with xml.etree is not available";

    const Testing::TemporaryFolder scratch("xml_etree_diff");
    const std::filesystem::path folder = scratch.Path();

    constexpr int kCount = 400;
    DocumentGenerator generator(20240611);
    std::vector<std::string> documents;
    for (int i = 0; i < kCount; ++i) {
        documents.push_back(generator.Document());
        std::ofstream(folder / ("doc" + std::to_string(i) + ".xml"), std::ios::binary) << documents.back();
    }
    std::ofstream(folder / "canonical.py") << kScript;
    const std::string command = "python3 '" + (folder / "canonical.py").string() + "' '" + folder.string() + "' " +
        std::to_string(kCount);
    ASSERT_EQ(std::system(command.c_str()), 0);

    std::ifstream expected(folder / "expected.txt");
    int compared = 0;
    for (int i = 0; i < kCount; ++i) {
        std::string line;
        ASSERT_TRUE(std::getline(expected, line)) << i;
        XmlTest::Loaded loaded;
        XmlTest::Load(loaded, documents[i]);
        ASSERT_NE(line, "ERROR") << "python refused document " << i << ":\n" << documents[i];
        EXPECT_TRUE(loaded.ok) << "document " << i << " at " << loaded.line << ":" << loaded.column << ":\n"
                               << documents[i];
        if (loaded.ok && loaded.root != nullptr) {
            EXPECT_EQ(Canonical(*loaded.root), line) << "document " << i << ":\n" << documents[i];
            ++compared;
        }
    }
    EXPECT_EQ(compared, kCount);
}

} // namespace
