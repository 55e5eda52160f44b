#include "core/file/backup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/file/backup_test_support.h"
#include "testing/error_matchers.h"
#include "testing/vtable_slot.h"

namespace {

using namespace BackupTest;
using ::testing::ElementsAre;
using Testing::ErrorIs;
using Testing::HasText;
using Testing::IsSuccessError;
using Testing::RaisedAt;
using Testing::VirtualSlot;

TEST(BackupInterfaces, SlotsKeepTheCallersOrder)
{
    EXPECT_EQ(VirtualSlot(&backup_chunk_sink::GetChunk), 0u);
    EXPECT_EQ(VirtualSlot(&backup_buffer_allocator::Allocate), 0u);
    EXPECT_EQ(VirtualSlot(&backup_chunk_writer::IOCTL), 2u);
    EXPECT_EQ(VirtualSlot(&backup_chunk_writer::Write), 3u);
    EXPECT_EQ(VirtualSlot(&backup_progress::OnProgress), 2u);
    EXPECT_EQ(VirtualSlot(&backup_progress::IsCanceled), 3u);
    EXPECT_EQ(VirtualSlot(&backup_progress::OnSecurityWriting), 4u);
    EXPECT_EQ(VirtualSlot(&restore_chunk_source::GetNextChunk), 3u);
}

TEST(BackupError, CarriesWidePathAndNameAndSurvivesACopy)
{
    std::u16string path = u"/data/dir/";
    std::u16string name = u"n\u00e4me";
    Common::Error error = MakeBackupError(0x40019, 621, path.c_str(), name.c_str(),
                                          kBackupSource.At("CommonBackupFile", 103));
    path.assign(u"changed");
    name.assign(u"changed");
    error.AddCause(Common::Error(0x4000F, u"cause", Common::NoLocation)); // clones a shared record
    const Common::Error copy = error;
    for (const Common::Error* e : {&copy, static_cast<const Common::Error*>(&error)}) {
        EXPECT_THAT(*e, ErrorIs(0x40019));
        EXPECT_THAT(*e, HasText(u"Error occurred while backing up."));
        EXPECT_THAT(*e, RaisedAt("core/file/backup", "CommonBackupFile", 103));
        EXPECT_EQ(std::u16string(e->GetWideTextParameter("path")), u"/data/dir/");
        EXPECT_EQ(std::u16string(e->GetWideTextParameter("name")), u"n\u00e4me");
        EXPECT_EQ(e->GetWideTextParameter("other"), nullptr);
        EXPECT_EQ(e->GetTextParameter("path"), nullptr);
        EXPECT_STREQ(e->GetTextParameter("$module"), Common::kBuildTag);
        EXPECT_EQ(e->GetIntegerParameter("path"), 0u);
        EXPECT_STREQ(e->GetParameterNames(), "path,name,$module");
    }
    const Common::Error absent = MakeBackupError(0x40019, 621, nullptr, nullptr, Common::NoLocation);
    EXPECT_EQ(absent.GetWideTextParameter("path"), nullptr);
    EXPECT_EQ(absent.GetWideTextParameter("name"), nullptr);
}

// An entry of another platform's directory, answering what it is told.
class FakeEntry : public i_dir::iterator
{
public:
    void Next() override {}
    file_identifier* GetIdentifier() override { return nullptr; }
    const char16_t* GetName() override { return u"entry"; }
    uint64_t GetSize() override { return 0; }
    uint32_t GetType() override { return type; }
    int64_t GetModificationTime() override { return modified; }
    int64_t GetCreationTime() override { return created; }
    uint32_t GetDOSAttributes() override { return dosWord; }
    uint32_t GetUnixMode() override { return mode; }
    const char16_t* GetLinkTarget() override { return link; }

    uint32_t type = ITEM_REGULAR;
    int64_t modified = 0;
    int64_t created = 0;
    uint32_t dosWord = 0xFFFFFFFFu;
    uint32_t mode = 0xFFFFFFFFu;
    const char16_t* link = nullptr;
};

std::string U32(uint32_t value)
{
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

TEST(CommonBackupItem, WithoutIteratorOrSinkNothingIsWritten)
{
    RecordingSink sink;
    const backup_parameters parameters{&sink, nullptr, 0};
    const Common::Error noIterator = CommonBackupFile(static_cast<i_file*>(nullptr), nullptr, &parameters);
    EXPECT_THAT(noIterator, ErrorIs(0x40007));
    EXPECT_THAT(noIterator, RaisedAt("core/file/backup", "CommonBackupFile", 113));
    FakeEntry entry;
    const backup_parameters noSink{nullptr, nullptr, 0};
    const Common::Error error = CommonBackupFile(static_cast<i_file*>(nullptr), &entry, &noSink);
    EXPECT_THAT(error, ErrorIs(0x40003));
    EXPECT_THAT(error, RaisedAt("core/file/backup", "CommonBackupFile", 117));
}

TEST(CommonBackupItem, WhatAnotherPlatformsEntryGives)
{
    struct Case
    {
        const char* what;
        FakeEntry entry;
        std::vector<uint32_t> types;
    };
    Case cases[4];
    cases[0].what = "no mode and no times: the attribute word only";
    cases[0].types = {1};
    cases[1].what = "its own attribute word, only the second time";
    cases[1].entry.dosWord = 0x21;
    cases[1].entry.created = 5;
    cases[1].types = {1, 5};
    cases[2].what = "a directory word leaves out the times";
    cases[2].entry.dosWord = 0x10;
    cases[2].entry.modified = 7;
    cases[2].entry.mode = 040755;
    cases[2].types = {1, 6};
    cases[3].what = "a link without text";
    cases[3].entry.type = ITEM_SYMLINK;
    cases[3].types = {1, 6};
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingSink sink;
        const backup_parameters parameters{&sink, nullptr, 0};
        ASSERT_THAT(CommonBackupFile(static_cast<i_file*>(nullptr), &c.entry, &parameters), IsSuccessError());
        EXPECT_EQ(sink.Types(), c.types);
        const uint32_t word = c.entry.dosWord == 0xFFFFFFFFu ? 0 : c.entry.dosWord;
        EXPECT_EQ(sink.Find(1)->Bytes(), U32(word));
        if (const Chunk* times = sink.Find(5)) {
            int64_t values[2];
            ASSERT_EQ(times->Bytes().size(), sizeof values);
            std::memcpy(values, times->Bytes().data(), sizeof values);
            EXPECT_EQ(values[0], c.entry.modified);
            EXPECT_EQ(values[1], c.entry.created);
        }
    }
    // The link record: size 24, length 0, a lone NUL unit.
    RecordingSink sink;
    const backup_parameters parameters{&sink, nullptr, 0};
    ASSERT_THAT(CommonBackupFile(static_cast<i_file*>(nullptr), &cases[3].entry, &parameters), IsSuccessError());
    const std::string record = sink.Find(6)->Bytes();
    ASSERT_EQ(record.size(), 24u);
    EXPECT_EQ(record.substr(0, 8), U32(24) + U32(5));
    EXPECT_EQ(record.substr(16), U32(0xFFFFFFFFu) + std::string(4, '\0'));
}

} // namespace
