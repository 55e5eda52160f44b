#include "core/file/unix/posix_restore.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/common/assertion.h"
#include "core/common/file_errors.h"
#include "core/common/trace.h"
#include "core/file/unix/posix_backup_test_support.h"
#include "testing/error_matchers.h"

namespace {

using namespace posix_dir_test;
using namespace BackupTest;
using namespace PosixBackupTest;
using ::testing::AllOf;
using Testing::CausedBy;
using ::testing::ElementsAre;
using Testing::ErrorIs;
using Testing::HasText;
using Testing::IsSuccessError;
using Testing::RaisedAt;

// Restores `name` into `directory` through "RSTR".
Common::Error Restore(posix_dir& directory, const std::string& name, PlaybackSource& source, uint32_t flags = 0,
                      backup_progress* progress = nullptr)
{
    const std::u16string wideName = Wide(name);
    rstr_request request{MakeControlCode("RSTR"), {&source, progress, flags}, wideName.c_str()};
    directory.IOCTL(&request);
    EXPECT_EQ(source.liveStreams, 0) << "every chunk stream is destroyed";
    return directory.TakeError();
}

// A POSIX attribute record of 20 bytes plus `extra`.
std::string PosixRecord(uint32_t type, uint32_t mode, const std::string& extra = "", uint32_t size = 0)
{
    return Bytes<uint32_t>(size ? size : static_cast<uint32_t>(20 + extra.size())) + Bytes<uint32_t>(type) +
        Bytes<uint32_t>(0) + Bytes<uint32_t>(0) + Bytes<uint32_t>(mode) + extra;
}

std::string XattrRecord(const std::string& name, const std::string& value)
{
    return Bytes<uint16_t>(static_cast<uint16_t>(name.size() + 1)) + Bytes<uint64_t>(value.size()) + name +
        std::string(1, '\0') + value;
}

// Backup of a tree, restore of every item into an empty directory, and
// python's view of both sides.
class PosixRoundTrip : public ItemTree
{
protected:
    void SetUp() override
    {
        ItemTree::SetUp();
        if (HasFatalFailure())
            return;
        m_target = Path("restored");
        ASSERT_EQ(mkdir(m_target.c_str(), 0755), 0);
        // Distinct millisecond times, set on every item that keeps them.
        int64_t ms = 1234567890123;
        for (const std::string& name : Names()) {
            const timeval times[2] = {{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)},
                                      {static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)}};
            if (name != "link") {
                ASSERT_EQ(utimes(Path(name).c_str(), times), 0);
            }
            ms += 1111;
        }
        ASSERT_EQ(chmod(Path("file").c_str(), 0604), 0);
    }

    std::string m_target;
};

TEST_F(PosixRoundTrip, EveryItemComesBackAsItWas)
{
    posix_dir target(m_target);
    for (const std::string& name : Names()) {
        SCOPED_TRACE(name);
        RecordingSink sink;
        ASSERT_THAT(Backup(*m_dir, name, sink), IsSuccessError());
        PlaybackSource source(sink.chunks);
        ASSERT_THAT(Restore(target, name, source), IsSuccessError());
        EXPECT_EQ(source.next, source.chunks.size());
    }

    const std::map<std::string, PythonView> before = AskPython(m_root, Names());
    const std::map<std::string, PythonView> after = AskPython(m_target, Names());
    ASSERT_EQ(before.size(), Names().size());
    ASSERT_EQ(after.size(), Names().size());
    for (const std::string& name : Names()) {
        SCOPED_TRACE(name);
        const PythonView& was = before.at(name);
        const PythonView& is = after.at(name);
        EXPECT_EQ(is.mode & S_IFMT, was.mode & S_IFMT) << "item type";
        if (!S_ISLNK(was.mode)) {
            EXPECT_EQ(is.mode, was.mode);
        } else {
            EXPECT_EQ(is.link, was.link);
        }
        if (S_ISREG(was.mode) || S_ISFIFO(was.mode) || S_ISCHR(was.mode) || S_ISBLK(was.mode)) {
            EXPECT_EQ(is.mtimeNs / 1000000, was.mtimeNs / 1000000) << "modification time in ms";
        }
        if (S_ISREG(was.mode)) {
            EXPECT_EQ(is.xattrs, was.xattrs);
            const std::string cmp = "cmp -s '" + Path(name) + "' '" + m_target + "/" + name + "'";
            EXPECT_EQ(std::system(cmp.c_str()), 0) << "content";
        }
        if (S_ISCHR(was.mode) || S_ISBLK(was.mode)) {
            EXPECT_EQ(is.major, was.major);
            EXPECT_EQ(is.minor, was.minor);
        }
        EXPECT_EQ(is.uid, was.uid);
        EXPECT_EQ(is.gid, was.gid);
    }
    EXPECT_THAT(before.at("file").xattrs,
                ElementsAre(std::pair<std::string, std::string>("user.test", std::string("hello\0world", 11))));
}

