#include "core/file/unix/posix_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/common/file_errors.h"
#include "core/file/unix/posix_dir_test_support.h"

namespace {

using namespace posix_dir_test;
using Testing::CausedBy;
using Testing::IsPosixError;

const std::u16string kNotFound = u"The specified file does not exist.";
const std::u16string kOpenFailed = u"Error occurred while opening the file.";
const std::u16string kCreateFailed = u"Error occurred while creating the file.";
const std::u16string kDeleteFailed = u"Error occurred while deleting the file.";
const std::u16string kRenameFailed = u"Error occurred while renaming the file.";
const std::u16string kNotSupported = u"The operation is not supported.";

std::string ReadAll(ri_file& file)
{
    const uint64_t size = file.GetSize();
    std::string bytes(size, '\0');
    file.Read(bytes.data(), size);
    return bytes;
}

// ---- the tool's road: the current directory --------------------------------

class PosixDirCurrent : public ScratchTest
{
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        GTEST_FLAG_SET(death_test_style, "threadsafe");
    }
};

// The working directory is read once per process, so each case runs in a
// fresh child that changes into the scratch directory first.
TEST_F(PosixDirCurrent, ReadsAFileByARelativeNameWithDotDot)
{
    mkdir(Path("sub").c_str(), 0755);
    const std::string content("line one\nline two\0with a zero byte\n", 35);
    WriteFile(Path("data.txt"), content);
    EXPECT_EXIT(
        {
            if (chdir(m_root.c_str()) != 0)
                std::exit(2);
            std::unique_ptr<posix_dir> current(OpenCurrentDir());
            std::unique_ptr<ri_file> file(current->OpenRead(u"sub/../data.txt", true));
            if (!file || !current->IsClear())
                std::exit(3);
            const std::string bytes = ReadAll(*file);
            if (!file->IsClear() || bytes != content)
                std::exit(4);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(PosixDirCurrent, MissingNameReportsTheFullPathAndEnoent)
{
    EXPECT_EXIT(
        {
            if (chdir(m_root.c_str()) != 0)
                std::exit(2);
            std::unique_ptr<posix_dir> current(OpenCurrentDir());
            std::unique_ptr<ri_file> file(current->OpenRead(u"missing.txt", false));
            const Common::Error error = current->TakeError();
            const bool ok = !file &&
                ::testing::Matches(
                    ::testing::AllOf(FileError(FileErrors::kNotFound, kNotFound, m_root + "/missing.txt"),
                                     CausedBy(IsPosixError(ENOENT))))(error);
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(PosixDirCurrent, LaterChangeOfTheWorkingDirectoryIsNotSeen)
{
    mkdir(Path("other").c_str(), 0755);
    EXPECT_EXIT(
        {
            if (chdir(m_root.c_str()) != 0)
                std::exit(2);
            std::unique_ptr<posix_dir> first(OpenCurrentDir());
            if (chdir(Path("other").c_str()) != 0)
                std::exit(2);
            std::unique_ptr<posix_dir> second(OpenCurrentDir());
            const bool ok = first.get() != second.get() && second->GetNativePath() == m_root &&
                std::u16string(second->GetPath()).size() == m_root.size() + 1;
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(PosixDirCurrentThreads, FirstCallsFromManyThreadsAgree)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::vector<std::string> paths(8);
            std::vector<std::thread> threads;
            for (int t = 0; t < 8; ++t)
                threads.emplace_back([&paths, t] {
                    std::unique_ptr<posix_dir> current(OpenCurrentDir());
                    paths[t] = current->GetNativePath();
                });
            for (std::thread& thread : threads)
                thread.join();
            char buffer[4096];
            const std::string cwd = getcwd(buffer, sizeof buffer) ? buffer : "/";
            for (const std::string& path : paths)
                if (path != cwd)
                    std::exit(1);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

// ---- naming and opening ----------------------------------------------------

using PosixDirNaming = ScratchTest;

TEST_F(PosixDirNaming, NamesJoinComponentByComponent)
{
    mkdir(Path("a").c_str(), 0755);
    mkdir(Path("a/b").c_str(), 0755);
    WriteFile(Path("a/x"), "in a");
    WriteFile(Path("top"), "at the top");
    posix_dir inner(Path("a/b"));
    struct Case
    {
        const char16_t* name;
        std::string content;
    } cases[] = {
        {u"../x", "in a"},
        {u"./.././x", "in a"},
        {u"../../top", "at the top"},
        {u"..//..//top", "at the top"},
    };
    for (const Case& c : cases) {
        std::unique_ptr<ri_file> file(inner.OpenRead(c.name, true));
        ASSERT_NE(file, nullptr) << std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name));
        EXPECT_EQ(ReadAll(*file), c.content);
    }
    // A leading '/' starts again from the root, whatever the directory.
    const std::u16string absolute = std::u16string(m_root.begin(), m_root.end()) + u"/top";
    std::unique_ptr<ri_file> file(inner.OpenRead(absolute.c_str(), false));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadAll(*file), "at the top");
}

TEST_F(PosixDirNaming, OpenWriteAndReadWriteUseTheirModes)
{
    WriteFile(Path("f"), "0123456789");
    {
        std::unique_ptr<ro_file> file(m_dir->OpenWrite(u"f", false));
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(file->Write("ab", 2), 2u);
    }
    std::unique_ptr<rio_file> file(m_dir->OpenReadWrite(u"f", false));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadAll(*file), "ab23456789");
    // A file opened only for reading refuses writes.
    std::unique_ptr<ri_file> reader(m_dir->OpenRead(u"f", true));
    ASSERT_NE(reader, nullptr);
    posix_file* posix = dynamic_cast<posix_file*>(reader.get());
    ASSERT_NE(posix, nullptr);
    uint64_t written = 0;
    posix->Write("x", 1, &written);
    EXPECT_TRUE(posix->IsFailed());
}

TEST_F(PosixDirNaming, CreateTruncatesAndUsesTheRightsMode)
{
    WriteFile(Path("old"), "old content");
    std::unique_ptr<rio_file> file(m_dir->Create(u"old", false, nullptr));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->GetSize(), 0u);
    const access_rights rights{0, 0600};
    std::unique_ptr<rio_file> fresh(m_dir->Create(u"fresh", true, &rights));
    ASSERT_NE(fresh, nullptr);
    struct stat status;
    ASSERT_EQ(stat(Path("fresh").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST_F(PosixDirNaming, CreateFailuresKeepMappedCodesAndWrapOthers)
{
    // Missing parent: ENOENT is mapped, so the code stays 0x40011.
    EXPECT_EQ(m_dir->Create(u"missing/file", false, nullptr), nullptr);
    EXPECT_THAT(m_dir->TakeError(), FileError(FileErrors::kNotFound, kNotFound, Path("missing/file")));

    // A regular file as parent: ENOTDIR is not mapped, so 0x4000A wraps 0x40007.
    WriteFile(Path("plain"), "");
    EXPECT_EQ(m_dir->Create(u"plain/file", false, nullptr), nullptr);
    const Common::Error error = m_dir->TakeError();
    EXPECT_THAT(error, FileError(FileErrors::kCreateFailed, kCreateFailed));
    const Common::Error cause = error.GetCause();
    EXPECT_THAT(cause, FileError(FileErrors::kOpenFailed, kOpenFailed, Path("plain/file")));
    EXPECT_THAT(cause, CausedBy(IsPosixError(ENOTDIR)));
}

TEST_F(PosixDirNaming, OpenDirAndParentDirDoNotTouchTheDisk)
{
    std::unique_ptr<rio_dir> sub(m_dir->OpenDir(u"not/there/../yet"));
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(static_cast<posix_dir&>(*sub).GetNativePath(), Path("not/yet"));
    EXPECT_TRUE(m_dir->IsClear());

    std::unique_ptr<rio_dir> clone(m_dir->Clone());
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(static_cast<posix_dir&>(*clone).GetNativePath(), m_root);

    const char16_t* path = u"sub/inner/file.txt";
    std::unique_ptr<rio_dir> parent(m_dir->OpenParentDir(path));
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(static_cast<posix_dir&>(*parent).GetNativePath(), Path("sub/inner"));
    EXPECT_EQ(std::u16string(path), u"file.txt");

    const char16_t* plain = u"file.txt";
    const char16_t* const before = plain;
    std::unique_ptr<rio_dir> same(m_dir->OpenParentDir(plain));
    ASSERT_NE(same, nullptr);
    EXPECT_EQ(plain, before);
    EXPECT_EQ(static_cast<posix_dir&>(*same).GetNativePath(), m_root);
}

TEST_F(PosixDirNaming, PathTextEndsWithASeparator)
{
    EXPECT_EQ(std::u16string(m_dir->GetPath()), std::u16string(m_root.begin(), m_root.end()) + u"/");
    posix_dir root("/");
    EXPECT_EQ(std::u16string(root.GetPath()), u"/");
    posix_dir odd(m_root + "/a\xff");
    EXPECT_EQ(std::u16string(odd.GetPath()), std::u16string(m_root.begin(), m_root.end()) + u"/a\uF8FF/");
}

TEST(PosixDirQueries, IsSameDirComparesPathsByComponent)
{
    posix_dir a("/a");
    struct Case
    {
        const char* left;
        const char* right;
        uint32_t expected;
    } cases[] = {
        {"/a", "/a", 0}, {"/a", "/a/b", 1}, {"/a", "/ab", 2}, {"/a/b", "/a", 2},
        {"/", "/a", 1},  {"/a", "/b", 2},   {"", "/a", 1},    {"/a/", "/a/b", 1},
    };
    for (const Case& c : cases) {
        posix_dir left(c.left);
        posix_dir right(c.right);
        EXPECT_EQ(left.IsSameDir(&right), c.expected) << c.left << " vs " << c.right;
    }
    EXPECT_EQ(a.IsSameDir(&a), 0u);
    EXPECT_EQ(a.IsSameDir(nullptr), 2u);
}

TEST(PosixDirQueries, SeparatorsAndFlags)
{
    posix_dir dir("/");
    EXPECT_TRUE(dir.IsPathSeparator(u'/'));
    EXPECT_FALSE(dir.IsPathSeparator(u'\\'));
    EXPECT_EQ(dir.GetPathSeparator(), u'/');
    EXPECT_EQ(dir.GetFlags(), 131u);
    EXPECT_EQ(dir.GetPathStyle(), 1u);
}

// ---- changing operations ---------------------------------------------------

using PosixDirChange = ScratchTest;

TEST_F(PosixDirChange, CreateRenameRemove)
{
    const access_rights rights{0, 0700};
    m_dir->CreateDir(u"made", &rights);
    ASSERT_TRUE(m_dir->IsClear());
    struct stat status;
    ASSERT_EQ(stat(Path("made").c_str(), &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_EQ(status.st_mode & 0777, 0700u);

    m_dir->CreateDir(u"made", nullptr);
    EXPECT_THAT(m_dir->TakeError(),
                FileError(FileErrors::kAlreadyExists, u"The file (folder) already exists.", Path("made")));

    WriteFile(Path("f"), "x");
    m_dir->Rename(u"f", u"made/g");
    ASSERT_TRUE(m_dir->IsClear());
    EXPECT_TRUE(Exists(Path("made/g")));
    m_dir->Rename(u"f", u"h");
    const Common::Error renameError = m_dir->TakeError();
    EXPECT_EQ(renameError.GetCode(), FileErrors::kNotFound);
    EXPECT_EQ(std::string(renameError.GetTextParameter("path1")), Path("f"));
    EXPECT_EQ(std::string(renameError.GetTextParameter("path2")), Path("h"));

    m_dir->Remove(u"made/g");
    ASSERT_TRUE(m_dir->IsClear());
    m_dir->RemoveDir(u"made");
    ASSERT_TRUE(m_dir->IsClear());
    EXPECT_FALSE(Exists(Path("made")));
    m_dir->Remove(u"made");
    EXPECT_THAT(
        m_dir->TakeError(),
        ::testing::AllOf(FileError(FileErrors::kNotFound, kNotFound, Path("made")), CausedBy(IsPosixError(ENOENT))));
    EXPECT_TRUE(m_dir->IsClear()); // taken
}

TEST_F(PosixDirChange, PermissionsAndOwner)
{
    WriteFile(Path("f"), "x");
    ASSERT_EQ(symlink("f", Path("l").c_str()), 0);
    m_dir->SetUnixPermissions(u"f", 0640);
    ASSERT_TRUE(m_dir->IsClear());
    struct stat status;
    ASSERT_EQ(stat(Path("f").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);

    // A link is refused and its target keeps its rights.
    m_dir->SetUnixPermissions(u"l", 0777);
    EXPECT_THAT(m_dir->TakeError(), FileError(FileErrors::kNotSupported, kNotSupported));
    ASSERT_EQ(stat(Path("f").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);

    const access_rights rights{0, 0604};
    m_dir->SetAccessRights(u"f", &rights);
    ASSERT_TRUE(m_dir->IsClear());
    ASSERT_EQ(stat(Path("f").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0604u);

    // A missing record is a caller's fault: reported, and nothing changes.
    m_dir->SetAccessRights(u"f", nullptr);
    ASSERT_EQ(stat(Path("f").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0604u);

    m_dir->SetUnixPermissions(u"missing", 0600);
    EXPECT_THAT(m_dir->TakeError(), FileError(FileErrors::kNotFound, kNotFound, Path("missing")));

    m_dir->SetUnixOwner(u"l", getuid(), getgid());
    EXPECT_TRUE(m_dir->IsClear());
    m_dir->SetUnixOwner(u"missing", getuid(), getgid());
    EXPECT_THAT(m_dir->TakeError(), FileError(FileErrors::kNotFound, kNotFound, Path("missing")));
}

TEST_F(PosixDirChange, LinksHoldTheirTextAndShareTheInode)
{
    WriteFile(Path("file"), "payload");
    m_dir->CreateSymLink(u"l", u"../t", ITEM_SYMLINK, 0);
    ASSERT_TRUE(m_dir->IsClear());
    char target[64] = {};
    ASSERT_EQ(readlink(Path("l").c_str(), target, sizeof target - 1), 4);
    EXPECT_EQ(std::string(target), "../t");

    m_dir->CreateHardLink(u"hard", u"file");
    ASSERT_TRUE(m_dir->IsClear());
    struct stat a;
    struct stat b;
    ASSERT_EQ(lstat(Path("file").c_str(), &a), 0);
    ASSERT_EQ(lstat(Path("hard").c_str(), &b), 0);
    EXPECT_EQ(a.st_ino, b.st_ino);
    EXPECT_EQ(b.st_nlink, 2u);

    m_dir->CreateHardLink(u"again", u"absent");
    const Common::Error error = m_dir->TakeError();
    EXPECT_EQ(error.GetCode(), FileErrors::kNotFound);
    EXPECT_EQ(std::string(error.GetTextParameter("path1")), Path("again"));
    EXPECT_EQ(std::string(error.GetTextParameter("path2")), Path("absent"));
}

TEST_F(PosixDirChange, DeviceNodeTypesAndRefusal)
{
    m_dir->CreateDeviceNode(u"fifo", ITEM_FIFO, S_IFREG | 0640, 0, 0);
    ASSERT_TRUE(m_dir->IsClear());
    struct stat status;
    ASSERT_EQ(lstat(Path("fifo").c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));

    m_dir->CreateDeviceNode(u"odd", ITEM_SYMLINK, 0644, 0, 0);
    EXPECT_THAT(m_dir->TakeError(), FileError(FileErrors::kCreateFailed, kCreateFailed));
    EXPECT_FALSE(Exists(Path("odd")));

    m_dir->CreateDeviceNode(u"fifo", ITEM_FIFO, 0640, 0, 0);
    EXPECT_THAT(m_dir->TakeError(),
                FileError(FileErrors::kAlreadyExists, u"The file (folder) already exists.", Path("fifo")));
}

// A non-empty name without a native form never names the directory itself.
TEST_F(PosixDirChange, UnconvertibleNamesTouchNothing)
{
    const std::string victimPath = Path("victim");
    ASSERT_EQ(mkdir(victimPath.c_str(), 0750), 0);
    WriteFile(Path("keep"), "kept");
    posix_dir victim(victimPath);
    const char16_t bad[] = {u'x', 0xD800, 0};
    const char16_t loneLow[] = {0xDC01, 0};
    const access_rights rights{0, 0777};

    struct Case
    {
        const char* what;
        std::function<void()> run;
        unsigned code;
        std::u16string text;
    } cases[] = {
        {"RemoveDir", [&] { victim.RemoveDir(bad); }, FileErrors::kDeleteFailed, kDeleteFailed},
        {"Remove", [&] { victim.Remove(loneLow); }, FileErrors::kDeleteFailed, kDeleteFailed},
        {"Rename from", [&] { victim.Rename(bad, u"../moved"); }, FileErrors::kRenameFailed, kRenameFailed},
        {"Rename to", [&] { victim.Rename(u"../keep", bad); }, FileErrors::kRenameFailed, kRenameFailed},
        {"CreateDir", [&] { victim.CreateDir(bad, nullptr); }, FileErrors::kCreateFailed, kCreateFailed},
        {"SetUnixPermissions", [&] { victim.SetUnixPermissions(bad, 0777); }, FileErrors::kOpenFailed, kOpenFailed},
        {"SetAccessRights", [&] { victim.SetAccessRights(bad, &rights); }, FileErrors::kOpenFailed, kOpenFailed},
        {"SetUnixOwner", [&] { victim.SetUnixOwner(bad, 1, 1); }, FileErrors::kOpenFailed, kOpenFailed},
        {"CreateDeviceNode", [&] { victim.CreateDeviceNode(bad, ITEM_FIFO, 0600, 0, 0); }, FileErrors::kCreateFailed,
         kCreateFailed},
        {"CreateHardLink name", [&] { victim.CreateHardLink(bad, u"../keep"); }, FileErrors::kCreateFailed,
         kCreateFailed},
        {"CreateHardLink existing", [&] { victim.CreateHardLink(u"../hard", bad); }, FileErrors::kCreateFailed,
         kCreateFailed},
        {"CreateSymLink name", [&] { victim.CreateSymLink(bad, u"t", ITEM_SYMLINK, 0); }, FileErrors::kCreateFailed,
         kCreateFailed},
        {"CreateSymLink target", [&] { victim.CreateSymLink(u"../link", bad, ITEM_SYMLINK, 0); },
         FileErrors::kCreateFailed, kCreateFailed},
        {"Create", [&] { delete victim.Create(bad, false, nullptr); }, FileErrors::kCreateFailed, kCreateFailed},
        {"OpenRead", [&] { delete victim.OpenRead(bad, false); }, FileErrors::kOpenFailed, kOpenFailed},
        {"OpenWrite", [&] { delete victim.OpenWrite(bad, false); }, FileErrors::kOpenFailed, kOpenFailed},
        {"OpenReadWrite", [&] { delete victim.OpenReadWrite(bad, false); }, FileErrors::kOpenFailed, kOpenFailed},
        {"OpenDir", [&] { delete victim.OpenDir(bad); }, FileErrors::kOpenFailed, kOpenFailed},
        {"GetIterator", [&] { delete victim.GetIterator(bad); }, FileErrors::kOpenFailed, kOpenFailed},
        {"STME",
         [&] {
             posix_dir::stme_request request{MakeControlCode("STME"), bad, 1000, 0, 1000};
             victim.IOCTL(&request);
         },
         FileErrors::kOpenFailed, kOpenFailed},
    };
    struct stat before;
    ASSERT_EQ(stat(victimPath.c_str(), &before), 0);
    for (const Case& c : cases) {
        c.run();
        const Common::Error error = victim.TakeError();
        EXPECT_EQ(error.GetCode(), c.code) << c.what;
        EXPECT_EQ(error.GetText(), c.text) << c.what;
        EXPECT_THAT(error, WithoutPosixCause()) << c.what;
        struct stat after;
        ASSERT_EQ(stat(victimPath.c_str(), &after), 0) << c.what << " removed the directory";
        EXPECT_EQ(after.st_mode, before.st_mode) << c.what;
        EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec) << c.what;
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec) << c.what;
        EXPECT_EQ(after.st_uid, before.st_uid) << c.what;
    }
    EXPECT_TRUE(Exists(Path("keep")));
    EXPECT_FALSE(Exists(Path("moved")));
    EXPECT_FALSE(Exists(Path("hard")));
    EXPECT_FALSE(Exists(Path("link")));
}

} // namespace
