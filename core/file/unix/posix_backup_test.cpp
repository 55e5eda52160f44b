#include "core/file/unix/posix_backup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/common/file_errors.h"
#include "core/file/backup_test_support.h"
#include "core/file/unix/posix_backup_test_support.h"
#include "core/file/unix/posix_dir_test_support.h"
#include "core/file/unix/the_identifier.h"
#include "testing/error_matchers.h"

namespace {

using namespace posix_dir_test;
using namespace BackupTest;
using namespace PosixBackupTest;
using Testing::CausedBy;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Testing::ErrorIs;
using Testing::HasText;
using Testing::IsSuccessError;
using Testing::RaisedAt;

std::string U32(uint32_t value)
{
    std::string bytes;
    Append(bytes, value);
    return bytes;
}

// The POSIX attribute record python's view calls for.
std::string ExpectedRecord(const PythonView& view, uint32_t type)
{
    std::string record;
    uint32_t size = 20;
    if (type == 1 || type == 2)
        size = 28;
    if (type == 5)
        size = static_cast<uint32_t>(24 + 2 * view.link.size());
    Append(record, size);
    Append(record, type);
    Append(record, view.uid);
    Append(record, view.gid);
    Append(record, view.mode);
    if (type == 1 || type == 2) {
        Append(record, view.major);
        Append(record, view.minor);
    }
    if (type == 5) {
        Append(record, static_cast<uint16_t>(view.link.size()));
        for (char c : view.link)
            Append(record, static_cast<char16_t>(c));
        Append(record, char16_t{0});
    }
    return record;
}

std::vector<std::string> ExpectedXattrRecords(const PythonView& view)
{
    std::vector<std::string> records;
    for (const auto& [name, value] : view.xattrs) {
        std::string record;
        Append(record, static_cast<uint16_t>(name.size() + 1));
        Append(record, static_cast<uint64_t>(value.size()));
        record += name;
        record.push_back('\0');
        record += value;
        records.push_back(record);
    }
    return records;
}

using PosixBackupTree = ItemTree;

TEST_F(PosixBackupTree, EveryItemTypeGivesItsChunksAndPayloads)
{
    std::vector<std::string> names = {"file", "empty", "sub", "link", "fifo"};
    if (m_haveDevice)
        names.push_back("chardev");
    const std::map<std::string, PythonView> python = AskPython(m_root, names);
    ASSERT_EQ(python.size(), names.size()) << "python3 could not describe the tree";

    struct Case
    {
        std::string name;
        uint32_t type;
        std::vector<uint32_t> types; // without chunk 8, which depends on the file system
        std::string data;
    };
    std::vector<Case> cases = {
        {"file", 0, {1, 4, 5, 6, 7}, m_content}, {"empty", 0, {1, 4, 5, 6, 7}, ""}, {"sub", 128, {1, 6, 7}, ""},
        {"link", 5, {1, 5, 6, 7}, ""},           {"fifo", 3, {1, 5, 6, 7}, ""},
    };
    if (m_haveDevice)
        cases.push_back({"chardev", 1, {1, 5, 6, 7}, ""});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PythonView& view = python.at(c.name);
        RecordingSink sink;
        ASSERT_THAT(Backup(*m_dir, c.name, sink), IsSuccessError());

        std::vector<uint32_t> types = c.types;
        const uint32_t flags = InodeFlags(Path(c.name));
        if ((c.type == 0 || c.type == 128) && flags != 0)
            types.push_back(8);
        ASSERT_THAT(sink.Types(), ElementsAreArray(types));

        EXPECT_EQ(sink.Find(1)->Bytes(), U32(c.type == 128 ? 0x10 : 0));
        if (const Chunk* data = sink.Find(4)) {
            EXPECT_EQ(data->Bytes(), c.data);
            for (size_t i = 0; i + 1 < data->buffers.size(); ++i)
                EXPECT_EQ(data->buffers[i].size(), 16384u);
            if (c.data.empty()) {
                EXPECT_TRUE(data->buffers.empty()) << "an empty file writes no buffer";
            }
        }
        if (const Chunk* times = sink.Find(5)) {
            std::string expected;
            Append(expected, static_cast<int64_t>(view.mtimeNs / 1000000));
            Append(expected, int64_t{0});
            EXPECT_EQ(times->Bytes(), expected);
        }
        EXPECT_EQ(sink.Find(6)->Bytes(), ExpectedRecord(view, c.type));
        EXPECT_THAT(sink.Find(7)->buffers, ElementsAreArray(ExpectedXattrRecords(view)));
        if (const Chunk* inode = sink.Find(8)) {
            EXPECT_EQ(inode->Bytes(), U32(flags));
        }
    }
}

