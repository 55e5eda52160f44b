#include "core/xml/xml_document.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/file/buf_ifile.h"
#include "core/xml/binary_xml_test_support.h"
#include "core/xml/xml_test_support.h"

namespace {

using XmlTest::Describe;
using XmlTest::Load;
using XmlTest::Loaded;
using XmlTest::TrickleSource;

struct ShapeCase
{
    const char* what;
    std::string input;
    std::string tree;
};

void CheckShapes(const std::vector<ShapeCase>& cases)
{
    for (const ShapeCase& c : cases) {
        Loaded loaded;
        Load(loaded, c.input);
        EXPECT_TRUE(loaded.ok) << c.what << " failed at " << loaded.line << ":" << loaded.column;
        ASSERT_NE(loaded.root, nullptr) << c.what;
        EXPECT_EQ(Describe(*loaded.root), c.tree) << c.what;
    }
}

// Checks the tree invariants: one more piece than children, parents set.
void CheckInvariants(const xml_tag& root)
{
    EXPECT_EQ(root.parent, nullptr) << root.name;
    const xml_tag* fault = XmlTest::FindShapeFault(root);
    EXPECT_EQ(fault, nullptr) << "invariant broken at " << (fault != nullptr ? fault->name.view() : "");
}

TEST(XmlTreeShape, TextPiecesSurroundTheChildren)
{
    CheckShapes({
        {"empty element", "<a/>", "a(\"\")"},
        {"empty pair", "<a></a>", "a(\"\")"},
        {"runs of blanks merge, ends drop", "<a> x  y </a>", "a(\"x y\")"},
        {"blank next to an empty child", "<a>x <b/> y</a>", "a(\"x \" b(\"\") \" y\")"},
        {"pretty-printed children", "<a>\n  <b/>\n  <c/>\n</a>", "a(\"\" b(\"\") \" \" c(\"\") \"\")"},
        {"nested text", "<a><b><c>t</c></b>u</a>", "a(\"\" b(\"\" c(\"t\") \"\") \"u\")"},
        {"tab, LF and CR between words", "<a>x\t\r\ny</a>", "a(\"x y\")"},
        {"names with all name characters", "<_A:b-c.9 z.-:_='1'/>", "_A:b-c.9(@z.-:_=\"1\" \"\")"},
    });
}

TEST(XmlTreeShape, PreserveKeepsWhiteSpaceAndIsInherited)
{
    CheckShapes({
        {"preserved content", "<a xml:space=\"preserve\"> x  y \n</a>", "a(@xml:space=\"preserve\" \" x  y \\u000A\")"},
        {"inherited by children, not switched off by another value",
         "<a xml:space='preserve'><b> x </b><c xml:space='default'> y </c></a>",
         "a(@xml:space=\"preserve\" \"\" b(\" x \") \"\" c(@xml:space=\"default\" \" y \") \"\")"},
        // The token right behind a child's end tag is still read under the
        // child's setting; the parent's setting applies from the next one.
        {"ends after the element", "<r><a xml:space='preserve'> </a> <b> x </b> </r>",
         "r(\"\" a(@xml:space=\"preserve\" \" \") \" \" b(\"x\") \"\")"},
        {"empty preserved child", "<r><a xml:space='preserve'/>  <b> x </b></r>",
         "r(\"\" a(@xml:space=\"preserve\" \"\") \"  \" b(\"x\") \"\")"},
        {"other value changes nothing", "<a xml:space='Preserve'> x </a>", "a(@xml:space=\"Preserve\" \"x\")"},
    });
}

TEST(XmlTreeShape, AttributeValues)
{
    CheckShapes({
        {"white space trimmed and merged", "<a k=' x \t\n y ' j=\"it's\" i='say \"hi\"'/>",
         "a(@i=\"say \\u0022hi\\u0022\" @j=\"it's\" @k=\"x y\" \"\")"},
        {"references", "<a k='&lt;&#65;&#x41;&amp;' l = \"a &gt; b\"/>", "a(@k=\"<AA&\" @l=\"a > b\" \"\")"},
        {"empty and blank-only values", "<a k='' l='   '/>", "a(@k=\"\" @l=\"\" \"\")"},
        {"byte-wise order of names", "<a b='1' B='2' ab='3' a='4'/>", "a(@B=\"2\" @a=\"4\" @ab=\"3\" @b=\"1\" \"\")"},
        {"referenced blanks stay", "<a k='x&#32;&#32;'/>", "a(@k=\"x  \" \"\")"},
    });
}

TEST(XmlTreeShape, EntitiesAndCharacterReferences)
{
    CheckShapes({
        {"the five entities", "<a>&amp;&apos;&gt;&lt;&quot;</a>", "a(\"&'><\\u0022\")"},
        {"decimal and hexadecimal", "<a>&#65;&#x41;&#x0061;&#00066;</a>", "a(\"AAaB\")"},
        {"astral character", "<a>&#x1F600;</a>", "a(\"\\uD83D\\uDE00\")"},
        {"zero, surrogate and last code point", "<a>&#0;&#xD800;&#x10FFFF;</a>", "a(\"\\u0000\\uD800\\uDBFF\\uDFFF\")"},
        {"blank before a reference", "<a>x &amp; y</a>", "a(\"x & y\")"},
    });
}

TEST(XmlTreeShape, CdataSections)
{
    CheckShapes({
        {"markup characters", "<a><![CDATA[<&]x]]]]></a>", "a(\"<&]x]]\")"},
        {"CR dropped, TAB and LF kept", "<a><![CDATA[a\r\nb\tc  d]]></a>", "a(\"a\\u000Ab\\u0009c  d\")"},
        {"pending blank in front", "<a>x <![CDATA[y]]> z</a>", "a(\"x y z\")"},
        {"empty section", "<a><![CDATA[]]></a>", "a(\"\")"},
    });
}

TEST(XmlTreeShape, CommentsInstructionsAndDoctypeAreSkipped)
{
    CheckShapes({
        {"prolog and epilog",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE a SYSTEM \"a.dtd\">\n<!-- c -->\n<a/>\n<!-- after -->\n"
         "<?pi?>\n",
         "a(\"\")"},
        {"inside content", "<a>x<!-- -- - -->y<?pi a?b?>z</a>", "a(\"xyz\")"},
        {"comment between blanks", "<a>x <!-- c --> y</a>", "a(\"x y\")"},
        {"unterminated comment after the root", "<a/><!-- open", "a(\"\")"},
        {"byte-order mark at the start", "\xEF\xBB\xBF<a/>", "a(\"\")"},
        {"byte-order mark in content", "<a>\xEF\xBB\xBF</a>", "a(\"\\uFEFF\")"},
        {"UTF-8 text", "<a>\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\x7F</a>", "a(\"\\u00E9\\u20AC\\uD83D\\uDE00\\u007F\")"},
        {"long runs around UTF-8", "<a>abcdefghijklmnop\xC3\xA9qrstuvw~\x7F!</a>",
         "a(\"abcdefghijklmnop\\u00E9qrstuvw~\\u007F!\")"},
    });
}

TEST(XmlTreeShape, InvariantsHoldForAMixedDocument)
{
    Loaded loaded;
    Load(loaded, "<r a='1'>t<x>u<y/>v</x>w<z/></r>");
    ASSERT_TRUE(loaded.ok);
    CheckInvariants(*loaded.root);
}

struct RejectCase
{
    const char* what;
    std::string input;
    int32_t line;
    int32_t column;
};

TEST(XmlRejection, BrokenDocumentsFailWithTheirPosition)
{
    const RejectCase cases[] = {
        {"empty input", "", 1, 1},
        {"only white space", "  \n ", 2, 2},
        {"duplicate attribute", "<a k='1' k='2'/>", 1, 10},
        {"mismatched end tag", "<a>\n  <b></c></a>", 2, 6},
        {"attribute inside an end tag", "<a></a x='1'>", 1, 8},
        {"attribute without '='", "<a k/>", 1, 5},
        {"'=' without quote", "<a k=1/>", 1, 5},
        {"bare '&'", "<a>x & y</a>", 1, 6},
        {"unknown entity", "<a>&nbsp;</a>", 1, 4},
        {"reference without ';'", "<a>&#65</a>", 1, 4},
        {"reference without digits", "<a>&#x;</a>", 1, 4},
        {"upper-case X", "<a>&#X41;</a>", 1, 4},
        {"reference beyond the last code point", "<a>&#x110000;</a>", 1, 4},
        {"huge decimal reference", "<a>&#99999999999999999999;</a>", 1, 4},
        {"text after the root", "<a/>x", 1, 5},
        {"second element", "<a/><b/>", 1, 5},
        {"NUL byte in content", std::string("<a>x\0</a>", 9), 1, 5},
        {"NUL byte after the root", std::string("<a/>\0", 5), 1, 5},
        {"control character", "<a>\x01</a>", 1, 4},
        {"'<' in a value", "<a k='<'/>", 1, 7},
        {"DOCTYPE with internal subset", "<!DOCTYPE a [<!ENTITY x 'y'>]><a/>", 1, 13},
        {"'<!' of no known form", "<a><!x></a>", 1, 4},
        {"name starting with a byte above 7F", "<\xC3\xA9/>", 1, 1},
        {"name continuing with a byte above 7F", "<a\xC3\xA9/>", 1, 3},
        {"unclosed root", "<a>", 1, 4},
        {"unclosed tag", "<a", 1, 3},
        {"unterminated comment inside the root", "<a><!-- x", 1, 10},
        {"text before the root", "x<a/>", 1, 1},
        {"end tag first", "</a>", 1, 1},
        {"signature letters followed by text", "BXM<a/>", 1, 1},
        {"byte-order mark later in the prolog", " \xEF\xBB\xBF<a/>", 1, 2},
        {"'/' not closing", "<a / >", 1, 4},
        {"TAB moves to the next multiple of 8", "<a>\n\t<b></c></a>", 2, 12},
    };
    for (const RejectCase& c : cases) {
        Loaded loaded;
        Load(loaded, c.input);
        EXPECT_FALSE(loaded.ok) << c.what;
        EXPECT_EQ(loaded.line, c.line) << c.what;
        EXPECT_EQ(loaded.column, c.column) << c.what;
    }
}

TEST(XmlRejection, InvalidUtf8PointsAtTheOffendingByte)
{
    const RejectCase cases[] = {
        {"truncated sequence in text", "<a>ab\xC3(</a>", 1, 6},
        {"lone continuation byte", "<a>\x80</a>", 1, 4},
        {"overlong two-byte form", "<a>x\xC0\x80</a>", 1, 5},
        {"overlong three-byte form", "<a>x\xE0\x80\x80</a>", 1, 5},
        {"surrogate", "<a>xy\xED\xA0\x80</a>", 1, 6},
        {"U+FFFE", "<a>\xEF\xBF\xBE</a>", 1, 4},
        {"U+FFFF", "<a>\xEF\xBF\xBF</a>", 1, 4},
        {"beyond U+10FFFF", "<a>\xF4\x90\x80\x80</a>", 1, 4},
        {"lead byte F5", "<a>\xF5\x80\x80\x80</a>", 1, 4},
        {"in an attribute value", "<a k='xyz\xFF'/>", 1, 10},
        {"in CDATA", "<a><![CDATA[ab\xC3]]></a>", 1, 15},
        {"after a pending blank", "<a>x \xC3</a>", 1, 6},
        {"behind a long ASCII run", "<a>abcdefghijklmnop\xC3(</a>", 1, 20},
        {"behind a long run in a value", "<a k='abcdefghij\xFF'/>", 1, 17},
    };
    for (const RejectCase& c : cases) {
        Loaded loaded;
        Load(loaded, c.input);
        EXPECT_FALSE(loaded.ok) << c.what;
        EXPECT_EQ(loaded.line, c.line) << c.what;
        EXPECT_EQ(loaded.column, c.column) << c.what;
    }
}

TEST(XmlRejection, NestingBeyondTheLimitFailsCleanly)
{
    auto nested = [](size_t depth) {
        std::string text;
        for (size_t i = 0; i < depth; ++i)
            text += "<e>";
        text += "x";
        for (size_t i = 0; i < depth; ++i)
            text += "</e>";
        return text;
    };
    {
        Loaded loaded;
        Load(loaded, nested(kMaxXmlDepth));
        EXPECT_TRUE(loaded.ok);
    }
    {
        Loaded loaded;
        Load(loaded, nested(kMaxXmlDepth + 1));
        EXPECT_FALSE(loaded.ok);
        EXPECT_EQ(loaded.column, static_cast<int32_t>(3 * kMaxXmlDepth + 1));
    }
    {
        Loaded loaded;
        Load(loaded, nested(100000));
        EXPECT_FALSE(loaded.ok);
    }
    {
        // Deep empty elements take the same bound.
        std::string text;
        for (size_t i = 0; i < kMaxXmlDepth; ++i)
            text += "<e>";
        text += "<e/>";
        Loaded loaded;
        Load(loaded, text);
        EXPECT_FALSE(loaded.ok);
    }
}

TEST(XmlLoad, LoadingFreesThePreviousTree)
{
    Loaded loaded;
    Load(loaded, "<a><b/></a>");
    ASSERT_TRUE(loaded.ok);
    Load(loaded, "<c/>");
    ASSERT_TRUE(loaded.ok);
    EXPECT_EQ(Describe(*loaded.root), "c(\"\")");
    Load(loaded, "");
    EXPECT_FALSE(loaded.ok);
    EXPECT_EQ(loaded.root, nullptr);
}

TEST(XmlLoad, PartialTreeStaysAfterAFailure)
{
    Loaded loaded;
    Load(loaded, "<a>x<b>y</b><c>");
    EXPECT_FALSE(loaded.ok);
    ASSERT_NE(loaded.root, nullptr);
    EXPECT_EQ(loaded.root->children.size(), 2u);
    CheckInvariants(*loaded.root);
}

TEST(XmlLoad, BinarySignatureLeavesTheSourceRightBehindIt)
{
    const std::string signatureOnly = "BXML";
    buf_ifile<char> bare(signatureOnly.data(), signatureOnly.size());
    xml_tag* root = nullptr;
    int32_t line = 0;
    int32_t column = 0;
    EXPECT_FALSE(load_xml_document(root, bare, line, column));
    EXPECT_EQ(bare.Move(0), 4u);
    EXPECT_EQ(line, 1);
    EXPECT_EQ(column, 1);
    free_xml_tag(root);
    delete root;

    // The binary reader continues right behind the signature.
    Loaded loaded;
    Load(loaded,
         std::string("BXML\x02\x00\x01\x01"
                     "a\x00\x02x\x00",
                     13));
    EXPECT_TRUE(loaded.ok);
    ASSERT_NE(loaded.root, nullptr);
    EXPECT_EQ(Describe(*loaded.root), "a(\"x\")");
}

TEST(XmlLoad, FirstReadAsksForFourBytesThenWholeChunks)
{
    const std::string input = "<root>" + std::string(100000, 'x') + "</root>";
    TrickleSource source(input, 1 << 30);
    xml_tag* root = nullptr;
    int32_t line = 0;
    int32_t column = 0;
    EXPECT_TRUE(load_xml_document(root, source, line, column));
    ASSERT_GE(source.Requests().size(), 2u);
    EXPECT_EQ(source.Requests()[0], 4u);
    for (size_t i = 1; i < source.Requests().size(); ++i)
        EXPECT_EQ(source.Requests()[i], 0x8000u);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->Text[0].size(), 100000u);
    free_xml_tag(root);
    delete root;
}