class PosixRestore : public ScratchTest
{
protected:
    // Restores "item" from `source`.
    Common::Error RestoreItem(PlaybackSource& source, uint32_t flags = 0, backup_progress* progress = nullptr)
    {
        return Restore(*m_dir, "item", source, flags, progress);
    }
};

TEST_F(PosixRestore, CorruptOrConflictingChunksFailAndLeaveNoItem)
{
    const struct
    {
        const char* what;
        ChunkList chunks;
        unsigned cause;
    } cases[] = {
        {"a device record without numbers", ChunkList{{6, PosixRecord(1, 020600)}}, 0x4000D},
        {"a device record with half the numbers", ChunkList{{6, PosixRecord(2, 060600, Bytes<uint32_t>(8))}}, 0x4000D},
        {"a link record without text", ChunkList{{6, PosixRecord(5, 0120777)}}, 0x4000D},
        {"an oversized record", ChunkList{{6, PosixRecord(0, 0100644, "", 0xFFFFFFF0u)}}, 0x4000D},
        {"a record longer than its chunk", ChunkList{{6, PosixRecord(0, 0100644, "", 64)}}, 0x40002},
        {"a short attribute word", ChunkList{{1, "ab"}}, 0x40002},
        {"short times", ChunkList{{5, "abc"}}, 0x40002},
        {"a reserved chunk first", ChunkList{{3, ""}}, 0x4000E},
        {"a file, then a FIFO record", ChunkList{{6, PosixRecord(0, 0100644)}, {6, PosixRecord(3, 010644)}}, 0x4000D},
        {"an oversized extended attribute",
         ChunkList{{6, PosixRecord(0, 0100644)}, {7, Bytes<uint16_t>(5) + Bytes<uint64_t>(1ull << 40)}}, 0x4000D},
        {"a short extended attribute header", ChunkList{{6, PosixRecord(0, 0100644)}, {7, "abc"}}, 0x40002},
        {"an extended attribute of no known namespace",
         ChunkList{{6, PosixRecord(0, 0100644)}, {7, XattrRecord("bogus.name", "v")}}, 0x4000E},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        PlaybackSource source(c.chunks);
        const Common::Error error = RestoreItem(source);
        EXPECT_THAT(error, ErrorIs(0x4001A));
        EXPECT_THAT(error, HasText(u"Error occurred while recovering."));
        EXPECT_THAT(error, RaisedAt("core/file/unix/posix_backup", "PosixRestoreFile", 559));
        EXPECT_THAT(error, CausedBy(ErrorIs(c.cause)));
        EXPECT_FALSE(Exists(Path("item")));
    }
}

TEST_F(PosixRestore, ADeviceRecordOfTwentyBytesNamesTheCorruption)
{
    PlaybackSource source;
    source.Add(6, PosixRecord(1, 020600));
    const Common::Error error = RestoreItem(source);
    EXPECT_THAT(error, CausedBy(RaisedAt("core/file/backup", "ProcessChunk", 1301)));
    EXPECT_THAT(error.GetCause(), HasText(u"The file is corrupted."));
}

