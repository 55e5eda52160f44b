#include "core/file/unix/posix_dir.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "core/common/file_errors.h"
#include "core/file/unix/file_name_conversion.h"
#include "core/file/unix/posix_dir_test_support.h"
#include "core/file/unix/the_identifier.h"
#include "core/file/unix/time_conversion.h"

namespace {

using namespace posix_dir_test;
using Testing::CausedBy;
using Testing::IsPosixError;

std::set<std::string> ReaddirNames(const std::string& path)
{
    std::set<std::string> names;
    DIR* stream = opendir(path.c_str());
    if (!stream)
        return names;
    while (const dirent* entry = readdir(stream))
        if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
            names.insert(entry->d_name);
    closedir(stream);
    return names;
}

int64_t Ms(const timespec& time)
{
    return FileTime::TimespecToMilliseconds(time);
}

uint32_t ExpectedType(mode_t mode)
{
    if (S_ISDIR(mode))
        return ITEM_DIRECTORY;
    if (S_ISFIFO(mode))
        return ITEM_FIFO;
    if (S_ISCHR(mode))
        return ITEM_CHAR_DEVICE;
    if (S_ISBLK(mode))
        return ITEM_BLOCK_DEVICE;
    if (S_ISLNK(mode))
        return ITEM_SYMLINK;
    if (S_ISSOCK(mode))
        return ITEM_SOCKET;
    return ITEM_REGULAR;
}

// Every status answer of an iterator agrees with lstat of `path`.
void ExpectMatchesLstat(i_dir::iterator& item, const std::string& path)
{
    struct stat64 status;
    ASSERT_EQ(lstat64(path.c_str(), &status), 0) << path;
    EXPECT_EQ(item.GetType(), ExpectedType(status.st_mode)) << path;
    EXPECT_EQ(item.GetSize(), static_cast<uint64_t>(status.st_size)) << path;
    EXPECT_EQ(item.GetAllocatedSize(), static_cast<uint64_t>(status.st_blocks) * 512) << path;
    EXPECT_EQ(item.GetModificationTime(), Ms(status.st_mtim)) << path;
    EXPECT_EQ(item.GetChangeTime(), Ms(status.st_ctim)) << path;
    EXPECT_EQ(item.GetAccessTime(), Ms(status.st_atim)) << path;
    EXPECT_EQ(item.GetUnixMode(), status.st_mode) << path;
    EXPECT_EQ(item.GetUnixOwner(), status.st_uid) << path;
    EXPECT_EQ(item.GetUnixGroup(), status.st_gid) << path;
    EXPECT_EQ(item.GetLinkCount(), status.st_nlink) << path;
    EXPECT_EQ(item.GetDeviceMajor(), major(status.st_rdev)) << path;
    EXPECT_EQ(item.GetDeviceMinor(), minor(status.st_rdev)) << path;
    EXPECT_EQ(item.GetFileIndex(), status.st_ino) << path;
    EXPECT_TRUE(item.IsClear()) << path;
}

using PosixDirIterator = ScratchTest;

TEST_F(PosixDirIterator, ListingMatchesReaddirAndKeepsUndecodableBytes)
{
    WriteFile(Path("a\xff"
                   "b"),
              "odd bytes");
    WriteFile(Path(".x"), "");
    WriteFile(Path("..x"), "");
    WriteFile(Path("caf\xc3\xa9"), "");
    mkdir(Path("sub").c_str(), 0755);

    std::unique_ptr<i_dir::iterator> entries(m_dir->GetIterator());
    ASSERT_NE(entries, nullptr);
    std::set<std::string> listed;
    std::map<std::u16string, bool> hidden;
    for (; entries->IsClear(); entries->Next()) {
        auto& item = dynamic_cast<posix_dir::stat_iterator&>(*entries);
        const std::u16string name = item.GetName();
        listed.insert(UnicodeToNativeName(name.c_str()));
        EXPECT_EQ(UnicodeToNativeName(name.c_str()), std::string(item.GetNativeName()));
        hidden[name] = item.IsHidden();
    }
    EXPECT_THAT(entries->TakeError(),
                FileError(FileErrors::kEndOfFile, u"The end of the file has been reached.", m_root + "/"));
    EXPECT_EQ(listed, ReaddirNames(m_root));
    EXPECT_EQ(listed.size(), 5u);
    EXPECT_TRUE(hidden.count(u"a\uF8FF"
                             "b"));
    EXPECT_TRUE(hidden.count(u"caf\u00e9"));
    EXPECT_TRUE(hidden[u".x"]);
    EXPECT_TRUE(hidden[u"..x"]);
    EXPECT_FALSE(hidden[u"sub"]);

    // The listed name opens the same file.
    std::unique_ptr<ri_file> file(m_dir->OpenRead(u"a\uF8FF"
                                                  "b",
                                                  false));
    ASSERT_NE(file, nullptr);
    std::string bytes(9, '\0');
    file->Read(bytes.data(), 9);
    EXPECT_EQ(bytes, "odd bytes");
}

TEST_F(PosixDirIterator, EntriesAndIdentifiersNameWhatWasRead)
{
    WriteFile(Path("a\xff"
                   "b"),
              "via entry");
    std::unique_ptr<i_dir::iterator> entries(m_dir->GetIterator());
    ASSERT_NE(entries, nullptr);
    ASSERT_TRUE(entries->IsClear());
    std::unique_ptr<file_identifier> id(entries->GetIdentifier());
    ASSERT_NE(id, nullptr);
    const auto& own = dynamic_cast<const the_identifier&>(*id);
    EXPECT_EQ(std::u16string(own.GetName()),
              u"a\uF8FF"
              "b");
    EXPECT_EQ(std::string(own.GetNativeName()),
              "a\xff"
              "b");

    std::unique_ptr<ri_file> byEntry(m_dir->OpenRead(entries.get(), false));
    ASSERT_NE(byEntry, nullptr);
    std::unique_ptr<ri_file> byId(m_dir->OpenRead(id.get(), false));
    ASSERT_NE(byId, nullptr);
    EXPECT_EQ(byId->GetSize(), 9u);
    std::unique_ptr<i_dir::iterator> item(m_dir->GetIterator(id.get()));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(std::u16string(item->GetName()),
              u"a\uF8FF"
              "b");
    EXPECT_EQ(item->GetSize(), 9u);

    // An iterator past its end, or a foreign/empty identifier, names nothing.
    entries->Next();
    ASSERT_TRUE(entries->IsFailed());
    EXPECT_EQ(m_dir->OpenRead(entries.get(), false), nullptr);
    EXPECT_EQ(m_dir->TakeError().GetCode(), FileErrors::kOpenFailed);
    EXPECT_EQ(entries->GetIdentifier(), nullptr);
    EXPECT_EQ(m_dir->OpenDir(static_cast<const file_identifier*>(nullptr)), nullptr);
    EXPECT_EQ(m_dir->TakeError().GetCode(), FileErrors::kOpenFailed);
    the_identifier nameOnly(u"a\uF8FF"
                            "b",
                            nullptr, 0);
    EXPECT_EQ(m_dir->OpenRead(&nameOnly, false), nullptr);
    EXPECT_EQ(m_dir->TakeError().GetCode(), FileErrors::kOpenFailed);
    EXPECT_EQ(m_dir->GetIterator(static_cast<const file_identifier*>(nullptr)), nullptr);
    EXPECT_EQ(m_dir->TakeError().GetCode(), FileErrors::kOpenFailed);
}

TEST_F(PosixDirIterator, CompareIdentifiersUsesNativeNames)
{
    const char a[] = "a";
    const char b[] = "b";
    the_identifier first(u"a", a, sizeof a);
    the_identifier second(u"b", b, sizeof b);
    the_identifier none(u"a", nullptr, 0);
    EXPECT_LT(m_dir->CompareIdentifiers(&first, &second), 0);
    EXPECT_GT(m_dir->CompareIdentifiers(&second, &first), 0);
    EXPECT_EQ(m_dir->CompareIdentifiers(&first, &first), 0);
    EXPECT_EQ(m_dir->CompareIdentifiers(&none, nullptr), 0);
    EXPECT_EQ(m_dir->CompareIdentifiers(&none, &first), -1);
    EXPECT_EQ(m_dir->CompareIdentifiers(&first, nullptr), 1);
}

TEST_F(PosixDirIterator, EmptyAndMissingDirectories)
{
    mkdir(Path("empty").c_str(), 0755);
    posix_dir empty(Path("empty"));
    std::unique_ptr<i_dir::iterator> none(empty.GetIterator());
    ASSERT_NE(none, nullptr);
    EXPECT_TRUE(empty.IsClear());
    EXPECT_THAT(none->TakeError(),
                FileError(FileErrors::kEndOfFile, u"The end of the file has been reached.", Path("empty") + "/"));
    // With no entry the status queries fail the slot and answer the defaults.
    EXPECT_EQ(none->GetSize(), 0u);
    EXPECT_THAT(none->TakeError(), FileError(FileErrors::kReadFailed, u"Error occurred while reading the file."));
    EXPECT_EQ(none->GetAllocatedSize(), 0u);
    EXPECT_EQ(none->TakeError().GetCode(), FileErrors::kReadFailed);
    EXPECT_TRUE(none->IsHidden());
    EXPECT_EQ(std::u16string(none->GetName()), u"");

    posix_dir missing(Path("missing"));
    EXPECT_EQ(missing.GetIterator(), nullptr);
    EXPECT_THAT(missing.TakeError(),
                FileError(FileErrors::kNotFound, u"The specified file does not exist.", Path("missing")));

    EXPECT_EQ(m_dir->GetIterator(u"missing"), nullptr);
    const Common::Error error = m_dir->TakeError();
    EXPECT_THAT(error, FileError(FileErrors::kNotFound, u"The specified file does not exist.", Path("missing")));
    EXPECT_THAT(error, CausedBy(IsPosixError(ENOENT)));
}

TEST_F(PosixDirIterator, TypeComesFromTheEntryWithoutStatus)
{
    mkdir(Path("sub").c_str(), 0755);
    std::unique_ptr<i_dir::iterator> entries(m_dir->GetIterator());
    ASSERT_NE(entries, nullptr);
    ASSERT_TRUE(entries->IsClear());
    DIR* probe = opendir(m_root.c_str());
    bool typed = false;
    while (const dirent* entry = readdir(probe))
        if (std::string(entry->d_name) == "sub")
            typed = entry->d_type == DT_DIR;
    closedir(probe);
    if (!typed)
        GTEST_SKIP() << "the file system does not fill d_type";
    // Gone from the disk, but the entry still tells its type.
    ASSERT_EQ(rmdir(Path("sub").c_str()), 0);
    EXPECT_EQ(entries->GetType(), ITEM_DIRECTORY);
    EXPECT_TRUE(entries->IsClear());
    // Any other query reads the status and fails.
    EXPECT_EQ(entries->GetSize(), 0u);
    EXPECT_THAT(entries->TakeError(),
                FileError(FileErrors::kNotFound, u"The specified file does not exist.", Path("sub")));
}

// FIFO, character device, symbolic link and hard link made through the
// directory; both kinds of iterator agree with lstat.
TEST_F(PosixDirIterator, SpecialItemsAgreeWithLstat)
{
    WriteFile(Path("file"), "twelve bytes");
    m_dir->CreateDeviceNode(u"fifo", ITEM_FIFO, 0640, 0, 0);
    ASSERT_TRUE(m_dir->IsClear());
    m_dir->CreateSymLink(u"link", u"../t", ITEM_SYMLINK, 0);
    ASSERT_TRUE(m_dir->IsClear());
    m_dir->CreateHardLink(u"hard", u"file");
    ASSERT_TRUE(m_dir->IsClear());
    bool haveDevice = true;
    m_dir->CreateDeviceNode(u"null", ITEM_CHAR_DEVICE, 0600, 1, 3);
    if (m_dir->IsFailed()) {
        const Common::Error error = m_dir->TakeError();
        haveDevice = false;
        EXPECT_THAT(error, CausedBy(::testing::AnyOf(IsPosixError(EPERM), IsPosixError(EACCES))));
    }

    std::map<std::string, uint32_t> expectedTypes = {
        {"file", ITEM_REGULAR}, {"fifo", ITEM_FIFO}, {"link", ITEM_SYMLINK}, {"hard", ITEM_REGULAR}};
    if (haveDevice) {
        expectedTypes["null"] = ITEM_CHAR_DEVICE;
        struct stat status;
        ASSERT_EQ(lstat(Path("null").c_str(), &status), 0);
        EXPECT_TRUE(S_ISCHR(status.st_mode));
        EXPECT_EQ(major(status.st_rdev), 1u);
        EXPECT_EQ(minor(status.st_rdev), 3u);
    }

    std::map<std::string, uint32_t> seen;
    std::unique_ptr<i_dir::iterator> entries(m_dir->GetIterator());
    ASSERT_NE(entries, nullptr);
    for (; entries->IsClear(); entries->Next()) {
        const std::string name = UnicodeToNativeName(entries->GetName());
        seen[name] = entries->GetType();
        ExpectMatchesLstat(*entries, Path(name));
    }
    EXPECT_EQ(entries->TakeError().GetCode(), FileErrors::kEndOfFile);
    EXPECT_EQ(seen, expectedTypes);

    for (const auto& [name, type] : expectedTypes) {
        const std::u16string text(name.begin(), name.end());
        std::unique_ptr<i_dir::iterator> item(m_dir->GetIterator(text.c_str()));
        ASSERT_NE(item, nullptr) << name;
        EXPECT_EQ(item->GetType(), type) << name;
        ExpectMatchesLstat(*item, Path(name));
    }
    if (haveDevice) {
        std::unique_ptr<i_dir::iterator> item(m_dir->GetIterator(u"null"));
        EXPECT_EQ(item->GetDeviceMajor(), 1u);
        EXPECT_EQ(item->GetDeviceMinor(), 3u);
    }
    std::unique_ptr<i_dir::iterator> hard(m_dir->GetIterator(u"hard"));
    EXPECT_EQ(hard->GetLinkCount(), 2u);
    EXPECT_EQ(hard->GetSize(), 12u);
}

TEST_F(PosixDirIterator, LinkTargetIsReadOnceAndOnlyForLinks)
{
    WriteFile(Path("file"), "x");
    ASSERT_EQ(symlink("../t\xff", Path("link").c_str()), 0);
    std::unique_ptr<i_dir::iterator> file(m_dir->GetIterator(u"file"));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->GetLinkTarget(), nullptr);

