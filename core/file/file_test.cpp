#include "core/include/file/file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/common/file_errors.h"
#include "core/common/message_catalogue.h"
#include "core/include/file/dir.h"
#include "testing/error_matchers.h"

namespace {

using ::testing::AllOf;
using Testing::ErrorIs;
using Testing::HasText;
using Testing::RaisedAt;

// An in-memory random-access file that can be told to stop short or fail.
class MemoryFile : public rio_file
{
public:
    using i_file::Read;
    using o_file::Write;

    std::string data;
    uint64_t position = 0;
    uint64_t writeLimit = UINT64_MAX; // bytes Write accepts before ending short
    bool failSeekEnd = false;

    void Read(void* buffer, uint64_t size, uint64_t* bytesRead) override
    {
        *bytesRead = 0;
        if (IsFailed())
            return;
        const uint64_t available = position < data.size() ? data.size() - position : 0;
        const uint64_t count = size < available ? size : available;
        std::memcpy(buffer, data.data() + position, count);
        position += count;
        *bytesRead = count;
    }
    void Write(const void* bytes, uint64_t size, uint64_t* written) override
    {
        *written = 0;
        if (IsFailed())
            return;
        const uint64_t count = size < writeLimit ? size : writeLimit;
        data.replace(position, count, static_cast<const char*>(bytes), count);
        position += count;
        writeLimit -= count;
        *written = count;
    }
    uint64_t Seek(uint64_t to) override
    {
        SetSuccess();
        return position = to;
    }
    uint64_t Move(int64_t delta) override
    {
        SetSuccess();
        return position += delta;
    }
    uint64_t SeekEnd(int64_t delta) override
    {
        if (failSeekEnd) {
            SetError(Common::Error(FileErrors::kSeekFailed, Common::NoLocation));
            return 0;
        }
        SetSuccess();
        return position = data.size() + delta;
    }
    void Truncate(uint64_t length) override { data.resize(length); }
    void LockExclusive(uint64_t, uint64_t, bool) override {}
};

const Common::Error kEarlier(0x40001, Common::NoLocation);

TEST(FileReadAll, ShortReadStoresEndOfFileWithItsLocation)
{
    MemoryFile file;
    file.data = "0123456789";
    char buffer[16];
    EXPECT_EQ(file.Read(buffer, 16), 10u);
    const Common::Error error = file.TakeError();
    EXPECT_EQ(error.GetCode(), 0x40002u);
    EXPECT_EQ(error.GetText(), u"The end of the file has been reached.");
    EXPECT_EQ(error.GetLocation().LineTag, 0xd18a9c757ef132f0ull);
    EXPECT_STREQ(error.GetLocation().file, "core/include/file/file");
    EXPECT_STREQ(error.GetLocation().function, "Read");
    EXPECT_EQ(error.GetLocation().line, 27u);
    EXPECT_TRUE(error.GetCause().IsSuccess());
    EXPECT_TRUE(file.TakeError().IsSuccess()); // taking left success behind
}

TEST(FileReadAll, ExactReadLeavesTheSlotClear)
{
    MemoryFile file;
    file.data = "0123456789";
    char buffer[10];
    EXPECT_EQ(file.Read(buffer, 10), 10u);
    EXPECT_TRUE(file.IsClear());
    EXPECT_EQ(std::string(buffer, 10), "0123456789");
    EXPECT_EQ(file.Read(buffer, 0), 0u); // nothing asked, nothing missing
    EXPECT_TRUE(file.IsClear());
}

TEST(FileReadAll, EarlierFailureIsKept)
{
    MemoryFile file;
    file.data = "0123456789";
    file.SetError(kEarlier);
    char buffer[4];
    EXPECT_EQ(file.Read(buffer, 4), 0u);
    EXPECT_EQ(file.GetError().GetCode(), 0x40001u);
    uint64_t written = 7;
    file.Write("ab", 2, &written);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(file.TakeError().GetRecord(), kEarlier.GetRecord()); // the same record, shared
    EXPECT_TRUE(file.IsClear());
}

TEST(FileWriteAll, ShortWriteStoresDiskFull)
{
    MemoryFile file;
    file.writeLimit = 3;
    EXPECT_EQ(file.Write("abcdef", 6), 3u);
    const Common::Error error = file.TakeError();
    EXPECT_EQ(error.GetCode(), 0x40004u);
    EXPECT_EQ(error.GetText(), u"The disk is full.");
    EXPECT_STREQ(error.GetLocation().file, "core/include/file/file");
    EXPECT_STREQ(error.GetLocation().function, "Write");
    EXPECT_EQ(error.GetLocation().line, 41u);
    EXPECT_EQ(error.GetLocation().LineTag, 0xd18a9c757ef132f0ull - 27 + 41);

    MemoryFile whole;
    EXPECT_EQ(whole.Write("abcdef", 6), 6u);
    EXPECT_TRUE(whole.IsClear());
}

TEST(FileSize, KeepsThePositionAndReportsAFailedSize)
{
    MemoryFile file;
    file.data = std::string(100, 'x');
    file.Seek(40);
    EXPECT_EQ(file.GetSize(), 100u);
    EXPECT_EQ(file.position, 40u);
    EXPECT_TRUE(file.IsClear());

    // The position is restored, but the failure of the size survives it.
    file.failSeekEnd = true;
    EXPECT_EQ(file.GetSize(), 0u);
    EXPECT_EQ(file.position, 40u);
    EXPECT_EQ(file.GetError().GetCode(), static_cast<unsigned>(FileErrors::kSeekFailed));

    file.failSeekEnd = false;
    file.Rewind();
    EXPECT_EQ(file.position, 0u);
    EXPECT_TRUE(file.IsClear());
}

TEST(FileDefaults, UnsupportedOperationsKeepAnEarlierFailure)
{
    struct Case
    {
        const char* function;
        const char* file;
        uint32_t line;
        void (*call)(MemoryFile&);
    } cases[] = {
        {"IOCTL", "core/common/file_object", 28,
         [](MemoryFile& f) {
             control_request request{MakeControlCode("ABCD")};
             f.IOCTL(&request);
         }},
        {"Unlock", "core/include/file/file", 79, [](MemoryFile& f) { f.Unlock(0, 10); }},
        {"LockShared", "core/include/file/file", 94, [](MemoryFile& f) { f.LockShared(0, 10, true); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.function);
        MemoryFile file;
        c.call(file);
        const Common::Error error = file.TakeError();
        EXPECT_EQ(error.GetCode(), 0x4000Eu);
        EXPECT_EQ(error.GetText(), u"The operation is not supported.");
        EXPECT_STREQ(error.GetLocation().file, c.file);
        EXPECT_STREQ(error.GetLocation().function, c.function);
        EXPECT_EQ(error.GetLocation().line, c.line);
        EXPECT_TRUE(error.GetCause().IsSuccess());

        file.SetError(kEarlier);
        c.call(file);
        EXPECT_EQ(file.GetError().GetCode(), 0x40001u);
    }
}

TEST(FileDefaults, ControlCodeHoldsFourCharactersFirstLowest)
{
    EXPECT_EQ(MakeControlCode("GSEC"), 0x43455347ull);
    const unsigned char bytes[8] = {'S', 'D', 'A', 'T', 0, 0, 0, 0};
    EXPECT_EQ(GetControlCode(bytes), MakeControlCode("SDAT"));
}

// A directory that implements only what the interface leaves pure.
class BareDir : public rio_dir
{
public:
    int opened = 0;
    bool failOpen = false;

    ri_file* OpenRead(const char16_t*, bool) override { return nullptr; }
    ri_file* OpenRead(const iterator*, bool) override { return nullptr; }
    ri_file* OpenRead(const file_identifier*, bool) override { return nullptr; }
    rio_dir* OpenDir(const char16_t* name) override
    {
        if (failOpen) {
            SetError(Common::Error(0x40007, Common::NoLocation));
            return nullptr;
        }
        SetSuccess();
        EXPECT_EQ(std::u16string(name), u".");
        ++opened;
        return new BareDir;
    }
    rio_dir* OpenDir(const iterator*) override { return nullptr; }
    rio_dir* OpenDir(const file_identifier*) override { return nullptr; }
    rio_dir* OpenParentDir(const char16_t*&) override { return nullptr; }
    iterator* GetIterator() override { return nullptr; }
    iterator* GetIterator(const char16_t*) override { return nullptr; }
    iterator* GetIterator(const file_identifier*) override { return nullptr; }
    iterator* GetSelfIterator() override { return nullptr; }
    uint32_t IsSameDir(const i_dir*) override { return 2; }
    int CompareIdentifiers(const file_identifier*, const file_identifier*) override { return 0; }
    ro_file* OpenWrite(const char16_t*, bool) override { return nullptr; }
    ro_file* OpenWrite(const iterator*, bool) override { return nullptr; }
    ro_file* OpenWrite(const file_identifier*, bool) override { return nullptr; }
    rio_file* OpenReadWrite(const char16_t*, bool) override { return nullptr; }
    rio_file* OpenReadWrite(const iterator*, bool) override { return nullptr; }
    rio_file* OpenReadWrite(const file_identifier*, bool) override { return nullptr; }
    rio_file* Create(const char16_t*, bool, const access_rights*) override { return nullptr; }
    void Remove(const char16_t*) override {}
    void Rename(const char16_t*, const char16_t*) override {}
    void CreateDir(const char16_t*, const access_rights*) override {}
    void RemoveDir(const char16_t*) override {}
};

class CountedId : public file_identifier
{
public:
    bool cloneable = true;
    file_identifier* Clone() const override { return cloneable ? new CountedId : nullptr; }
};

TEST(DirDefaults, UnsupportedOperationsReplaceTheSlot)
{
    struct Case
    {
        const char* function;
        const char* file;
        uint32_t line;
        void (*call)(BareDir&);
    } cases[] = {
        {"OpenSpecialDir", "core/include/file/dir", 334, [](BareDir& d) { EXPECT_EQ(d.OpenSpecialDir(149), nullptr); }},
        {"OpenSpecialDir", "core/include/file/dir", 290,
         [](BareDir& d) { EXPECT_EQ(static_cast<ri_dir&>(d).ri_dir::OpenSpecialDir(149), nullptr); }},
        {"OpenSpecialDir", "core/include/file/dir", 276,
         [](BareDir& d) { EXPECT_EQ(static_cast<si_dir&>(d).si_dir::OpenSpecialDir(149), nullptr); }},
        {"OpenSpecialDir", "core/include/file/dir", 178,
         [](BareDir& d) { EXPECT_EQ(static_cast<i_dir&>(d).i_dir::OpenSpecialDir(149), nullptr); }},
        {"IOCTL", "core/include/file/dir", 194,
         [](BareDir& d) {
             control_request request{MakeControlCode("ABCD")};
             static_cast<file_object&>(d).IOCTL(&request);
         }},
        {"IOCTL", "core/include/file/dir", 244,
         [](BareDir& d) {
             control_request request{MakeControlCode("ABCD")};
             static_cast<o_dir&>(d).o_dir::IOCTL(&request);
         }},
        {"EnableNotification", "core/include/file/dir", 196, [](BareDir& d) { d.EnableNotification(nullptr); }},
        {"CreateHardLink", "core/include/file/dir", 218, [](BareDir& d) { d.CreateHardLink(u"a", u"b"); }},
        {"CreateSymLink", "core/include/file/dir", 223, [](BareDir& d) { d.CreateSymLink(u"a", u"b", 5, 0); }},
        {"SetAccessRights", "core/include/file/dir", 229,
         [](BareDir& d) {
             access_rights rights{0, 0644};
             d.SetAccessRights(u"a", &rights);
         }},
        {"SetDOSAttributes", "core/include/file/dir", 232, [](BareDir& d) { d.SetDOSAttributes(u"a", 1); }},
        {"SetUnixPermissions", "core/include/file/dir", 235, [](BareDir& d) { d.SetUnixPermissions(u"a", 0644); }},
        {"SetUnixOwner", "core/include/file/dir", 238, [](BareDir& d) { d.SetUnixOwner(u"a", 0, 0); }},
        {"CreateDeviceNode", "core/include/file/dir", 243, [](BareDir& d) { d.CreateDeviceNode(u"a", 3, 0644, 0, 0); }},
        {"GetDriveSize", "core/file/dir", 27,
         [](BareDir& d) {
             uint64_t total = 1, free = 2, available = 3;
             d.GetDriveSize(&total, &free, &available);
             EXPECT_EQ(total + free + available, 0u);
         }},
        {"GetVolumeLabel", "core/file/dir", 35,
         [](BareDir& d) {
             char16_t label[4] = {u'x', u'y', 0, 0};
             d.GetVolumeLabel(label, 4);
             EXPECT_EQ(label[0], 0);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.function) + " " + std::to_string(c.line));
        BareDir dir;
        dir.SetError(kEarlier); // directory defaults replace what was there
        c.call(dir);
        const Common::Error error = dir.TakeError();
        EXPECT_EQ(error.GetCode(), 0x4000Eu);
        EXPECT_EQ(error.GetText(), u"The operation is not supported.");
        EXPECT_STREQ(error.GetLocation().file, c.file);
        EXPECT_STREQ(error.GetLocation().function, c.function);
        EXPECT_EQ(error.GetLocation().line, c.line);
        EXPECT_EQ(error.GetLocation().LineTag, Common::HashSourcePath(c.file) + c.line);
    }
}

TEST(DirDefaults, ConstantAnswers)
{
    BareDir dir;
    EXPECT_EQ(dir.GetFlags(), 137u);
    EXPECT_TRUE(dir.IsPathSeparator(u'/'));
    EXPECT_TRUE(dir.IsPathSeparator(u'\\'));
    EXPECT_FALSE(dir.IsPathSeparator(u':'));
    EXPECT_EQ(dir.GetPathSeparator(), u'\\');
    EXPECT_EQ(dir.GetPathStyle(), 0u);
    EXPECT_EQ(dir.GetPath(), nullptr);
    EXPECT_EQ(dir.GetNativeHandle(), nullptr);
    EXPECT_EQ(dir.GetNativeHandles(), (std::pair<void*, void*>{nullptr, nullptr}));
    EXPECT_EQ(dir.GetExtension(), nullptr);
    char16_t untouched = u'x';
    dir.GetVolumeLabel(&untouched, 0);
    EXPECT_EQ(untouched, u'x');

    rio_dir* clone = dir.Clone(); // opens "."
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(dir.opened, 1);
    delete clone;
}

TEST(DirDefaults, ResolveSymLinksOpensASecondDirectoryAndClonesTheIdentifier)
{
    BareDir dir;
    CountedId id;
    auto [second, clone] = dir.ResolveSymLinks(&id);
    ASSERT_NE(second, nullptr);
    ASSERT_NE(clone, nullptr);
    EXPECT_NE(clone, &id);
    delete second;
    delete clone;

    auto [third, none] = dir.ResolveSymLinks(nullptr);
    EXPECT_NE(third, nullptr);
    EXPECT_EQ(none, nullptr);
    delete third;

    id.cloneable = false;
    auto [lost, noClone] = dir.ResolveSymLinks(&id);
    EXPECT_EQ(lost, nullptr);
    EXPECT_EQ(noClone, nullptr);
    EXPECT_THAT(dir.TakeError(),
                AllOf(ErrorIs(0x40006), HasText(u"Not enough memory to complete the operation."),
                      RaisedAt("core/file/dir", "ResolveSymLinks", 49)));

    dir.failOpen = true;
    auto [failed, unused] = dir.ResolveSymLinks(&id);
    EXPECT_EQ(failed, nullptr);
    EXPECT_EQ(unused, nullptr);
    EXPECT_EQ(dir.GetError().GetCode(), 0x40007u);
}

TEST(DirDefaults, OutputFormsHandOutTheOutputPartOfTheFullResults)
{
    BareDir dir;
    ro_dir* output = dir.OpenOutputDir(u".");
    ASSERT_NE(output, nullptr);
    auto* opened = dynamic_cast<BareDir*>(output);
    ASSERT_NE(opened, nullptr);
    output->CreateHardLink(u"a", u"b"); // lands in the opened directory's slot
    EXPECT_THAT(opened->GetError(), ErrorIs(0x4000E));
    delete output;

    const char16_t* path = u"a/b";
    EXPECT_EQ(dir.OpenOutputParentDir(path), nullptr);
    EXPECT_EQ(dir.CreateOutput(u"a", false, nullptr), nullptr);
    dir.failOpen = true;
    EXPECT_EQ(dir.OpenOutputDir(u"."), nullptr);
    EXPECT_THAT(dir.GetError(), ErrorIs(0x40007));
}

class BareIterator : public i_dir::iterator
{
public:
    void Next() override {}
    file_identifier* GetIdentifier() override { return nullptr; }
    const char16_t* GetName() override { return u"entry"; }
    uint64_t GetSize() override { return 42; }
    uint32_t GetType() override { return ITEM_REGULAR; }
};

TEST(DirDefaults, IteratorQueriesAnswerTheirDefaults)
{
    BareIterator it;
    EXPECT_EQ(std::u16string(it.GetDisplayName()), u"entry");
    EXPECT_EQ(it.GetAllocatedSize(), 42u);
    EXPECT_EQ(it.GetNativeEntry(), nullptr);
    EXPECT_EQ(it.GetExtraData(), nullptr);
    EXPECT_EQ(it.GetModificationTime(), 0);
    EXPECT_EQ(it.GetChangeTime(), 0);
    EXPECT_EQ(it.GetCreationTime(), 0);
    EXPECT_EQ(it.GetAccessTime(), 0);
    EXPECT_EQ(it.GetDOSAttributes(), 0xFFFFFFFFu);
    EXPECT_EQ(it.GetUnixMode(), 0xFFFFFFFFu);
    EXPECT_FALSE(it.IsHidden());
    EXPECT_EQ(it.GetUnixOwner(), 0xFFFFFFFFu);
    EXPECT_EQ(it.GetUnixGroup(), 0xFFFFFFFFu);
    EXPECT_EQ(it.GetUnixFlags(), 0u);
    EXPECT_EQ(it.GetLinkCount(), 1u);
    EXPECT_EQ(it.GetDeviceMajor(), 0u);
    EXPECT_EQ(it.GetDeviceMinor(), 0u);
    EXPECT_EQ(it.GetNameStyle(), 1u);
    EXPECT_EQ(it.GetFileIndex(), 0u);
    EXPECT_EQ(it.GetLinkTarget(), nullptr);
}

class CountingHandler : public notification_handler
{
public:
    explicit CountingHandler(int* destroyed) : m_destroyed(destroyed) {}
    ~CountingHandler() override { ++*m_destroyed; }
    void OnChange(i_dir*) override {}

private:
    int* m_destroyed;
};

TEST(NotificationHandler, LastReleaseDeletes)
{
    int destroyed = 0;
    auto* handler = new CountingHandler(&destroyed);
    handler->AddRef();
    handler->Release();
    EXPECT_EQ(destroyed, 0);
    handler->Release();
    EXPECT_EQ(destroyed, 1);
}

} // namespace
