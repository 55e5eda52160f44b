#include "testing/temporary_folder.h"

#include <gtest/gtest.h>

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <system_error>

#include "testing/scoped_environment.h"

namespace {

using Testing::TemporaryFolder;
namespace fs = std::filesystem;

std::string Contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(TemporaryFolder, EachIsAFreshEmptyFolderUnderTmpdirRemovedWithAllItHolds)
{
    TemporaryFolder parent("temporary_folder_test");
    Testing::ScopedEnvironmentVariable tmpdir("TMPDIR", parent.Path().c_str());
    std::set<std::string> made;
    for (int i = 0; i < 3; ++i) {
        std::string path;
        {
            TemporaryFolder folder("some_test");
            path = folder.Path();
            EXPECT_EQ(fs::path(path).parent_path(), parent.Path());
            EXPECT_EQ(fs::path(path).filename().string().rfind("some_test.", 0), 0u) << path;
            EXPECT_TRUE(fs::is_directory(path));
            EXPECT_TRUE(fs::is_empty(path));
            EXPECT_TRUE(made.insert(path).second) << "made twice: " << path;
            fs::create_directories(folder.PathOf("a/b"));
            folder.Write("a/b/c", "bytes");
            fs::create_symlink(parent.Path(), folder.PathOf("a/up"));
        }
        EXPECT_FALSE(fs::exists(path));
    }
    EXPECT_TRUE(fs::is_directory(parent.Path())) << "a link inside a folder was followed";
}

TEST(TemporaryFolder, WriteReplacesTheWholeFileAndKeepsEveryByte)
{
    TemporaryFolder folder("temporary_folder_test");
    const std::string bytes("a\0b\n\r\xff", 6);
    EXPECT_EQ(folder.Write("f", "a much longer first content"), folder.PathOf("f"));
    folder.Write("f", bytes);
    EXPECT_EQ(Contents(folder.PathOf("f")), bytes);
}

TEST(TemporaryFolder, AFolderInMemoryLiesOnAMemoryFileSystemOrElseUnderTmpdir)
{
    TemporaryFolder parent("temporary_folder_test");
    Testing::ScopedEnvironmentVariable tmpdir("TMPDIR", parent.Path().c_str());
    std::string path;
    {
        TemporaryFolder folder("in_memory", TemporaryFolder::InMemoryParent());
        path = folder.Path();
        folder.Write("f", "bytes");
        struct statfs system
        {
        };
        ASSERT_EQ(statfs(path.c_str(), &system), 0);
        if (fs::path(path).parent_path() != parent.Path()) {
            EXPECT_EQ(system.f_type, TMPFS_MAGIC) << path << " is neither in memory nor under TMPDIR";
        }
    }
    EXPECT_FALSE(fs::exists(path));
}

TEST(TemporaryFolder, WhatCannotBeMadeThrows)
{
    TemporaryFolder folder("temporary_folder_test");
    EXPECT_THROW(folder.Write("missing/f", "x"), std::system_error);
    EXPECT_THROW(TemporaryFolder("x", folder.PathOf("missing")), std::system_error);
}

TEST(TemporaryFolder, AProcessThatExitsRemovesTheFoldersItMade)
{
    TemporaryFolder parent("temporary_folder_test");
    Testing::ScopedEnvironmentVariable tmpdir("TMPDIR", parent.Path().c_str());
    // The death test's child runs the body again: its fixture folder is its own.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            TemporaryFolder folder("child");
            folder.Write("f", "x");
            std::exit(fs::is_directory(folder.Path()) ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_TRUE(fs::is_empty(parent.Path())) << "the child's folder was left behind";
}

TEST(TemporaryFolder, AForkedChildThatExitsLeavesItsParentsFoldersAlone)
{
    TemporaryFolder folder("temporary_folder_test");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        std::exit(0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(fs::is_directory(folder.Path()));
}

// Root may enter any folder: the child drops to an ordinary user first. A
// forked child (no re-run of the body) makes no folder of its own that an
// ordinary user could not remove.
TEST(TemporaryFolder, RemovesFoldersATestLockedItselfOutOfWithoutFollowingLinks)
{
    TemporaryFolder parent("temporary_folder_test");
    ASSERT_EQ(chmod(parent.Path().c_str(), 0777), 0);
    const std::string kept = parent.PathOf("kept");
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            constexpr uid_t kNobody = 65534;
            if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0))
                std::_Exit(2);
            // Outside the folder, reached through a link from a locked folder.
            if (mkdir(kept.c_str(), 0700) != 0 || !std::ofstream(kept + "/file") || chmod(kept.c_str(), 0500) != 0)
                std::_Exit(3);
            std::string path;
            {
                TemporaryFolder folder("locked", parent.Path());
                path = folder.Path();
                fs::create_directories(folder.PathOf("a/b"));
                folder.Write("a/b/file", "x");
                fs::create_symlink(kept, folder.PathOf("a/b/link"));
                if (chmod(folder.PathOf("a/b").c_str(), 0) != 0 || chmod(folder.PathOf("a").c_str(), 0) != 0)
                    std::_Exit(4);
            }
            struct stat status;
            const bool keptAsItWas = stat(kept.c_str(), &status) == 0 && (status.st_mode & 07777) == 0500 &&
                fs::exists(kept + "/file");
            std::_Exit(!fs::exists(path) && keptAsItWas ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    (void)chmod(kept.c_str(), 0700); // for the parent's own removal by an ordinary user
}

} // namespace