    std::unique_ptr<i_dir::iterator> link(m_dir->GetIterator(u"link"));
    ASSERT_NE(link, nullptr);
    const char16_t* first = link->GetLinkTarget();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(std::u16string(first), u"../t\uF8FF");
    // Changing the link afterwards does not change the answer: it is kept.
    ASSERT_EQ(unlink(Path("link").c_str()), 0);
    ASSERT_EQ(symlink("elsewhere", Path("link").c_str()), 0);
    EXPECT_EQ(std::u16string(link->GetLinkTarget()), u"../t\uF8FF");

    // The readdir iterator stats on every query but still reads the target once.
    std::unique_ptr<i_dir::iterator> entries(m_dir->GetIterator());
    ASSERT_NE(entries, nullptr);
    for (; entries->IsClear(); entries->Next()) {
        if (std::u16string(entries->GetName()) != u"link")
            continue;
        ASSERT_NE(entries->GetLinkTarget(), nullptr);
        EXPECT_EQ(std::u16string(entries->GetLinkTarget()), u"elsewhere");
        ASSERT_EQ(unlink(Path("link").c_str()), 0);
        ASSERT_EQ(symlink("third", Path("link").c_str()), 0);
        EXPECT_EQ(std::u16string(entries->GetLinkTarget()), u"elsewhere");
    }
}

