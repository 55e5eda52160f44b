#include "core/file/unix/posix_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "core/common/file_errors.h"
#include "core/file/unix/posix_open.h"
#include "testing/error_matchers.h"
#include "testing/temporary_folder.h"

namespace {

using ::testing::AllOf;
using Testing::CausedBy;
using Testing::ErrorIs;
using Testing::HasLineTag;
using Testing::HasPosixCause;
using Testing::IsPosixError;
using Testing::RaisedAt;

const char* const kSourcePath = "core/file/unix/posixsp";

class PosixFile : public ::testing::Test
{
protected:
    std::string PathOf(const char* name) const { return m_folder.PathOf(name); }
    std::string MakeFile(const char* name, const std::string& content) { return m_folder.Write(name, content); }

    static std::string Contents(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream buffer;
        buffer << in.rdbuf();
        return buffer.str();
    }

    std::unique_ptr<posix_file> Open(const std::string& path, int flags, bool rangeLocks)
    {
        std::unique_ptr<posix_file> file(OpenPosixFile(m_owner, path, flags, rangeLocks, 0644));
        EXPECT_EQ(file != nullptr, m_owner.IsClear());
        return file;
    }

    Testing::TemporaryFolder m_folder{"posix_file_test"};
    file_object m_owner; // stands for the directory whose slot receives open failures
};

// Raised at `line` of `function` in posixsp, with that line's LineTag.
auto RaisedInPosixSp(const char* function, uint32_t line)
{
    return AllOf(RaisedAt(kSourcePath, function, line), HasLineTag(Common::HashSourcePath(kSourcePath) + line));
}

// The descriptor the next open would get: unchanged by an open that failed
// without leaking one.
int LowestFreeDescriptor()
{
    const int probe = dup(0);
    close(probe);
    return probe;
}

// Another process holding a record lock on a whole file until destroyed.
class LockHolder
{
public:
    LockHolder(const std::string& path, short type)
    {
        int toParent[2], toChild[2];
        if (pipe(toParent) != 0 || pipe(toChild) != 0)
            std::abort();
        m_pid = fork();
        if (m_pid == 0) {
            close(toParent[0]);
            close(toChild[1]);
            const int fd = open(path.c_str(), type == F_WRLCK ? O_RDWR : O_RDONLY);
            struct flock lock = {};
            lock.l_type = type;
            lock.l_whence = SEEK_SET;
            const char locked = fd >= 0 && fcntl(fd, F_SETLK, &lock) == 0 ? 1 : 0;
            if (write(toParent[1], &locked, 1) != 1)
                _exit(2);
            char ignored;
            while (read(toChild[0], &ignored, 1) > 0) {} // the parent closing its end ends the wait
            _exit(0);
        }
        close(toParent[1]);
        close(toChild[0]);
        m_release = toChild[1];
        char locked = 0;
        m_locked = read(toParent[0], &locked, 1) == 1 && locked == 1;
        close(toParent[0]);
    }
    ~LockHolder()
    {
        close(m_release);
        int status = 0;
        waitpid(m_pid, &status, 0);
    }
    bool IsLocked() const { return m_locked; }

private:
    pid_t m_pid = -1;
    int m_release = -1;
    bool m_locked = false;
};

// ---- reading and the main road ----------------------------------------------

TEST_F(PosixFile, ReadAllOfMoreThanTheFileStoresEndOfFile)
{
    const std::string path = MakeFile("ten", "0123456789");
    auto file = Open(path, O_RDONLY, true);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->GetSize(), 10u);
    char buffer[16] = {};
    EXPECT_EQ(file->Read(buffer, 16), 10u);
    EXPECT_EQ(std::string(buffer, 10), "0123456789");
    const Common::Error error = file->TakeError();
    EXPECT_EQ(error.GetCode(), 0x40002u);
    EXPECT_EQ(error.GetText(), u"The end of the file has been reached.");
    EXPECT_EQ(error.GetLocation().LineTag, 0xd18a9c757ef132f0ull);
    EXPECT_STREQ(error.GetLocation().file, "core/include/file/file");

    // At the end: a zero count and a clear slot.
    uint64_t count = 99;
    file->Read(buffer, 4, &count);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(file->IsClear());
}

