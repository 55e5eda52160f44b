// Test support for the POSIX backup and restore tests: "BKUP" through a
// directory, what python's os module says of an item, inode flags, and a
// scratch tree holding one item of every kind.
//
// Threading: used from the test's thread only.
#pragma once

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
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/file/backup_test_support.h"
#include "core/file/unix/posix_backup.h"
#include "core/file/unix/posix_dir_test_support.h"
#include "core/file/unix/the_identifier.h"

namespace PosixBackupTest {

using BackupTest::RecordingSink;

inline std::u16string Wide(const std::string& ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

template <class T>
inline void Append(std::string& bytes, T value)
{
    bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// Backs up `name` of `directory` (empty: the directory itself) through "BKUP".
inline Common::Error Backup(posix_dir& directory, const std::string& name, RecordingSink& sink, uint32_t flags = 0,
                            backup_progress* progress = nullptr)
{
    std::optional<the_identifier> item;
    if (!name.empty())
        item.emplace(Wide(name).c_str(), name.c_str(), static_cast<uint32_t>(name.size() + 1));
    bkup_request request{MakeControlCode("BKUP"), {&sink, progress, flags}, item ? &*item : nullptr};
    directory.IOCTL(&request);
    EXPECT_EQ(sink.liveWriters, 0) << "every writer is destroyed";
    EXPECT_EQ(sink.liveBuffers, 0) << "every buffer is destroyed";
    return directory.TakeError();
}

// What python's os.lstat, os.listxattr/os.getxattr and os.readlink say of an item.
struct PythonView
{
    uint32_t mode = 0, uid = 0, gid = 0, major = 0, minor = 0;
    int64_t mtimeNs = 0;
    std::vector<std::pair<std::string, std::string>> xattrs; // name, value
    std::string link;
};

inline std::string FromHex(const std::string& hex)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

inline std::map<std::string, PythonView> AskPython(const std::string& root, const std::vector<std::string>& names)
{
    std::string command = "python3 -c '\n"
                          "import os, sys\n"
                          "root = sys.argv[1]\n"
                          "for name in sys.argv[2:]:\n"
                          "    p = root if name == \".\" else os.path.join(root, name)\n"
                          "    s = os.lstat(p)\n"
                          "    print(\"stat\", name, s.st_mode, s.st_uid, s.st_gid, s.st_mtime_ns, "
                          "os.major(s.st_rdev), os.minor(s.st_rdev))\n"
                          "    for a in os.listxattr(p, follow_symlinks=False):\n"
                          "        print(\"xattr\", name, a, os.getxattr(p, a, follow_symlinks=False).hex() or \"-\")\n"
                          "    if os.path.islink(p):\n"
                          "        print(\"link\", name, os.readlink(p))\n"
                          "' '" +
        root + "'";
    for (const std::string& name : names)
        command += " '" + name + "'";
    std::map<std::string, PythonView> views;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return views;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe)) {
        std::istringstream in(line);
        std::string kind, name;
        in >> kind >> name;
        PythonView& view = views[name];
        if (kind == "stat") {
            in >> view.mode >> view.uid >> view.gid >> view.mtimeNs >> view.major >> view.minor;
        } else if (kind == "xattr") {
            std::string attribute, hex;
            in >> attribute >> hex;
            view.xattrs.emplace_back(attribute, hex == "-" ? std::string() : FromHex(hex));
        } else if (kind == "link") {
            in >> view.link;
        }
    }
    pclose(pipe);
    return views;
}

// The inode flags of a path, read with FS_IOC_GETFLAGS (0 when they cannot be).
inline uint32_t InodeFlags(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return 0;
    int flags = 0;
    if (ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0)
        flags = 0;
    close(fd);
    return static_cast<uint32_t>(flags);
}

// The whole content of a file; false when it cannot be read.
inline bool ReadWholeFile(const std::string& path, std::string& content)
{
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    content.clear();
    char block[65536];
    ssize_t count;
    while ((count = read(fd, block, sizeof block)) > 0)
        content.append(block, static_cast<size_t>(count));
    close(fd);
    return count == 0;
}

// A scratch directory holding one item of every kind: "file" (40000 bytes,
// "user.test" = "hello\0world"), "empty", "sub" (a directory), "link" (to
// "../x/file"), "fifo" and, where mknod is allowed, "chardev" (1, 3).
class ItemTree : public posix_dir_test::ScratchTest
{
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        m_content.resize(40000);
        for (size_t i = 0; i < m_content.size(); ++i)
            m_content[i] = static_cast<char>(i * 7 + i / 300);
        posix_dir_test::WriteFile(Path("file"), m_content);
        ASSERT_EQ(lsetxattr(Path("file").c_str(), "user.test", "hello\0world", 11, 0), 0) << errno;
        posix_dir_test::WriteFile(Path("empty"), "");
        ASSERT_EQ(mkdir(Path("sub").c_str(), 0750), 0);
        ASSERT_EQ(symlink("../x/file", Path("link").c_str()), 0);
        ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0640), 0);
        m_haveDevice = mknod(Path("chardev").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
        ASSERT_TRUE(m_haveDevice || errno == EPERM) << errno;
    }

    std::vector<std::string> Names() const
    {
        std::vector<std::string> names = {"file", "empty", "sub", "link", "fifo"};
        if (m_haveDevice)
            names.push_back("chardev");
        return names;
    }

    std::string m_content;
    bool m_haveDevice = false;
};

} // namespace PosixBackupTest
