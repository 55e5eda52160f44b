// Packets checked by independent tools: xmllint must accept them, python3's
// ElementTree must read every text back unchanged, and coreutils base64 must
// decode the error blobs. Each test skips when its tool is missing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "core/common/error.h"
#include "core/common/error_blob.h"
#include "core/common/location.h"
#include "enterprise/serialize/xml_packet_serializer.h"
#include "testing/temporary_folder.h"

namespace Serialization {
namespace {

constexpr Common::SourceFile kSource("enterprise/serialize/xml_packet_tools_test");

bool HasTool(const char* name)
{
    std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

int RunCommand(const std::string& command)
{
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A code point that XML 1.0 allows, biased toward the characters the text
// rules treat specially.
uint32_t RandomCharacter(std::mt19937& random, bool latin1)
{
    static const uint32_t kSpecial[] = {' ', ' ', ' ', '\n', '\n', '\t', '\r', '<',  '&',
                                        '>', ']', '"', '\'', 0x7F, 0x85, 0xA0, 0xE9, 0xFF};
    switch (random() % 4) {
    case 0:
    case 1:
        return kSpecial[random() % std::size(kSpecial)];
    case 2:
        return 0x20 + random() % (latin1 ? 0xE0 : 0x60);
    default:
        if (latin1)
            return 0x20 + random() % 0xE0;
        switch (random() % 3) {
        case 0:
            return 0xA0 + random() % (0xD800 - 0xA0);
        case 1:
            return 0xE000 + random() % (0xFFFE - 0xE000);
        default:
            return 0x10000 + random() % (0x110000 - 0x10000);
        }
    }
}

std::u16string RandomText(std::mt19937& random, bool latin1)
{
    std::u16string text;
    size_t length = random() % 24;
    while (text.size() < length) {
        uint32_t c = RandomCharacter(random, latin1);
        size_t size = text.size();
        if (c == '>' && size >= 2 && text[size - 1] == ']' && text[size - 2] == ']')
            continue;
        if (c >= 0x10000) {
            text.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            text.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            text.push_back(static_cast<char16_t>(c));
        }
    }
    return text;
}

// The text as a JSON string literal (every non-ASCII unit escaped).
std::string Json(const std::u16string& text)
{
    std::string out = "\"";
    for (char16_t unit : text) {
        if (unit >= 0x20 && unit < 0x7F && unit != '"' && unit != '\\') {
            out.push_back(static_cast<char>(unit));
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(unit));
            out += escape;
        }
    }
    return out + "\"";
}

// Compares the texts of the root's children, and the trait values, with the
// expected list.
const char kCheckScript[] = R"(
import json, sys
import xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
expected = json.load(open(sys.argv[2], encoding='ascii'))
texts = []
for element in root:
    texts.append(element.text or '')
    for trait in element.iter('trait'):
        texts.append(trait.text or '')
if root.tag != 'XML_SERIALIZER' or texts != expected:
    for i, (a, b) in enumerate(zip(texts, expected)):
        if a != b:
            print('mismatch at', i, repr(a), repr(b))
    print(len(texts), len(expected))
    sys.exit(1)
)";

TEST(XmlPacketTools, GeneratedTextsAreWellFormedAndReadBackUnchanged)
{
    if (!HasTool("xmllint") || !HasTool("python3"))
        GTEST_SKIP() << "xmllint or python3 missing";
    const Testing::TemporaryFolder dir("xml_packet");

    std::mt19937 random(7);
    XMLPacketSerializer serializer(2, 0);
    std::string expected = "[";
    std::vector<std::string> traitValues;
    auto addExpected = [&](const std::u16string& text) { expected += (expected.size() > 1 ? "," : "") + Json(text); };
    for (int i = 0; i < 2000; ++i) {
        bool latin1 = i % 3 == 0;
        std::u16string text = RandomText(random, latin1);
        if (i % 50 == 0)
            text = u"x\ny"; // make sure the CDATA form is among them
        if (latin1) {
            std::string narrow(text.begin(), text.end());
            if (i % 9 == 0) {
                // Trait values follow the same 8-bit rules.
                traitValues.push_back(narrow);
                MetaInfo meta("t");
                meta.primaryTraits = std::make_shared<MetaInfoTraitList>(
                    MetaInfoTraitList{{"n", "StringValue", traitValues.back().c_str()}});
                serializer.Write(meta, std::string("a"));
                addExpected(u"a");
                addExpected(text);
                continue;
            }
            serializer.Write(MetaInfo("s"), narrow);
        } else {
            serializer.Write(MetaInfo("w"), text);
        }
        addExpected(text);
    }
    expected += "]";
    std::vector<unsigned char> packet;
    serializer.GetData(packet);

    dir.Write("packet.xml", std::string(packet.begin(), packet.end()));
    dir.Write("expected.json", expected);
    dir.Write("check.py", kCheckScript);
    EXPECT_EQ(RunCommand("xmllint --noout '" + dir.PathOf("packet.xml") + "'"), 0);
    EXPECT_EQ(RunCommand("python3 '" + dir.PathOf("check.py") + "' '" + dir.PathOf("packet.xml") + "' '" +
                         dir.PathOf("expected.json") + "'"),
              0);
}

TEST(XmlPacketTools, ErrorBase64DecodesToTheErrorBlob)
{
    if (!HasTool("base64"))
        GTEST_SKIP() << "base64 missing";
    const Testing::TemporaryFolder dir("xml_packet");

    Common::Error cause(0x40001, u"Datei \u00E9 \U0001F600", kSource.At("Cause", 12));
    Common::Error error(0x9C0002, "outer <&> text", kSource.At("Outer", 34));
    error.AddCause(cause);
    error.AddPosixError(2);

    for (const Common::Error& value : {error, Common::Error()}) {
        XMLPacketSerializer serializer(2, 0);
        serializer.Write(MetaInfo(""), value);
        std::vector<unsigned char> packet;
        serializer.GetData(packet);
        std::string text(packet.begin() + 19, packet.end() - 17);
        dir.Write("error.b64", text);
        ASSERT_EQ(RunCommand("base64 -d '" + dir.PathOf("error.b64") + "' > '" + dir.PathOf("error.bin") + "'"), 0);

        uint32_t size = 0;
        std::unique_ptr<unsigned char[]> blob(Common::SerializeError(value, size));
        EXPECT_EQ(ReadFile(dir.PathOf("error.bin")), std::string(reinterpret_cast<char*>(blob.get()), size));
    }
}

} // namespace
} // namespace Serialization
