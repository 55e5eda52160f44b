#include "core/xml/xml_tag.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/common/text_conversion.h"

namespace {

TEST(XmlTag, NewElementHasOneEmptyPiece)
{
    xml_tag tag("a");
    EXPECT_EQ(tag.name, "a");
    ASSERT_EQ(tag.Text.size(), 1u);
    EXPECT_TRUE(tag.Text[0].empty());
    EXPECT_TRUE(tag.children.empty());
    EXPECT_EQ(tag.parent, nullptr);
}

TEST(XmlTag, InsertChildKeepsOnePieceMoreThanChildren)
{
    xml_tag tag("a");
    tag.SetText(0, u"t0");
    auto* first = new xml_tag("b");
    tag.InsertChild(tag.Text.size(), first);
    tag.SetText(tag.Text.size() - 1, u"t1");
    auto* second = new xml_tag("c");
    tag.InsertChild(tag.Text.size(), second);
    ASSERT_EQ(tag.children.size(), 2u);
    ASSERT_EQ(tag.Text.size(), 3u);
    EXPECT_EQ(tag.children[0], first);
    EXPECT_EQ(tag.children[1], second);
    EXPECT_EQ(first->parent, &tag);
    EXPECT_EQ(tag.Text[0], u"t0");
    EXPECT_EQ(tag.Text[1], u"t1");
    EXPECT_EQ(tag.Text[2], u"");

    // Inserting in front: the child goes first and a new empty first piece.
    auto* front = new xml_tag("f");
    tag.InsertChild(0, front);
    EXPECT_EQ(tag.children[0], front);
    EXPECT_EQ(tag.Text[0], u"");
    EXPECT_EQ(tag.Text[1], u"t0");

    // A position beyond the pieces appends.
    auto* last = new xml_tag("l");
    tag.InsertChild(100, last);
    EXPECT_EQ(tag.children.back(), last);
    EXPECT_EQ(tag.Text.size(), tag.children.size() + 1);
}

// A text kept one byte per unit and one kept as UTF-16 units are the same
// text when their units are.
TEST(XmlText, NarrowAndWideFormsOfOneTextAreEqual)
{
    xml_tag tag("a");
    tag.InsertChild(1, new xml_tag("b"));
    tag.InsertChild(2, new xml_tag("c"));
    tag.SetText(0, std::string_view("x\xE9\0y", 4));
    tag.SetText(1, std::u16string_view(u"x\u00E9\0y", 4));
    tag.SetText(2, std::u16string_view(u"x\u0100"));
    const xml_text& narrow = tag.Text[0];
    const xml_text& wide = tag.Text[1];
    EXPECT_TRUE(narrow.is_narrow());
    EXPECT_FALSE(wide.is_narrow());
    EXPECT_EQ(narrow, wide);
    EXPECT_EQ(narrow, std::u16string_view(u"x\u00E9\0y", 4));
    EXPECT_EQ(narrow.str(), wide.str());
    EXPECT_EQ(narrow.size(), 4u);
    EXPECT_EQ(narrow[1], u'\u00E9');
    EXPECT_FALSE(narrow == tag.Text[2]);
    EXPECT_FALSE(tag.Text[2] == std::u16string_view(u"x\u00E9"));
    EXPECT_EQ(narrow.visit([](auto units) { return units.size(); }), 4u);
}

// Attributes stay in byte order of their names (the shorter of two with one
// prefix first, bytes from 80 after ASCII); a second value of a name is not
// added, and a set replaces it.
TEST(XmlTag, AttributesInByteOrderOfTheirNames)
{
    xml_tag tag("a");
    for (const char* name : {"b", "ab", "a", "\xC3\xA9", "B", "a:b"})
        EXPECT_TRUE(tag.AddAttribute(name, std::u16string_view(u"1")));
    EXPECT_FALSE(tag.AddAttribute("ab", std::string_view("2")));
    tag.SetAttribute("b", u"3");
    tag.SetAttribute("c", u"4");
    std::vector<std::string> seen;
    for (const auto& [name, value] : tag.attributes)
        seen.push_back(std::string(name.view()) + "=" + Common::ToUtf8(value.str().c_str()));
    EXPECT_EQ(seen, (std::vector<std::string>{"B=1", "a=1", "a:b=1", "ab=1", "b=3", "c=4", "\xC3\xA9=1"}));
    ASSERT_NE(tag.attributes.find("ab"), nullptr);
    EXPECT_EQ(tag.attributes.find("ab")->value, std::u16string_view(u"1"));
    EXPECT_EQ(tag.attributes.find("abc"), nullptr);
}

// What a heap element holds moves into the store it is given, and stays as
// it was.
TEST(XmlTagStore, AStoreGivenLaterTakesWhatTheElementHolds)
{
    auto* root = new xml_tag("root");
    root->SetText(0, std::u16string_view(u"first"));
    root->InsertChild(1, new xml_tag("heap"));
    root->SetText(1, std::string_view("second"));
    root->SetAttribute("k", u"v");
    root->UseDocumentStore(64 * 1024);
    xml_tag* stored = root->NewElement("stored");
    root->InsertChild(root->Text.size(), stored);
    EXPECT_EQ(root->name, "root");
    EXPECT_EQ(root->Text[0], std::u16string_view(u"first"));
    EXPECT_EQ(root->Text[1], std::u16string_view(u"second"));
    ASSERT_NE(root->attributes.find("k"), nullptr);
    EXPECT_EQ(root->attributes.find("k")->value, std::u16string_view(u"v"));
    ASSERT_EQ(root->children.size(), 2u);
    EXPECT_EQ(root->children[0]->name, "heap");
    EXPECT_EQ(root->children[1]->name, "stored");
    delete root; // the leak detector checks that the heap child went too
}

// Names and narrow texts from within a document's kept text are that text's
// bytes where they lie; anything else is copied.
TEST(XmlTagStore, TheKeptDocumentTextIsReferencedNotCopied)
{
    auto* root = new xml_tag("r");
    root->UseDocumentStore(64 * 1024);
    const std::string document = "name text";
    const char* kept = root->KeepDocumentText(document.data(), document.size());
    ASSERT_NE(kept, nullptr);
    EXPECT_NE(kept, document.data());
    xml_tag* child = root->NewElement(std::string_view(kept, 4));
    root->InsertChild(1, child);
    child->SetText(0, std::string_view(kept + 5, 4));
    root->SetText(0, std::string_view(document.data() + 5, 4));
    EXPECT_EQ(child->name.data(), kept);
    EXPECT_EQ(child->Text[0].narrow().data(), kept + 5);
    EXPECT_NE(root->Text[0].narrow().data(), document.data() + 5);
    EXPECT_EQ(root->Text[0], std::u16string_view(u"text"));
    EXPECT_EQ(xml_tag("x").KeepDocumentText(document.data(), document.size()), nullptr) << "no store";
    delete root;
}

// A referred document text is taken where it lies, names and texts from
// within it too; it outlives the store.
TEST(XmlTagStore, AReferredDocumentTextIsUsedWhereItLies)
{
    const std::string document = "name text";
    const std::string other = "text";
    auto* root = new xml_tag("r");
    root->UseDocumentStore(64 * 1024);
    ASSERT_TRUE(root->ReferDocumentText(document.data(), document.size()));
    xml_tag* child = root->NewElement(std::string_view(document.data(), 4));
    root->InsertChild(1, child);
    child->SetText(0, std::string_view(document.data() + 5, 4));
    root->SetText(0, std::string_view(other));
    EXPECT_EQ(child->name.data(), document.data());
    EXPECT_EQ(child->Text[0].narrow().data(), document.data() + 5);
    EXPECT_NE(root->Text[0].narrow().data(), other.data());
    EXPECT_EQ(root->Text[0], std::u16string_view(u"text"));
    EXPECT_FALSE(xml_tag("x").ReferDocumentText(document.data(), document.size())) << "no store";
    delete root;
}

// A heap element that made a store of its own (NewElement) and hangs below
// another tree is released with that tree, store and all.
TEST(XmlTagStore, AHeapElementWithAStoreOfItsOwnIsReleasedWithTheTree)
{
    auto* root = new xml_tag("r");
    auto* owner = new xml_tag("owner");
    xml_tag* inner = owner->NewElement("inner");
    owner->InsertChild(1, inner);
    inner->InsertChild(1, new xml_tag("heap below"));
    root->InsertChild(1, owner);
    root->UseDocumentStore(4096);
    xml_tag* stored = root->NewElement("stored");
    root->InsertChild(2, stored);
    stored->InsertChild(1, new xml_tag("heap below the store"));
    free_xml_tag(root);
    EXPECT_TRUE(root->children.empty());
    delete root; // the leak detector checks the rest
}

TEST(XmlTag, FreeReleasesEverythingOfAVeryDeepTree)
{
    auto* root = new xml_tag("r");
    xml_tag* current = root;
    for (int i = 0; i < 200000; ++i) {
        auto* child = new xml_tag("e");
        current->InsertChild(current->Text.size(), child);
        current = child;
    }
    root->SetAttribute("k", u"v");
    free_xml_tag(root);
    EXPECT_TRUE(root->children.empty());
    EXPECT_TRUE(root->Text.empty());
    EXPECT_TRUE(root->attributes.empty());
    EXPECT_TRUE(root->name.empty());
    delete root;
    free_xml_tag(nullptr);
}

TEST(XmlTag, DeletingAnElementReleasesItsChildren)
{
    // Checked by the leak detector of the sanitizer build.
    auto* root = new xml_tag("r");
    root->InsertChild(1, new xml_tag("a"));
    root->children[0]->InsertChild(1, new xml_tag("b"));
    delete root;
}

} // namespace