TEST(XmlLoad, ShortReadsGiveTheSameTree)
{
    // Lexemes cut at every possible point by one-byte and odd-sized reads.
    const std::string input =
        "\xEF\xBB\xBF<?xml version='1.0'?><!DOCTYPE r><!--c--><r k=' a  &amp; b ' l=\"&#x1F600;\">x  "
        "\xE2\x82\xAC <c><![CDATA[ <]] \r\n]]></c>&#65;&lt;<d xml:space='preserve'> p </d> <e/></r><!--end-->";
    Loaded whole;
    Load(whole, input);
    ASSERT_TRUE(whole.ok);
    for (size_t step : {1u, 2u, 3u, 7u}) {
        TrickleSource source(input, step);
        xml_tag* root = nullptr;
        int32_t line = 0;
        int32_t column = 0;
        EXPECT_TRUE(load_xml_document(root, source, line, column)) << step;
        ASSERT_NE(root, nullptr);
        EXPECT_EQ(Describe(*root), Describe(*whole.root)) << step;
        free_xml_tag(root);
        delete root;
    }
}

// Loads `input` through a source with the given read limits.
struct TrickleLoad
{
    Loaded loaded;
    std::vector<uint64_t> requests;
};

void LoadTrickled(TrickleLoad& result, const std::string& input, const std::vector<size_t>& steps)
{
    TrickleSource source(input, steps);
    result.loaded.ok = load_xml_document(result.loaded.root, source, result.loaded.line, result.loaded.column);
    result.requests = source.Requests();
}

