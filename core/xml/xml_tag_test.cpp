#include "core/xml/xml_tag.h"

#include <gtest/gtest.h>

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