TEST_F(PosixFile, OpenSizeReadAllIsTheWholeFile)
{
    std::string content(70000, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7);
    const std::string path = MakeFile("whole", content);
    auto file = Open(path, O_RDONLY, false); // whole-file shared lock
    ASSERT_TRUE(file);
    const uint64_t size = file->GetSize();
    ASSERT_EQ(size, content.size());
    std::string read(size, '\0');
    EXPECT_EQ(file->Read(read.data(), size), size);
    EXPECT_TRUE(file->TakeError().IsSuccess());
    EXPECT_EQ(read, content);
    EXPECT_EQ(fcntl(file->GetDescriptor(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
}

TEST_F(PosixFile, FailedReadAndWriteKeepTheFirstFailure)
{
    const std::string path = MakeFile("rw", "abc");
    auto writer = Open(path, O_WRONLY, true);
    ASSERT_TRUE(writer);
    char buffer[4];
    uint64_t count = 99;
    writer->Read(buffer, 3, &count); // EBADF
    EXPECT_EQ(count, 0u);
    const Common::Error readError = writer->GetError();
    EXPECT_EQ(readError.GetCode(), 0x40001u);
    EXPECT_EQ(readError.GetText(), u"Error occurred while reading the file.");
    EXPECT_THAT(readError, RaisedInPosixSp("Read", 330));
    EXPECT_THAT(readError, CausedBy(IsPosixError(EBADF)));

    // Keep-first: nothing happens until the error is taken.
    writer->Write("xyz", 3, &count);
    EXPECT_EQ(count, 0u);
    writer->Truncate(0);
    writer->Flush();
    control_request unknown{MakeControlCode("ZZZZ")};
    writer->IOCTL(&unknown);
    EXPECT_EQ(writer->GetError().GetRecord(), readError.GetRecord());
    EXPECT_EQ(Contents(path), "abc");
    (void)writer->TakeError(); // only clears the held error
    EXPECT_EQ(writer->Write("xyz", 3), 3u);
    EXPECT_TRUE(writer->IsClear());
    EXPECT_EQ(Contents(path), "xyz");

    auto reader = Open(path, O_RDONLY, true);
    ASSERT_TRUE(reader);
    reader->Write("q", 1, &count);
    const Common::Error writeError = reader->TakeError();
    EXPECT_EQ(writeError.GetCode(), 0x40003u);
    EXPECT_EQ(writeError.GetText(), u"Error occurred while writing to the file.");
    EXPECT_THAT(writeError, RaisedInPosixSp("Write", 361));
    EXPECT_THAT(writeError, CausedBy(IsPosixError(EBADF)));
}

// ---- positioning, truncation, flushing --------------------------------------

TEST_F(PosixFile, PositioningReplacesTheSlot)
{
    const std::string path = MakeFile("hundred", std::string(100, 'h'));
    auto file = Open(path, O_RDWR, true);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->SeekEnd(-10), 90u);
    EXPECT_EQ(file->Move(-30), 60u);
    EXPECT_EQ(file->GetSize(), 100u);
    EXPECT_EQ(file->Move(0), 60u); // GetSize kept the position
    file->Rewind();
    EXPECT_EQ(file->Move(0), 0u);

    EXPECT_EQ(file->Move(-1), 0u); // before the start
    const Common::Error error = file->GetError();
    EXPECT_EQ(error.GetCode(), 0x40005u);
    EXPECT_EQ(error.GetText(), u"Error occurred while searching in the file.");
    EXPECT_THAT(error, RaisedInPosixSp("Seek", 388));
    EXPECT_THAT(error, CausedBy(IsPosixError(EINVAL)));
    EXPECT_EQ(file->Seek(UINT64_MAX), 0u); // beyond any file offset
    EXPECT_THAT(file->GetError(), AllOf(ErrorIs(0x40005), RaisedAt(kSourcePath, "Seek", 388), HasPosixCause(EINVAL)));
    EXPECT_EQ(file->Seek(5), 5u);
    EXPECT_TRUE(file->IsClear());
}

TEST_F(PosixFile, TruncateAndFlush)
{
    const std::string path = MakeFile("cut", "0123456789");
    auto file = Open(path, O_RDWR, true);
    ASSERT_TRUE(file);
    file->Truncate(4);
    file->Flush();
    EXPECT_TRUE(file->IsClear());
    EXPECT_EQ(Contents(path), "0123");

    auto reader = Open(path, O_RDONLY, true);
    ASSERT_TRUE(reader);
    reader->Truncate(0);
    const Common::Error error = reader->TakeError();
    EXPECT_EQ(error.GetCode(), 0x40003u);
    EXPECT_THAT(error, RaisedInPosixSp("Truncate", 429));
    EXPECT_EQ(Contents(path), "0123");

    file->Truncate(UINT64_MAX); // beyond any file offset
    EXPECT_THAT(file->TakeError(),
                AllOf(ErrorIs(0x40003), RaisedAt(kSourcePath, "Truncate", 429), HasPosixCause(EFBIG)));
    EXPECT_EQ(Contents(path), "0123");
}

// ---- opening ------------------------------------------------------------------

TEST_F(PosixFile, OpeningAMissingFileFailsWithItsPath)
{
    const std::string path = PathOf("missing");
    auto file = Open(path, O_RDONLY, false);
    EXPECT_FALSE(file);
    const Common::Error error = m_owner.TakeError();
    EXPECT_EQ(error.GetCode(), 0x40011u);
    EXPECT_EQ(error.GetText(), u"The specified file does not exist.");
    EXPECT_STREQ(error.GetTextParameter("path"), path.c_str());
    EXPECT_THAT(error, RaisedInPosixSp("Open", 671));
    EXPECT_THAT(error, CausedBy(IsPosixError(ENOENT)));
}

TEST_F(PosixFile, SuccessfulOpenClearsTheOwnersSlot)
{
    const std::string path = MakeFile("ok", "x");
    m_owner.SetError(Common::Error(0x40011, Common::NoLocation));
    auto file = Open(path, O_RDONLY, false);
    EXPECT_TRUE(file);
    EXPECT_TRUE(m_owner.IsClear());
}

TEST_F(PosixFile, TruncatingOpenTruncatesUnderTheLock)
{
    const std::string path = MakeFile("trunc", "old contents");
    auto file = Open(path, O_RDWR | O_TRUNC, false);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->GetSize(), 0u);
    EXPECT_EQ(Contents(path), "");
}

TEST_F(PosixFile, FailedTruncationAfterTheLockClosesTheFile)
{
    // A read-only descriptor takes the lock, then cannot be truncated.
    const std::string path = MakeFile("ro", "keep me");
    const int lowestFree = LowestFreeDescriptor();
    auto file = Open(path, O_RDONLY | O_TRUNC, false);
    EXPECT_FALSE(file);
    EXPECT_EQ(LowestFreeDescriptor(), lowestFree); // the descriptor was closed
    const Common::Error error = m_owner.TakeError();
    EXPECT_EQ(error.GetCode(), 0x40007u);
    EXPECT_EQ(error.GetText(), u"Error occurred while opening the file.");
    EXPECT_STREQ(error.GetTextParameter("path"), path.c_str());
    EXPECT_THAT(error, RaisedInPosixSp("Open", 722));
    const Common::Error cause = error.GetCause();
    EXPECT_EQ(cause.GetCode(), 0x40003u);
    EXPECT_THAT(cause, RaisedInPosixSp("Truncate", 429));
    EXPECT_EQ(cause.GetCause().GetCode(), Common::kPosixErrorCode);
    EXPECT_EQ(Contents(path), "keep me");
}

// ---- locks --------------------------------------------------------------------

TEST_F(PosixFile, OpenWithoutRangeLocksFailsOnAnotherProcesssLock)
{
    const std::string path = MakeFile("locked", "precious");
    LockHolder holder(path, F_WRLCK);
    ASSERT_TRUE(holder.IsLocked());

    const int lowestFree = LowestFreeDescriptor();
    for (int flags : {O_RDWR, O_RDWR | O_TRUNC, O_RDONLY, O_WRONLY | O_TRUNC}) {
        SCOPED_TRACE(flags);
        auto file = Open(path, flags, false);
        EXPECT_FALSE(file);
        EXPECT_EQ(LowestFreeDescriptor(), lowestFree); // the descriptor was closed
        const Common::Error error = m_owner.TakeError();
        EXPECT_EQ(error.GetCode(), 0x40014u);
        EXPECT_EQ(error.GetText(), u"Access to the file is denied.");
        EXPECT_EQ(error.GetTextParameter("path"), nullptr);
        EXPECT_THAT(error, RaisedInPosixSp("Open", 708));
        const Common::Error lock = error.GetCause();
        EXPECT_EQ(lock.GetCode(), 0x40017u);
        EXPECT_EQ(lock.GetText(), u"Failed to lock the file.");
        EXPECT_THAT(lock, RaisedInPosixSp("DoLockFileHandle", 189));
        const Common::Error posix = lock.GetCause();
        EXPECT_EQ(posix.GetCode(), Common::kPosixErrorCode);
        const uint64_t code = posix.GetIntegerParameter("code");
        EXPECT_TRUE(code == EAGAIN || code == EACCES) << code;
        EXPECT_EQ(Contents(path), "precious"); // the truncation never happened
    }
}

TEST_F(PosixFile, SharedLocksOfTwoReadersAgree)
{
    const std::string path = MakeFile("shared", "data");
    LockHolder holder(path, F_RDLCK);
    ASSERT_TRUE(holder.IsLocked());
    EXPECT_TRUE(Open(path, O_RDONLY, false));
    EXPECT_FALSE(Open(path, O_RDWR, false));
    (void)m_owner.TakeError(); // only clears the held error
}

TEST_F(PosixFile, RangeLocksActOnlyWhenAsked)
{
    const std::string path = MakeFile("ranges", std::string(64, 'r'));
    LockHolder holder(path, F_WRLCK);
    ASSERT_TRUE(holder.IsLocked());

    auto ranged = Open(path, O_RDWR, true); // no lock at open
    ASSERT_TRUE(ranged);
    ranged->LockExclusive(0, 10, false);
    Common::Error error = ranged->TakeError();
    EXPECT_EQ(error.GetCode(), 0x40017u);
    EXPECT_THAT(error, RaisedInPosixSp("DoLockFileHandle", 189));
    ranged->LockShared(20, 0, false);
    EXPECT_EQ(ranged->TakeError().GetCode(), 0x40017u);
}

TEST_F(PosixFile, RangeLockOperationsOfAWholeFileLockDoNothing)
{
    const std::string path = MakeFile("whole", "w");
    auto file = Open(path, O_RDWR, false);
    ASSERT_TRUE(file);
    file->LockShared(0, 1, false);
    file->LockExclusive(0, 1, true);
    file->Unlock(0, 1);
    EXPECT_TRUE(file->IsClear());

    auto ranged = Open(path, O_RDWR, true);
    ASSERT_TRUE(ranged);
    ranged->LockExclusive(0, 1, true); // same process: no conflict
    ranged->Unlock(0, 1);
    EXPECT_TRUE(ranged->IsClear());
}

// The /proc/locks lines of this process on `inode`.
std::string LocksOf(ino_t inode)
{
    std::ifstream locks("/proc/locks");
    std::string line, found;
    const std::string pid = " " + std::to_string(getpid()) + " ";
    const std::string node = ":" + std::to_string(inode) + " ";
    while (std::getline(locks, line))
        if (line.find(pid) != std::string::npos && line.find(node) != std::string::npos)
            found += line + "\n";
    return found;
}

TEST_F(PosixFile, AWholeFileLockLivesWithTheObject)
{
    const std::string path = MakeFile("proc", "p");
    struct stat status;
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    {
        auto writer = Open(path, O_RDWR, false);
        ASSERT_TRUE(writer);
        const std::string lines = LocksOf(status.st_ino);
        EXPECT_NE(lines.find("POSIX"), std::string::npos) << lines;
        EXPECT_NE(lines.find("WRITE"), std::string::npos) << lines;
        EXPECT_NE(lines.find(" 0 EOF"), std::string::npos) << lines;
    }
    EXPECT_EQ(LocksOf(status.st_ino), "");
    {
        auto reader = Open(path, O_RDONLY, false);
        ASSERT_TRUE(reader);
        EXPECT_NE(LocksOf(status.st_ino).find("READ"), std::string::npos);
    }
    auto ranged = Open(path, O_RDONLY, true);
    ASSERT_TRUE(ranged);
    EXPECT_EQ(LocksOf(status.st_ino), "");
}

// ---- write-all on a full file system ------------------------------------------

// Writes past RLIMIT_FSIZE; 0 when write-all reported a full disk.
int WriteBeyondTheLimit(const std::string& path)
{
    signal(SIGXFSZ, SIG_DFL);
    struct rlimit limit = {4096, 4096};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        return 10;
    file_object owner;
    posix_file* file = OpenPosixFile(owner, path, O_WRONLY | O_CREAT, false, 0644);
    if (!file)
        return 11;
    const std::string data(10000, 'd');
    uint64_t count = 0;
    file->Write(data.data(), data.size(), &count); // short, slot clear
    if (count != 4096 || !file->IsClear())
        return 12;
    file->Seek(0);
    const uint64_t written = file->Write(data.data(), data.size());
    const Common::Error error = file->TakeError();
    delete file;
    if (written != 4096 || error.GetCode() != 0x40004u || error.GetText() != u"The disk is full.")
        return 13;
    return 0;
}

class PosixFileLimit : public PosixFile
{
protected:
    void SetUp() override
    {
        PosixFile::SetUp();
        GTEST_FLAG_SET(death_test_style, "threadsafe");
    }
};

TEST_F(PosixFileLimit, WriteBeyondTheFileSizeLimitIsADiskFullError)
{
    const std::string path = PathOf("limited");
    // A re-executed child: the signal setting of the first writing open is
    // made there afresh.
    EXPECT_EXIT(
        {
            const int result = WriteBeyondTheLimit(path);
            // The child made its own directory in SetUp; it is gone with it.
            unlink(path.c_str());
            rmdir(m_folder.Path().c_str());
            std::exit(result);
        },
        ::testing::ExitedWithCode(0), "");
}

// ---- control requests ---------------------------------------------------------

TEST_F(PosixFile, UnknownControlCodeIsNotSupported)
{
    auto file = Open(MakeFile("ctl", "c"), O_RDWR, true);
    ASSERT_TRUE(file);
    control_request request{MakeControlCode("NOPE")};
    file->IOCTL(&request);
    const Common::Error error = file->TakeError();
    EXPECT_EQ(error.GetCode(), 0x4000Eu);
    EXPECT_EQ(error.GetText(), u"The operation is not supported.");
    EXPECT_STREQ(error.GetLocation().file, "core/common/file_object");
    EXPECT_EQ(error.GetLocation().line, 28u);
    EXPECT_TRUE(error.GetCause().IsSuccess());
}

TEST_F(PosixFile, DeallocatingARangeFreesItsBlocks)
{
    const std::string path = PathOf("sparse");
    auto file = Open(path, O_RDWR | O_CREAT, true);
    ASSERT_TRUE(file);
    const std::string data(1 << 20, 's');
    ASSERT_EQ(file->Write(data.data(), data.size()), data.size());
    file->Flush();
    struct stat before, after;
    ASSERT_EQ(fstat(file->GetDescriptor(), &before), 0);

    posix_file::sdat_request request{MakeControlCode("SDAT"), 0, 1 << 19};
    file->IOCTL(&request);
    if (file->GetError().GetCause().GetIntegerParameter("code") == EOPNOTSUPP)
        GTEST_SKIP() << "the file system cannot deallocate ranges";
    ASSERT_TRUE(file->IsClear()) << file->GetError().GetCode();
    ASSERT_EQ(fstat(file->GetDescriptor(), &after), 0);
    EXPECT_LT(after.st_blocks, before.st_blocks);
    EXPECT_EQ(after.st_size, before.st_size);
    char first = 'x';
    file->Seek(0);
    file->Read(&first, 1);
    EXPECT_EQ(first, '\0');

    posix_file::sdat_request bad{MakeControlCode("SDAT"), UINT64_MAX, 1};
    file->IOCTL(&bad);
    EXPECT_THAT(file->TakeError(), AllOf(ErrorIs(0x40003), RaisedAt(kSourcePath, "IOCTL", 491), HasPosixCause(EINVAL)));
}

TEST_F(PosixFile, SettingTimesAcceptsTimesBefore1970)
{
    const std::string path = MakeFile("times", "t");
    auto file = Open(path, O_RDWR, true);
    ASSERT_TRUE(file);
    posix_file::sftm_request request{MakeControlCode("SFTM"), -1500, 0, 1234567};
    file->IOCTL(&request);
    ASSERT_TRUE(file->IsClear()) << file->GetError().GetCode();
    struct stat status;
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mtim.tv_sec, -2);
    EXPECT_EQ(status.st_mtim.tv_nsec, 500000000);
    EXPECT_EQ(status.st_atim.tv_sec, 1234);
    EXPECT_EQ(status.st_atim.tv_nsec, 567000000);
}