TEST_F(PosixBackupTree, TheXattrOfTheFileIsItsOwnRecord)
{
    RecordingSink sink;
    ASSERT_THAT(Backup(*m_dir, "file", sink), IsSuccessError());
    std::string record;
    Append(record, uint16_t{10});
    Append(record, uint64_t{11});
    record += std::string("user.test\0hello\0world", 21);
    EXPECT_THAT(sink.Find(7)->buffers, ::testing::Contains(record));
}

// The directory itself, with an entry of its own name inside: the flags come
// from the directory, not from that entry.
TEST_F(PosixBackupTree, TheDirectoryItselfReadsItsOwnFlags)
{
    const std::string inner = Path("sub") + "/sub";
    WriteFile(inner, "inner");
    const int fd = open(inner.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    int flags = 0;
    const bool flagsWork = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags |= FS_NODUMP_FL;
    const bool setWorks = flagsWork && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    close(fd);
    if (!setWorks)
        GTEST_SKIP() << "the file system keeps no inode flags";
    const uint32_t own = InodeFlags(Path("sub"));
    ASSERT_NE(own, InodeFlags(inner));

    posix_dir sub(Path("sub"));
    RecordingSink sink;
    ASSERT_THAT(Backup(sub, "", sink), IsSuccessError());
    std::vector<uint32_t> types = {1, 6, 7};
    if (own != 0)
        types.push_back(8);
    ASSERT_THAT(sink.Types(), ElementsAreArray(types));
    EXPECT_EQ(sink.Find(1)->Bytes(), U32(0x10));
    if (own != 0) {
        EXPECT_EQ(sink.Find(8)->Bytes(), U32(own));
    }
    struct stat status;
    ASSERT_EQ(lstat(Path("sub").c_str(), &status), 0);
    EXPECT_EQ(sink.Find(6)->Bytes().substr(16, 4), U32(status.st_mode));
}

TEST_F(PosixBackupTree, FlagsLeaveOutDataOrAttributes)
{
    const uint32_t inode = InodeFlags(Path("file"));
    const struct
    {
        uint32_t flags;
        std::vector<uint32_t> types;
    } cases[] = {{4, {1, 5, 6, 7}}, {8, {4, 7}}, {12, {7}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        RecordingSink sink;
        ASSERT_THAT(Backup(*m_dir, "file", sink, c.flags), IsSuccessError());
        std::vector<uint32_t> types = c.types;
        if (inode != 0)
            types.push_back(8);
        EXPECT_THAT(sink.Types(), ElementsAreArray(types));
    }
}

TEST_F(PosixBackupTree, ProgressReportsTheRunningTotal)
{
    RecordingSink sink;
    sink.takeOverBuffers = true;
    TestProgress progress;
    ASSERT_THAT(Backup(*m_dir, "file", sink, 0, &progress), IsSuccessError());
    EXPECT_THAT(progress.reports, ElementsAre(16384u, 32768u, 40000u));
    EXPECT_EQ(sink.Find(4)->Bytes(), m_content);
}

TEST_F(PosixBackupTree, CancellationIsWrappedWithThePathAndTheName)
{
    const struct
    {
        int cancelAfter; // questions answered "go on" first
        uint32_t line;
        size_t buffersWritten;
    } cases[] = {{0, 242, 0}, {1, 258, 0}, {2, 242, 1}, {3, 258, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cancelAfter);
        RecordingSink sink;
        TestProgress progress;
        progress.cancelAfter = c.cancelAfter;
        const Common::Error error = Backup(*m_dir, "file", sink, 0, &progress);
        EXPECT_THAT(error, ErrorIs(0x40019));
        EXPECT_THAT(error, HasText(u"Error occurred while backing up."));
        EXPECT_THAT(error, RaisedAt("core/file/backup", "CommonBackupFile", 103));
        EXPECT_EQ(std::u16string(error.GetWideTextParameter("path")), Wide(m_root) + u"/");
        EXPECT_EQ(std::u16string(error.GetWideTextParameter("name")), u"file");
        EXPECT_STREQ(error.GetParameterNames(), "path,name,$module");
        EXPECT_THAT(error, CausedBy(ErrorIs(0x4000F)));
        EXPECT_THAT(error.GetCause(), HasText(u"Canceled."));
        EXPECT_THAT(error.GetCause(), RaisedAt("core/file/backup", "BackupPlainStream", c.line));
        ASSERT_THAT(sink.Types(), ElementsAre(1u, 4u));
        EXPECT_EQ(sink.Find(4)->buffers.size(), c.buffersWritten);
    }
}

TEST_F(PosixBackupTree, RefusedChunksAndFailedWritesEndTheBackup)
{
    const Common::Error refused(0x40003, u"refused", Common::NoLocation);
    const struct
    {
        const char* what;
        uint32_t refuseType;
        uint32_t failType;
        bool wrapped;
        std::vector<uint32_t> types;
    } cases[] = {
        {"attribute word refused", 1, 0, true, {}},
        {"data refused", 4, 0, true, {1}},
        {"data write failed", 0, 4, true, {1, 4}},
        {"times write failed", 0, 5, true, {1, 4, 5}},
        {"record refused", 6, 0, true, {1, 4, 5}},
        {"xattrs refused", 7, 0, false, {1, 4, 5, 6}},
        {"xattr write failed", 0, 7, false, {1, 4, 5, 6, 7}},
        {"inode flags refused", 8, 0, false, {1, 4, 5, 6, 7}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.refuseType == 8 && InodeFlags(Path("file")) == 0)
            continue; // no chunk 8 is asked for
        RecordingSink sink;
        if (c.refuseType)
            sink.refuse[c.refuseType] = refused;
        if (c.failType)
            sink.failWrites[c.failType] = refused;
        const Common::Error error = Backup(*m_dir, "file", sink);
        EXPECT_THAT(sink.Types(), ElementsAreArray(c.types));
        if (c.wrapped) {
            EXPECT_THAT(error, ErrorIs(0x40019));
            EXPECT_THAT(error, CausedBy(HasText(u"refused")));
        } else {
            EXPECT_THAT(error, HasText(u"refused"));
        }
    }
}

TEST_F(PosixBackupTree, ARefusalWithoutAReasonIsStillAFailure)
{
    RecordingSink sink;
    sink.refuse[6] = Common::Success;
    const Common::Error error = Backup(*m_dir, "fifo", sink);
    EXPECT_THAT(error, ErrorIs(0x40019));
    EXPECT_THAT(error, CausedBy(ErrorIs(0x40003)));
}

TEST_F(PosixBackupTree, AMissingItemIsTheDirectorysError)
{
    RecordingSink sink;
    const Common::Error error = Backup(*m_dir, "missing", sink);
    EXPECT_THAT(error, ErrorIs(0x40011));
    EXPECT_STREQ(error.GetTextParameter("path"), Path("missing").c_str());
    EXPECT_TRUE(sink.chunks.empty());
}

} // namespace