TEST_F(PosixRestore, ItemsWithoutDataAreCreatedFromTheirRecord)
{
    const struct
    {
        const char* what;
        ChunkList chunks;
        mode_t type;
    } cases[] = {
        {"no chunk at all: an empty file", ChunkList{}, S_IFREG},
        {"a FIFO record of 20 bytes", ChunkList{{6, PosixRecord(3, 010640)}}, S_IFIFO},
        {"a directory word, then a directory record",
         ChunkList{{1, Bytes<uint32_t>(0x10)}, {6, PosixRecord(128, 040750)}}, S_IFDIR},
        {"a link with its text",
         ChunkList{{6, PosixRecord(5, 0120777, Bytes<uint16_t>(2) + std::string("t\0o\0\0\0", 6))}}, S_IFLNK},
        {"unknown chunks are passed over", ChunkList{{0, "x"}, {9, "y"}, {200, "z"}}, S_IFREG},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        PlaybackSource source(c.chunks);
        ASSERT_THAT(RestoreItem(source), IsSuccessError());
        struct stat status;
        ASSERT_EQ(lstat(Path("item").c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & S_IFMT, c.type);
        if (S_ISREG(status.st_mode)) {
            EXPECT_EQ(status.st_size, 0);
        }
        if (S_ISLNK(status.st_mode)) {
            char text[16] = {};
            EXPECT_EQ(readlink(Path("item").c_str(), text, sizeof text - 1), 2);
            EXPECT_STREQ(text, "to");
        }
        std::error_code ignored;
        std::filesystem::remove_all(Path("item"), ignored);
    }
}

TEST_F(PosixRestore, ADirectorySurvivesAConflictingRecord)
{
    PlaybackSource source;
    source.Add(1, Bytes<uint32_t>(0x10)).Add(6, PosixRecord(0, 0100644));
    const Common::Error error = RestoreItem(source);
    EXPECT_THAT(error, ErrorIs(0x4001A));
    EXPECT_THAT(error, CausedBy(AllOf(ErrorIs(0x4000D), RaisedAt("core/file/backup", "MayCreate", 1093))));
    struct stat status;
    ASSERT_EQ(lstat(Path("item").c_str(), &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
}

TEST_F(PosixRestore, TimesAreSkippedOnRequest)
{
    PlaybackSource skipped;
    skipped.Add(5, "abc"); // never read
    EXPECT_THAT(RestoreItem(skipped, BackupChunk::kNoTimes), IsSuccessError());
    EXPECT_TRUE(Exists(Path("item")));
}

TEST_F(PosixRestore, CancellationBeforeTheFirstChunkCreatesNothing)
{
    PlaybackSource source;
    source.Add(6, PosixRecord(0, 0100644));
    TestProgress progress;
    progress.cancelAfter = 0;
    const Common::Error error = RestoreItem(source, 0, &progress);
    EXPECT_THAT(error, ErrorIs(0x4001A));
    EXPECT_THAT(error, CausedBy(AllOf(ErrorIs(0x4000F), RaisedAt("core/file/backup", "DoRestore", 1143))));
    EXPECT_FALSE(Exists(Path("item")));
    EXPECT_EQ(source.next, 0u);
}

TEST_F(PosixRestore, CancellationDuringTheDataRemovesTheFile)
{
    PlaybackSource source;
    source.Add(6, PosixRecord(0, 0100644)).Add(4, std::string(40000, 'd'));
    TestProgress progress;
    progress.cancelAfter = 3; // two chunk turns and the question before the first read
    const Common::Error error = RestoreItem(source, 0, &progress);
    EXPECT_THAT(error, CausedBy(AllOf(ErrorIs(0x4000F), RaisedAt("core/file/backup", "RestorePlainStream", 298))));
    EXPECT_FALSE(Exists(Path("item")));
}

TEST_F(PosixRestore, DataProgressReportsEachBlock)
{
    PlaybackSource source;
    source.Add(6, PosixRecord(0, 0100600)).Add(4, std::string(40000, 'd'));
    TestProgress progress;
    ASSERT_THAT(RestoreItem(source, 0, &progress), IsSuccessError());
    EXPECT_THAT(progress.reports, ElementsAre(16384u, 16384u, 7232u));
}

// Chunk 2: data streams and sparse blocks of the Win32 backup-stream format.
std::string StreamHeader(uint32_t id, uint64_t size, uint32_t nameSize = 0)
{
    return Bytes<uint32_t>(id) + Bytes<uint32_t>(0) + Bytes<uint64_t>(size) + Bytes<uint32_t>(nameSize);
}

std::string SparseBlock(uint64_t offset, const std::string& data)
{
    return StreamHeader(9, 8 + data.size()) + Bytes<uint64_t>(offset) + data;
}

TEST_F(PosixRestore, ASparseBlockLeavesAHoleOfTheRightSize)
{
    constexpr uint64_t kFar = 4u << 20;
    const std::string head(100, 'h');
    const std::string tail(50, 't');
    PlaybackSource source;
    source.Add(6, PosixRecord(0, 0100644))
        .Add(2, StreamHeader(1, head.size()) + head + StreamHeader(7, 3, 2) + "abcde" + SparseBlock(kFar, tail));
    ASSERT_THAT(RestoreItem(source), IsSuccessError());

    struct stat status;
    ASSERT_EQ(stat(Path("item").c_str(), &status), 0);
    EXPECT_EQ(static_cast<uint64_t>(status.st_size), kFar + tail.size());
    EXPECT_LT(static_cast<uint64_t>(status.st_blocks) * 512, kFar / 2) << "the gap is a hole";
    std::string content;
    ASSERT_TRUE(ReadWholeFile(Path("item"), content));
    EXPECT_EQ(content.substr(0, head.size()), head);
    EXPECT_EQ(content.find_first_not_of('\0', head.size()), kFar);
    EXPECT_EQ(content.substr(kFar), tail);
}

TEST_F(PosixRestore, AnEmptyTrailingSparseBlockExtendsTheFile)
{
    PlaybackSource source;
    source.Add(6, PosixRecord(0, 0100644)).Add(2, StreamHeader(1, 10) + "0123456789" + SparseBlock(3u << 20, ""));
    ASSERT_THAT(RestoreItem(source), IsSuccessError());
    struct stat status;
    ASSERT_EQ(stat(Path("item").c_str(), &status), 0);
    EXPECT_EQ(status.st_size, 3 << 20);
}

TEST_F(PosixRestore, BrokenStreamsAreRefused)
{
    const struct
    {
        const char* what;
        std::string stream;
        unsigned cause;
    } cases[] = {
        {"a sparse block behind the data", StreamHeader(1, 10) + "0123456789" + SparseBlock(5, "x"), 0x4000D},
        {"a sparse block shorter than its offset", StreamHeader(9, 4) + "abcd", 0x4000D},
        {"a length past the signed range", StreamHeader(1, ~0ull), 0x4000D},
        {"a sparse block whose end overflows", SparseBlock(0x7FFFFFFFFFFFFFF0ull, "0123456789abcdef0123"), 0x4000D},
        {"a short header", std::string(10, 'x'), 0x40002},
        {"data shorter than its header says", StreamHeader(1, 100) + "short", 0x40002},
        {"a skipped stream shorter than its header says", StreamHeader(4, 1ull << 40), 0x40002},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PlaybackSource source;
        source.Add(6, PosixRecord(0, 0100644)).Add(2, c.stream);
        const Common::Error error = RestoreItem(source);
        EXPECT_THAT(error, CausedBy(ErrorIs(c.cause)));
        EXPECT_FALSE(Exists(Path("item")));
    }
}

// A directory whose owner changes always fail.
class OwnerRefusingDir : public posix_dir
{
public:
    using posix_dir::posix_dir;
    void SetUnixOwner(const char16_t*, uint32_t, uint32_t) override
    {
        SetError(Common::Error(FileErrors::kAccessDenied, u"refused owner", Common::NoLocation));
    }
};

TEST_F(PosixRestore, TheSecurityDecisionKeepsOrRemovesTheItem)
{
    const struct
    {
        const char* what;
        bool withProgress;
        uint32_t decision;
        bool kept;
    } cases[] = {
        {"no progress object: ignored", false, 0, true},
        {"ignore", true, 2, true},
        {"fail", true, 0, false},
    };
    OwnerRefusingDir directory(m_root);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PlaybackSource source;
        source.Add(6, PosixRecord(0, 0100640)).Add(4, "payload");
        TestProgress progress;
        progress.decision = c.decision;
        const Common::Error error = Restore(directory, "item", source, 0, c.withProgress ? &progress : nullptr);
        EXPECT_EQ(Exists(Path("item")), c.kept);
        if (c.kept) {
            EXPECT_THAT(error, IsSuccessError());
            std::string content;
            ASSERT_TRUE(ReadWholeFile(Path("item"), content));
            EXPECT_EQ(content, "payload");
        } else {
            EXPECT_THAT(error, ErrorIs(0x4001A));
            EXPECT_THAT(error, CausedBy(HasText(u"refused owner")));
        }
        if (c.withProgress) {
            ASSERT_EQ(progress.securityErrors.size(), 1u);
            EXPECT_THAT(progress.securityErrors[0], ErrorIs(0x40023));
            EXPECT_THAT(progress.securityErrors[0],
                        HasText(u"Security error occurred while opening the file for writing."));
            EXPECT_THAT(progress.securityErrors[0], RaisedAt("core/file/backup", "Ask4SecurityWriting", 919));
            EXPECT_THAT(progress.securityErrors[0], CausedBy(HasText(u"refused owner")));
            EXPECT_EQ(progress.securityPaths[0], Wide(m_root) + u"/item");
        }
        std::error_code ignored;
        std::filesystem::remove(Path("item"), ignored);
    }
}

// What the file system answers for extended attributes while installed: the
// listed names are refused with their errno, the others are set.
class RefusingFileSystem
{
public:
    explicit RefusingFileSystem(std::map<std::string, int> refusals)
    {
        Refusals() = std::move(refusals);
        m_previous = SetXattrSetterForTesting(&Set);
    }
    ~RefusingFileSystem() { SetXattrSetterForTesting(m_previous); }
    RefusingFileSystem(const RefusingFileSystem&) = delete;
    RefusingFileSystem& operator=(const RefusingFileSystem&) = delete;

private:
    static std::map<std::string, int>& Refusals()
    {
        static std::map<std::string, int> refusals;
        return refusals;
    }
    static int Set(int descriptor, const char* name, const void* value, size_t size, int flags)
    {
        const auto refused = Refusals().find(name);
        if (refused == Refusals().end())
            return fsetxattr(descriptor, name, value, size, flags);
        errno = refused->second;
        return -1;
    }

    XattrSetter m_previous = nullptr;
};

// "security.selinux" and "trusted.pfcache" are skipped when the file system
// does not support them; any other refusal, of another attribute or for
// another reason, fails the restore and removes the file.
TEST_F(PosixRestore, OnlyUnsupportedSecurityLabelsAreSkipped)
{
    const struct
    {
        const char* what;
        std::map<std::string, int> refusals;
        std::vector<std::string> attributes;
        unsigned failure; // 0: the restore succeeds
    } cases[] = {
        {"both labels not supported",
         {{"security.selinux", EOPNOTSUPP}, {"trusted.pfcache", EOPNOTSUPP}},
         {"security.selinux", "trusted.pfcache", "user.kept"},
         0},
        {"a label skipped, then another attribute not supported",
         {{"security.selinux", EOPNOTSUPP}, {"user.refused", EOPNOTSUPP}},
         {"security.selinux", "user.refused", "user.kept"},
         FileErrors::kNotSupported},
        {"a label refused for another reason",
         {{"trusted.pfcache", EPERM}},
         {"trusted.pfcache", "user.kept"},
         FileErrors::kAccessDenied},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RefusingFileSystem fileSystem(c.refusals);
        std::string attributes;
        for (const std::string& name : c.attributes)
            attributes += XattrRecord(name, "v");
        PlaybackSource source;
        source.Add(6, PosixRecord(0, 0100644)).Add(4, "payload").Add(7, attributes);
        const Common::Error error = RestoreItem(source);
        if (c.failure == 0) {
            EXPECT_THAT(error, IsSuccessError());
            std::string content;
            ASSERT_TRUE(ReadWholeFile(Path("item"), content));
            EXPECT_EQ(content, "payload");
            char value[8] = {};
            EXPECT_EQ(getxattr(Path("item").c_str(), "user.kept", value, sizeof value), 1);
            EXPECT_EQ(value[0], 'v');
        } else {
            EXPECT_THAT(
                error,
                AllOf(ErrorIs(0x4001A),
                      CausedBy(AllOf(ErrorIs(c.failure), RaisedAt("core/file/unix/posix_backup", "SetXattr", 172)))));
            EXPECT_FALSE(Exists(Path("item")));
        }
        std::error_code ignored;
        std::filesystem::remove(Path("item"), ignored);
    }
}

// A directory whose Create reports success without giving a file.
class FilelessDir : public posix_dir
{
public:
    using posix_dir::posix_dir;
    rio_file* Create(const char16_t*, bool, const access_rights*) override { return nullptr; }
};

std::vector<std::string>& AssertionTexts()
{
    static std::vector<std::string> texts;
    return texts;
}

void RecordAssertion(int, unsigned, unsigned, const char* text)
{
    if (text && std::string(text).rfind("Assertion failed: ", 0) == 0)
        AssertionTexts().emplace_back(text);
}

// A creation that succeeds without a file is reported with the check's own
// text, and the restore goes on without writing data.
TEST_F(PosixRestore, ACreatedFileThatIsMissingIsReported)
{
    AssertionTexts().clear();
    Common::SetAssertionEventHook(&RecordAssertion);
    FilelessDir directory(m_root);
    PlaybackSource source;
    source.Add(6, PosixRecord(0, 0100644)).Add(4, "payload");
    (void)Restore(directory, "item", source);
    Common::SetAssertionEventHook(&Common::TraceAssertionEvent);
    EXPECT_THAT(AssertionTexts(),
                ElementsAre("Assertion failed: (FileTarget != 0) == result, file core/file/backup, line 965"));
    EXPECT_FALSE(Exists(Path("item")));
}

TEST_F(PosixRestore, WithoutADirectoryPathNothingIsRestored)
{
    PlaybackSource source;
    source.Add(6, PosixRecord(0, 0100644));
    restore_parameters parameters{&source, nullptr, 0};
    const Common::Error error = PosixRestoreFile(m_dir.get(), u"", u"item", &parameters);
    EXPECT_THAT(error, CausedBy(AllOf(ErrorIs(0x40001), RaisedAt("core/file/unix/posix_backup", "ProcessChunk", 436))));
    EXPECT_FALSE(Exists(Path("item")));
}

} // namespace