TEST(XmlLoad, ShortFirstReadsKeepTheSignatureAndVersion)
{
    using namespace BinaryXmlTest;
    const std::string end(1, '\0');
    const std::string inputs[] = {
        // Version 2 and version 1 documents, with strings longer than one read.
        Header(2) + Define(1, "root") + Define(2, "key") + Value2("value text") + end + Value2("first piece") +
            Define(3, "child") + end + Value2("inner") + end + Value2("after") + end,
        Header(1) + Define(1, "r") + '\x01' + Define(2, "k") + String1("attribute value") + Varint(2) +
            String1("before") + Define(3, "c") + '\0' + Varint(1) + String1("inside") + String1("after"),
        // Cut inside a string: fails the same way however it is delivered.
        Header(2) + Define(1, "root") + end + Value2("complete text").substr(0, 6),
        // Text documents, also shorter than the first four bytes.
        "<a x='1'>text</a>",
        "\xEF\xBB\xBF<a/>",
        "<a/",
        "BXM",
    };
    const std::vector<size_t> stepSets[] = {{1}, {2}, {3}, {1, 2}, {3, 1}, {2, 3, 1, 8}, {5, 1}};
    for (const std::string& input : inputs) {
        Loaded whole;
        Load(whole, input);
        const std::string expected = whole.root != nullptr ? Describe(*whole.root) : "(none)";
        for (const std::vector<size_t>& steps : stepSets) {
            TrickleLoad trickled;
            LoadTrickled(trickled, input, steps);
            const std::string what = XmlTest::Printable(std::u16string(input.begin(), input.end())) + " step " +
                std::to_string(steps[0]);
            EXPECT_EQ(trickled.loaded.ok, whole.ok) << what;
            EXPECT_EQ(trickled.loaded.line, whole.line) << what;
            EXPECT_EQ(trickled.loaded.column, whole.column) << what;
            EXPECT_EQ(trickled.loaded.root != nullptr ? Describe(*trickled.loaded.root) : "(none)", expected) << what;
            // Until four bytes are in, no request reaches past them.
            uint64_t asked = 0;
            for (size_t i = 0; i < trickled.requests.size() && asked < 4; ++i) {
                EXPECT_LE(asked + trickled.requests[i], 4u) << what;
                asked += std::min<uint64_t>({trickled.requests[i], steps[i % steps.size()]});
            }
        }
    }
}