TEST_F(PosixFile, RawControlReportsWithoutFailingTheSlot)
{
    auto file = Open(MakeFile("raw", "12345"), O_RDWR, true);
    ASSERT_TRUE(file);
    int pending = -1;
    posix_file::uioc_request request{MakeControlCode("UIOC"), FIONREAD, &pending, -7, -7};
    file->IOCTL(&request);
    EXPECT_EQ(request.result, 0);
    EXPECT_EQ(request.error, -7); // untouched on success
    EXPECT_EQ(pending, 5);

    posix_file::uioc_request bad{MakeControlCode("UIOC"), 0x7f7f, nullptr, 0, 0};
    file->IOCTL(&bad);
    EXPECT_EQ(bad.result, -1);
    EXPECT_EQ(bad.error, ENOTTY);
    EXPECT_TRUE(file->IsClear());
}

TEST_F(PosixFile, AppendModeWritesAtTheEnd)
{
    const std::string path = MakeFile("append", "head");
    auto file = Open(path, O_WRONLY, true);
    ASSERT_TRUE(file);
    posix_file::sami_request request{MakeControlCode("SAMI")};
    file->IOCTL(&request);
    ASSERT_TRUE(file->IsClear());
    file->Seek(0);
    EXPECT_EQ(file->Write("tail", 4), 4u);
    EXPECT_EQ(Contents(path), "headtail");
}

