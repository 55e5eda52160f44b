// Test support for the posix_dir tests: a scratch directory that is removed
// afterwards, file helpers working on native byte paths, and error checks.
//
// Threading: used from the test's main thread only.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "core/common/error.h"
#include "core/file/unix/posix_dir.h"

namespace posix_dir_test {

inline std::string MakeScratchDirectory()
{
    char pattern[] = "/tmp/posix_dir_test.XXXXXX";
    const char* made = mkdtemp(pattern);
    return made ? std::string(made) : std::string();
}

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
}

inline bool Exists(const std::string& path)
{
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

// Code, message text and "path" parameter of an error; an empty expected path
// means "no path parameter".
inline void ExpectError(const Common::Error& error, unsigned code, const std::u16string& text,
                        const std::string& path = std::string())
{
    EXPECT_EQ(error.GetCode(), code) << std::hex << error.GetCode();
    EXPECT_EQ(error.GetText(), text);
    const char* parameter = error.GetTextParameter("path");
    if (path.empty())
        EXPECT_EQ(parameter, nullptr);
    else
        EXPECT_EQ(std::string(parameter ? parameter : "(none)"), path);
}

// The errno of the POSIX cause of an error, or -1 when it has none.
inline int PosixCause(const Common::Error& error)
{
    const Common::Error cause = error.GetCause();
    if (cause.GetCode() != Common::kPosixErrorCode)
        return -1;
    return static_cast<int>(cause.GetIntegerParameter("code"));
}

class ScratchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_root = MakeScratchDirectory();
        ASSERT_FALSE(m_root.empty());
        m_dir = std::make_unique<posix_dir>(m_root);
    }
    void TearDown() override
    {
        m_dir.reset();
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
    }
    std::string Path(const std::string& name) const { return m_root + "/" + name; }

    std::string m_root;
    std::unique_ptr<posix_dir> m_dir;
};

} // namespace posix_dir_test