TEST(XmlLoad, GeneratedDocumentsKeepTheirTreesAndPositions)
{
    // 2,000 generated documents: the digest of results, positions and trees
    // was taken from the reader before it read memory input in one piece and
    // joined words across blanks, and must not move. Each document read in
    // small pieces gives the same as read from memory.
    uint64_t all = 0xcbf29ce484222325ull;
    for (uint64_t seed = 0; seed < 2000; ++seed) {
        const std::string document = XmlTest::GenerateDocument(seed);
        Loaded whole;
        Load(whole, document);
        const uint64_t digest = XmlTest::LoadDigest(whole);
        all = (all ^ digest) * 0x100000001b3ull;
        if (seed % 10 == 0) {
            TrickleLoad trickled;
            LoadTrickled(trickled, document, {1, 5, 3, 7, 2});
            EXPECT_EQ(XmlTest::LoadDigest(trickled.loaded), digest) << document;
        }
    }
    EXPECT_EQ(all, 6606401733107411957ull);
}

TEST(XmlLoad, BorrowedTextGivesTheTreeOfACopy)
{
    // Results, positions and trees as from a copy, also for failing and
    // binary documents; the tree then refers to the caller's bytes.
    std::vector<std::string> documents{
        "<r k='v'>plain text<c>more</c></r>",
        "<r><c>broken</r>",
        BinaryXmlTest::Header(2) + BinaryXmlTest::Define(1, "root") + std::string(1, '\0'),
    };
    for (uint64_t seed = 0; seed < 200; ++seed)
        documents.push_back(XmlTest::GenerateDocument(seed));
    for (const std::string& document : documents) {
        Loaded copied;
        Load(copied, document);
        Loaded borrowed;
        Load(borrowed, document, XmlText::Borrowed);
        EXPECT_EQ(XmlTest::LoadDigest(borrowed), XmlTest::LoadDigest(copied)) << document;
    }
    const std::string& plain = documents[0];
    Loaded borrowed;
    Load(borrowed, plain, XmlText::Borrowed);
    ASSERT_TRUE(borrowed.ok);
    auto inPlain = [&](const Loaded& loaded) {
        const char* text = loaded.root->Text[0].narrow().data();
        return text >= plain.data() && text < plain.data() + plain.size();
    };
    EXPECT_TRUE(inPlain(borrowed)) << "the text where it lies";
    Loaded copied;
    Load(copied, plain);
    ASSERT_TRUE(copied.ok);
    EXPECT_FALSE(inPlain(copied)) << "the text in the tree's copy";
}