TEST_F(PosixFile, InodeFlagsRoundTripOrFailAsWrites)
{
    auto file = Open(MakeFile("flags", "f"), O_RDONLY, true);
    ASSERT_TRUE(file);
    posix_file::ufl_request get{MakeControlCode("GUFL"), 0xdead00000000ull};
    file->IOCTL(&get);
    if (file->IsFailed()) {
        const Common::Error error = file->TakeError();
        EXPECT_EQ(error.GetCode(), 0x40003u);
        EXPECT_THAT(error, RaisedInPosixSp("IOCTL", 472));
        EXPECT_EQ(error.GetCause().GetCode(), Common::kPosixErrorCode);
        return;
    }
    EXPECT_EQ(get.flags >> 32, 0u);
    posix_file::ufl_request set{MakeControlCode("SUFL"), get.flags};
    file->IOCTL(&set);
    EXPECT_TRUE(file->IsClear());
    posix_file::ufl_request again{MakeControlCode("GUFL"), 0};
    file->IOCTL(&again);
    EXPECT_EQ(again.flags, get.flags);
}

TEST_F(PosixFile, SectorOfAHoleIsAllOnes)
{
    const std::string path = PathOf("holes");
    auto file = Open(path, O_RDWR | O_CREAT, true);
    ASSERT_TRUE(file);
    file->Seek(1 << 20);
    ASSERT_EQ(file->Write("end", 3), 3u);
    file->Flush();
    file->Seek(4096); // inside the hole
    posix_file::gsec_request request{MakeControlCode("GSEC"), 0, 0, 9};
    file->IOCTL(&request);
    if (file->IsFailed()) {
        const Common::Error error = file->TakeError();
        EXPECT_EQ(error.GetCode(), 0x4000Eu);
        EXPECT_TRUE(error.GetLocation().line == 526 || error.GetLocation().line == 546);
        GTEST_SKIP() << "the file system does not map blocks";
    }
    EXPECT_EQ(request.sector, UINT64_MAX);
    EXPECT_EQ(request.flag, 0);
    EXPECT_GE(request.sectorsLeft, 1u);

    file->Seek((1 << 20) + 1024); // the written block
    file->IOCTL(&request);
    ASSERT_TRUE(file->IsClear());
    EXPECT_NE(request.sector, UINT64_MAX);
}

} // namespace
