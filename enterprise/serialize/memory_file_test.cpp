#include "enterprise/serialize/memory_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/file/file_test_support.h"
#include "core/xml/xml_document.h"
#include "core/xml/xml_test_support.h"

namespace {

using Serialization::CreateMemoryFile;

std::unique_ptr<ri_file> FileFor(const std::u16string& text)
{
    xml_tag element("value");
    element.SetText(0, std::u16string_view(text));
    return CreateMemoryFile(element);
}

using FileTest::ReadOnce;

TEST(MemoryFile, ReadsTheDecodedBytes)
{
    auto file = FileFor(u"aGVs bG8="); // "hello"
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->GetSize(), 5u);
    EXPECT_EQ(ReadOnce(*file, 0), "");
    EXPECT_EQ(ReadOnce(*file, 3), "hel");
    EXPECT_EQ(file->GetSize(), 5u); // size does not move the position
    EXPECT_EQ(ReadOnce(*file, 3), "lo");
    EXPECT_EQ(ReadOnce(*file, 3), "");
    EXPECT_TRUE(file->IsClear());
}

TEST(MemoryFile, Positioning)
{
    auto file = FileFor(u"aGVsbG8=");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->SeekEnd(-2), 3u);
    EXPECT_EQ(ReadOnce(*file, 10), "lo");
    EXPECT_EQ(file->Seek(1), 1u);
    EXPECT_EQ(file->Move(2), 3u);
    EXPECT_EQ(ReadOnce(*file, 1), "l");
    EXPECT_EQ(file->Move(-10), static_cast<uint64_t>(-6));
    EXPECT_EQ(ReadOnce(*file, 4), "");
    EXPECT_EQ(file->Seek(5), 5u);
    EXPECT_EQ(ReadOnce(*file, 4), "");
    EXPECT_EQ(file->Seek(UINT64_MAX), UINT64_MAX);
    EXPECT_EQ(ReadOnce(*file, 4), "");
    file->Rewind();
    EXPECT_EQ(ReadOnce(*file, 5), "hello");
}

TEST(MemoryFile, DeliversNothingOnceItsSlotFailed)
{
    auto file = FileFor(u"aGVsbG8=");
    ASSERT_NE(file, nullptr);
    char buffer[8];
    EXPECT_EQ(file->Read(buffer, 8), 5u); // read-all records the short read
    EXPECT_EQ(file->GetError().GetCode(), 0x40002u);
    file->Rewind();
    EXPECT_EQ(ReadOnce(*file, 5), "");
    (void)file->TakeError(); // only clears the held error
    EXPECT_EQ(ReadOnce(*file, 5), "hello");
    file->LockShared(0, 1, false);
    EXPECT_EQ(file->GetError().GetCode(), 0x4000Eu);
}

TEST(MemoryFile, InvalidTextGivesNoFile)
{
    for (const char16_t* text : {u"aGVsbG8", u"aGV-bG8=", u"aGVs\u00E9bG8=", u"a===", u"aGVsbG8=x"})
        EXPECT_EQ(FileFor(text), nullptr);
    auto empty = FileFor(u"");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->GetSize(), 0u);
}

TEST(MemoryFile, UsesTheTextBeforeTheFirstChild)
{
    XmlTest::Loaded packet;
    XmlTest::Load(packet, "<v>aGVs<x/>bG8=</v>");
    ASSERT_TRUE(packet.ok);
    auto file = CreateMemoryFile(*packet.root);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->GetSize(), 3u);
    EXPECT_EQ(ReadOnce(*file, 3), "hel");

    xml_tag released("v");
    free_xml_tag(&released); // no pieces at all
    auto none = CreateMemoryFile(released);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->GetSize(), 0u);
}

} // namespace