TEST(XmlLoad, AFaultAfterJoinedWordsKeepsTheWordsBeforeIt)
{
    // Words between single blanks are read as one text; a malformed byte in a
    // later word fails at that byte, and the words before it stay in the
    // partial tree as they did when every word was its own text.
    Loaded loaded;
    Load(loaded, "<a>one two th\xFFree</a>");
    EXPECT_FALSE(loaded.ok);
    EXPECT_EQ(loaded.line, 1);
    EXPECT_EQ(loaded.column, 14);
    ASSERT_NE(loaded.root, nullptr);
    EXPECT_EQ(Describe(*loaded.root), "a(\"one two\")");

    Loaded first;
    Load(first, "<a>o\xFFne two</a>");
    EXPECT_FALSE(first.ok);
    EXPECT_EQ(first.column, 5);
    ASSERT_NE(first.root, nullptr);
    EXPECT_EQ(Describe(*first.root), "a(\"\")");
}

TEST(XmlLoad, LexemesAcrossChunkBoundaries)
{
    // Put every kind of lexeme across the 32768-byte boundary of the second
    // read (the first read takes 4 bytes).
    const std::string pieces[] = {"<name-across/>", "&#x1F600;", "\xF0\x9F\x98\x80", "<![CDATA[xy]]>", "<!-- c -->",
                                  "k='v v'",        "</r>"};
    for (const std::string& piece : pieces) {
        for (size_t shift = 0; shift < piece.size(); ++shift) {
            std::string input = "<r>";
            const size_t boundary = 4 + 0x8000;
            const bool attribute = piece[0] == 'k';
            std::string head = attribute ? "<r " : "<r>";
            input = head + std::string(boundary - head.size() - shift - 1, attribute ? ' ' : 'x') + " " + piece;
            if (attribute)
                input += "/>";
            else if (piece != "</r>")
                input += "</r>";
            Loaded loaded;
            Load(loaded, input);
            EXPECT_TRUE(loaded.ok) << piece << " shift " << shift;
        }
    }
}