TEST_F(PosixDirIterator, SelfIteratorNextFailsUntilTheErrorIsTaken)
{
    WriteFile(Path("file"), "0123456789");
    std::unique_ptr<i_dir::iterator> item(m_dir->GetIterator(u"file"));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(std::u16string(item->GetName()), u"file");
    item->Next();
    EXPECT_THAT(item->GetError(), FileError(FileErrors::kNotSupported, u"The operation is not supported."));
    EXPECT_EQ(item->GetSize(), 0u);
    EXPECT_EQ(item->GetUnixMode(), 0xFFFFFFFFu);
    EXPECT_EQ(item->GetModificationTime(), 0);
    EXPECT_EQ(item->GetLinkCount(), 1u);
    EXPECT_TRUE(item->IsHidden());
    EXPECT_EQ(item->GetError().GetCode(), FileErrors::kNotSupported);
    (void)item->TakeError(); // only clears the held error
    // The status read when it was made answers again, even after the file is gone.
    ASSERT_EQ(unlink(Path("file").c_str()), 0);
    EXPECT_EQ(item->GetSize(), 10u);
    EXPECT_FALSE(item->IsHidden());
}

TEST_F(PosixDirIterator, SelfIteratorsOfTheDirectoryAndOfTheRoot)
{
    std::unique_ptr<i_dir::iterator> self(m_dir->GetSelfIterator());
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(self->GetType(), ITEM_DIRECTORY);
    const std::string leaf = m_root.substr(m_root.rfind('/') + 1);
    EXPECT_EQ(UnicodeToNativeName(self->GetName()), leaf);

    posix_dir root("/");
    std::unique_ptr<i_dir::iterator> top(root.GetSelfIterator());
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(std::u16string(top->GetName()), u"/");
    EXPECT_EQ(top->GetType(), ITEM_DIRECTORY);

    posix_dir gone(Path("gone"));
    EXPECT_EQ(gone.GetSelfIterator(), nullptr);
    EXPECT_EQ(gone.TakeError().GetCode(), FileErrors::kNotFound);
}

TEST_F(PosixDirIterator, SparseFileAllocatesLessThanItsSize)
{
    const int fd = open(Path("sparse").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 8 << 20), 0);
    close(fd);
    std::unique_ptr<i_dir::iterator> item(m_dir->GetIterator(u"sparse"));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->GetSize(), 8u << 20);
    EXPECT_LT(item->GetAllocatedSize(), item->GetSize());
}

} // namespace