namespace {

TEST(XmlTagStore, ElementsOfAStoreAndHeapElementsBelowThemAreReleased)
{
    // Checked by the leak detector of the sanitizer build: the heap element
    // hanging below store elements is deleted with the tree.
    auto* root = new xml_tag("r");
    xml_tag* item = root->NewElement("item");
    root->InsertChild(1, item);
    // An element of the store makes its elements in the same store.
    xml_tag* leaf = item->NewElement("leaf");
    item->InsertChild(1, leaf);
    leaf->SetText(0, u"a text long enough to leave the string's own room");
    leaf->SetAttribute("k", u"v");
    auto* heap = new xml_tag("heap");
    heap->SetText(0, u"another text long enough to leave the string's own room");
    leaf->InsertChild(1, heap);
    heap->InsertChild(1, new xml_tag("below"));
    EXPECT_EQ(heap->parent, leaf);
    EXPECT_EQ(leaf->Text.size(), 2u);

    free_xml_tag(root);
    EXPECT_TRUE(root->children.empty());
    EXPECT_TRUE(root->Text.empty());

    // The released root takes elements again, from the heap or a new store.
    root->InsertChild(1, new xml_tag("again"));
    root->InsertChild(2, root->NewElement("stored"));
    ASSERT_EQ(root->children.size(), 2u);
    EXPECT_EQ(root->children[1]->name, "stored");
    delete root;
}

TEST(XmlTagStore, InsertingInFrontKeepsTheShapeInAStore)
{
    auto* root = new xml_tag("r");
    xml_tag* parent = root->NewElement("p");
    root->InsertChild(1, parent);
    for (int i = 0; i < 40; ++i) {
        xml_tag* child = root->NewElement(std::to_string(i));
        parent->InsertChild(i % 3 == 0 ? 0 : parent->Text.size(), child);
        parent->SetText(0, u"piece " + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)));
    }
    EXPECT_EQ(parent->Text.size(), parent->children.size() + 1);
    EXPECT_EQ(parent->children.front()->name, "39");
    for (xml_tag* child : parent->children)
        EXPECT_EQ(child->parent, parent);
    delete root;
}

} // namespace
