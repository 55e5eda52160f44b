// Testing::TemporaryFolder: a fresh folder for one test (or one suite), removed
// with everything in it when the object goes, also where a test took away the
// permissions of a folder inside it.
//
//     Testing::TemporaryFolder folder("posix_file_test");  // $TMPDIR/posix_file_test.XXXXXX
//     const std::string path = folder.Write("a.txt", "bytes");
//     ... folder.PathOf("b.txt") ...
//
// As a fixture member it gives every test its own folder:
//
//     class PosixFile : public ::testing::Test
//     {
//     protected:
//         Testing::TemporaryFolder m_folder{"posix_file_test"};
//     };
//
// The folder is made under $TMPDIR (/tmp when unset), or under the given
// parent. Files that need no disk (a store that syncs each commit, which a
// disk makes slow) go in memory where the machine has a memory file system:
//
//     Testing::TemporaryFolder store("store_test", Testing::TemporaryFolder::InMemoryParent());
// A folder that cannot be made, or a file that cannot be written,
// throws std::system_error: the test fails with the reason. A folder that
// cannot be removed is reported as a test failure.
//
// A process that ends through exit() while its folders live (the child of a
// death test re-runs the fixture, then exits from the statement) removes them
// in an exit action. Only the process that made a folder removes it: a forked
// child that exits leaves its parent's folders alone.
//
// Threading: one thread at a time per object; objects may be made and
// destroyed on any thread, and the folder itself used by any thread while
// the object lives.
#pragma once

#include <gtest/gtest.h>

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace Testing {

class TemporaryFolder
{
public:
    explicit TemporaryFolder(std::string_view prefix = "objpatcher_test", std::string parent = DefaultParent())
    {
        std::string pattern = parent + "/" + std::string(prefix) + ".XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (!mkdtemp(buffer.data()))
            throw std::system_error(errno, std::generic_category(), "cannot make a temporary folder " + pattern);
        m_path = buffer.data();
        Living& living = LivingFolders();
        std::lock_guard<std::mutex> guard(living.lock);
        if (!living.exitActionRegistered)
            living.exitActionRegistered = std::atexit(&RemoveLivingFolders) == 0;
        living.folders.emplace(m_path, getpid());
    }

    ~TemporaryFolder()
    {
        {
            Living& living = LivingFolders();
            std::lock_guard<std::mutex> guard(living.lock);
            living.folders.erase(m_path);
        }
        const std::error_code error = Remove(m_path);
        if (error)
            ADD_FAILURE() << "cannot remove the temporary folder " << m_path << ": " << error.message();
    }

    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& Path() const { return m_path; }
    std::string PathOf(std::string_view name) const { return m_path + "/" + std::string(name); }

    // Writes `bytes` to the file `name` (made or emptied first); its path.
    std::string Write(std::string_view name, std::string_view bytes) const
    {
        const std::string path = PathOf(name);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out)
            throw std::system_error(errno, std::generic_category(), "cannot write " + path);
        return path;
    }

    // $TMPDIR, or /tmp when it is unset or empty.
    static std::string DefaultParent()
    {
        const char* parent = std::getenv("TMPDIR");
        return parent && *parent ? parent : "/tmp";
    }

    // /dev/shm when it is a memory file system this process may make folders
    // in, else DefaultParent().
    static std::string InMemoryParent()
    {
        constexpr const char* kMemory = "/dev/shm";
        struct statfs system
        {
        };
        const bool inMemory = statfs(kMemory, &system) == 0 && system.f_type == TMPFS_MAGIC;
        return inMemory && access(kMemory, W_OK | X_OK) == 0 ? kMemory : DefaultParent();
    }

private:
    // The folders whose objects live, with the process that made each.
    struct Living
    {
        std::mutex lock;
        std::map<std::string, pid_t> folders;
        bool exitActionRegistered = false;
    };

    static Living& LivingFolders()
    {
        static Living* const living = new Living; // never destroyed: the exit action reads it
        return *living;
    }

    static void RemoveLivingFolders()
    {
        Living& living = LivingFolders();
        std::lock_guard<std::mutex> guard(living.lock);
        for (const auto& [path, maker] : living.folders) {
            if (maker == getpid())
                (void)Remove(path); // nothing to report to at exit
        }
        living.folders.clear();
    }

    static std::error_code Remove(const std::string& path)
    {
        std::error_code error;
        std::filesystem::remove_all(path, error);
        if (error) {
            // A test may have left a folder it cannot enter: give the
            // permissions back and try once more.
            MakeRemovable(path);
            std::filesystem::remove_all(path, error);
        }
        return error;
    }

    // Gives the owner full access to every folder of the tree (not following
    // symbolic links).
    static void MakeRemovable(const std::filesystem::path& folder)
    {
        if (chmod(folder.c_str(), S_IRWXU) != 0)
            return;
        std::error_code error;
        for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
             entry.increment(error)) {
            if (entry->symlink_status(error).type() == std::filesystem::file_type::directory)
                MakeRemovable(entry->path());
        }
    }

    std::string m_path;
};

} // namespace Testing