TEST(XmlLoad, PositionsCountEveryChunkAndEveryDelivery)
{
    // 20000 lines of 'x', TAB, LF take the failure beyond two chunk
    // boundaries; the last line puts it behind a TAB at column 8.
    std::string lines = "<a>";
    for (int i = 0; i < 20000; ++i)
        lines += "x\t\n";
    const RejectCase cases[] = {
        {"mismatched end tag", lines + "yy\t</b></a>", 20001, 9},
        {"invalid UTF-8", lines + "yy\tab\xC3(</a>", 20001, 11},
    };
    for (const RejectCase& c : cases) {
        for (size_t step : {size_t{1}, size_t{7}, size_t{0x8000}}) {
            TrickleSource source(c.input, step);
            xml_tag* root = nullptr;
            int32_t line = 0;
            int32_t column = 0;
            EXPECT_FALSE(load_xml_document(root, source, line, column)) << c.what << " " << step;
            EXPECT_EQ(line, c.line) << c.what << " " << step;
            EXPECT_EQ(column, c.column) << c.what << " " << step;
            free_xml_tag(root);
            delete root;
        }
    }
}

TEST(XmlLoad, SourceFailureFailsACompleteDocument)
{
    TrickleSource source("<a/>", 100, true);
    xml_tag* root = nullptr;
    int32_t line = 0;
    int32_t column = 0;
    EXPECT_FALSE(load_xml_document(root, source, line, column));
    ASSERT_NE(root, nullptr);
    free_xml_tag(root);
    delete root;
}

