#include "core/file/unix/posix_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "core/common/file_errors.h"
#include "core/file/unix/file_system_name.h"
#include "core/file/unix/posix_dir_test_support.h"
#include "testing/scoped_environment.h"

namespace {

using namespace posix_dir_test;

const std::u16string kNotSupported = u"The operation is not supported.";

TEST(FileSystemName, KnownAndUnknownNumbers)
{
    struct Case
    {
        uint32_t type;
        const char* name;
    } cases[] = {
        {0xEF53, "ext2"},
        {0x137D, "ext2"},
        {0x01021994, "tmpfs"},
        {0x2F, "qnx4fs"},
        {0x2478, "minix"},
        {0x12FF7B6, "sysvfs"},
        {0x958458F6, "hugetlbfs"},
        {0xFF534D42, "cifs"},
        {0x9123683E, "btrfs"},
        {0x58465342, "xfs"},
        {0, ""},
        {0xEF54, ""},
        {0xFFFFFFFF, ""},
        {0x6969, "nfs"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(GetFileSystemName(c.type), c.name) << std::hex << c.type;
}

std::u16string FileSystemTypeOf(const std::string& path, Common::Error* error = nullptr)
{
    posix_dir dir(path);
    posix_dir::gfst_request request{MakeControlCode("GFST"), {}};
    for (char16_t& unit : request.name)
        unit = u'?';
    dir.IOCTL(&request);
    if (error)
        *error = dir.GetError();
    return dir.IsClear() ? std::u16string(request.name) : std::u16string(u"(failed)");
}

// What `stat -f -c %t` reports for a path, in hex.
std::optional<std::string> StatFileSystemType(const std::string& path)
{
    const std::string command = "stat -f -c %t '" + path + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return std::nullopt;
    char line[64] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    pclose(pipe);
    if (!read)
        return std::nullopt;
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

TEST(PosixDirControl, FileSystemTypeOfTmpfsAndOfTheWorkTree)
{
    struct statfs info;
    if (statfs("/dev/shm", &info) == 0 && info.f_type == 0x01021994) {
        EXPECT_EQ(FileSystemTypeOf("/dev/shm"), u"TMPFS");
    }

    const char* source = std::getenv("OBJPATCHER_SOURCE_DIR");
    char buffer[4096];
    const std::string tree = source ? source : (getcwd(buffer, sizeof buffer) ? buffer : "/");
    const std::optional<std::string> reported = StatFileSystemType(tree);
    if (!reported)
        GTEST_SKIP() << "stat(1) is not available";
    const struct
    {
        const char* hex;
        const char16_t* name;
    } known[] = {
        {"ef53", u"EXT2"}, {"1021994", u"TMPFS"}, {"9123683e", u"BTRFS"}, {"58465342", u"XFS"}, {"6969", u"NFS"},
    };
    const char16_t* expected = u"";
    for (const auto& k : known)
        if (*reported == k.hex)
            expected = k.name;
    EXPECT_EQ(FileSystemTypeOf(tree), expected) << "stat reports " << *reported;
}

TEST(PosixDirControl, FileSystemTypeOfAMissingPathFails)
{
    Common::Error error;
    EXPECT_EQ(FileSystemTypeOf("/no/such/place", &error), u"(failed)");
    EXPECT_EQ(error.GetCode(), FileErrors::kNotFound);
    EXPECT_EQ(std::string(error.GetTextParameter("path")), "/no/such/place");
}

using PosixDirControlScratch = ScratchTest;

TEST_F(PosixDirControlScratch, SetTimesOfANamedItem)
{
    WriteFile(Path("f"), "x");
    posix_dir::stme_request request{MakeControlCode("STME"), u"f", 1234567890123, 77, 1000000000500};
    m_dir->IOCTL(&request);
    ASSERT_TRUE(m_dir->IsClear());
    struct stat status;
    ASSERT_EQ(stat(Path("f").c_str(), &status), 0);
    EXPECT_EQ(status.st_mtim.tv_sec, 1234567890);
    EXPECT_EQ(status.st_mtim.tv_nsec, 123000000);
    EXPECT_EQ(status.st_atim.tv_sec, 1000000000);
    EXPECT_EQ(status.st_atim.tv_nsec, 500000000);

    ASSERT_EQ(symlink("f", Path("l").c_str()), 0);
    request.name = u"l";
    m_dir->IOCTL(&request);
    EXPECT_THAT(m_dir->TakeError(), FileError(FileErrors::kNotSupported, kNotSupported));

    request.name = u"missing";
    m_dir->IOCTL(&request);
    EXPECT_THAT(m_dir->TakeError(),
                FileError(FileErrors::kNotFound, u"The specified file does not exist.", Path("missing")));
}

TEST_F(PosixDirControlScratch, DeviceOfTheDirectoryWalksUpToAnExistingPath)
{
    struct stat status;
    ASSERT_EQ(stat(m_root.c_str(), &status), 0);
    posix_dir deep(m_root + "/missing/deeper/still");
    posix_dir::gsyp_request request{MakeControlCode("GSYP"), 0, 0, nullptr, 0xFFFF, 0xFFFF};
    deep.IOCTL(&request);
    ASSERT_TRUE(deep.IsClear());
    EXPECT_EQ(request.major, major(status.st_dev));
    EXPECT_EQ(request.minor, minor(status.st_dev));
    ASSERT_NE(request.path, nullptr);
    EXPECT_EQ(std::u16string(request.path), std::u16string(deep.GetPath()));

    posix_dir relative("zz-not-here");
    relative.IOCTL(&request);
    EXPECT_THAT(relative.TakeError(), FileError(FileErrors::kNotSupported, kNotSupported));
}

TEST_F(PosixDirControlScratch, UnknownCodesReplaceTheSlot)
{
    m_dir->Remove(u"missing");
    ASSERT_TRUE(m_dir->IsFailed());
    for (uint64_t code : {MakeControlCode("ZZZZ"), MakeControlCode("bkup")}) {
        struct
        {
            uint64_t code;
            uint64_t room[8];
        } request{code, {}};
        m_dir->IOCTL(&request);
        EXPECT_THAT(m_dir->TakeError(), FileError(FileErrors::kNotSupported, kNotSupported));
    }
}

TEST_F(PosixDirControlScratch, DriveSize)
{
    uint64_t total = 1;
    uint64_t free = 1;
    uint64_t available = 1;
    m_dir->GetDriveSize(&total, &free, &available);
    ASSERT_TRUE(m_dir->IsClear());
    struct statfs info;
    ASSERT_EQ(statfs(m_root.c_str(), &info), 0);
    EXPECT_EQ(total, static_cast<uint64_t>(info.f_bsize) * info.f_blocks);
    EXPECT_GT(total, 0u);
    EXPECT_LE(available, total);

    posix_dir missing(Path("missing"));
    missing.GetDriveSize(&total, &free, &available);
    EXPECT_EQ(total + free + available, 0u);
    EXPECT_THAT(missing.TakeError(),
                FileError(FileErrors::kNotFound, u"The specified file does not exist.", Path("missing")));
}

TEST(PosixDirSpecial, NumbersAndHome)
{
    posix_dir dir("/");
    struct Case
    {
        uint32_t number;
        const char* path;
    } cases[] = {{143, "/var/lib"}, {149, "/tmp"}, {156, "/var/log"}};
    for (const Case& c : cases) {
        std::unique_ptr<rio_dir> special(dir.OpenSpecialDir(c.number));
        ASSERT_NE(special, nullptr) << c.number;
        EXPECT_EQ(static_cast<posix_dir&>(*special).GetNativePath(), c.path);
    }

    Testing::ScopedEnvironmentVariable home("HOME", "/home/someone");
    for (uint32_t number : {144u, 145u}) {
        std::unique_ptr<rio_dir> home(dir.OpenSpecialDir(number));
        ASSERT_NE(home, nullptr);
        EXPECT_EQ(static_cast<posix_dir&>(*home).GetNativePath(), "/home/someone");
    }
    home.Set("relative/home");
    EXPECT_EQ(dir.OpenSpecialDir(144), nullptr);
    EXPECT_THAT(dir.TakeError(), FileError(FileErrors::kOpenFailed, u"Error occurred while opening the file."));
    home.Set(Testing::kUnset);
    EXPECT_EQ(dir.OpenSpecialDir(145), nullptr);
    EXPECT_EQ(dir.TakeError().GetCode(), FileErrors::kOpenFailed);

    EXPECT_EQ(dir.OpenSpecialDir(150), nullptr);
    EXPECT_THAT(dir.TakeError(), FileError(FileErrors::kNotSupported, kNotSupported));
}

} // namespace