TEST(XmlLoad, LineAndColumnCountEveryByte)
{
    // CR and each byte of a multi-byte character count as one column.
    Loaded loaded;
    Load(loaded, "<a>\r\n\xC3\xA9\xE2\x82\xAC <b></c>");
    EXPECT_FALSE(loaded.ok);
    EXPECT_EQ(loaded.line, 2);
    EXPECT_EQ(loaded.column, 10);
}

} // namespace

namespace {

TEST(XmlStoreThreads, TreesLoadedOnOneThreadAreReleasedOnAnother)
{
    // A document's store takes its blocks through the cache of the thread at
    // hand and gives them back to the cache of the thread that releases it.
    // Two threads each load documents and hand every tree to the other one,
    // which checks and releases it.
    constexpr int kDocuments = 300;
    struct Mailbox
    {
        std::mutex mutex;
        std::condition_variable ready;
        std::deque<xml_tag*> trees;
    };
    Mailbox boxes[2];
    std::atomic<int> wrong{0};
    auto work = [&](int self) {
        Mailbox& outgoing = boxes[1 - self];
        Mailbox& incoming = boxes[self];
        for (int i = 0; i < kDocuments; ++i) {
            const std::string document = XmlTest::GenerateDocument(static_cast<uint64_t>(self * kDocuments + i));
            buf_ifile<char> source(document.data(), document.size());
            xml_tag* root = nullptr;
            int32_t line = 0;
            int32_t column = 0;
            static_cast<void>(load_xml_document(root, source, line, column));
            {
                std::lock_guard<std::mutex> lock(outgoing.mutex);
                outgoing.trees.push_back(root);
            }
            outgoing.ready.notify_one();
        }
        for (int received = 0; received < kDocuments; ++received) {
            std::unique_lock<std::mutex> lock(incoming.mutex);
            incoming.ready.wait(lock, [&] { return !incoming.trees.empty(); });
            xml_tag* root = incoming.trees.front();
            incoming.trees.pop_front();
            lock.unlock();
            if (root != nullptr && XmlTest::FindShapeFault(*root) != nullptr)
                ++wrong;
            free_xml_tag(root);
            delete root;
        }
    };
    std::thread first(work, 0);
    std::thread second(work, 1);
    first.join();
    second.join();
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
