// Test support for the posix_dir tests: a scratch directory that is removed
// afterwards, file helpers working on native byte paths, and the matcher of a
// file-layer error.
//
// Threading: used from the test's main thread only.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "core/common/error.h"
#include "core/file/unix/posix_dir.h"
#include "testing/error_matchers.h"
#include "testing/temporary_folder.h"

namespace posix_dir_test {

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

// A file-layer error: its code, message text and "path" parameter.
inline auto FileError(unsigned code, const std::u16string& text, const std::string& path)
{
    return ::testing::AllOf(Testing::ErrorIs(code), Testing::HasText(text), Testing::HasTextParameter("path", path));
}

// The same for an error without a "path" parameter.
inline auto FileError(unsigned code, const std::u16string& text)
{
    return ::testing::AllOf(Testing::ErrorIs(code), Testing::HasText(text), Testing::HasNoTextParameter("path"));
}

// An error whose direct cause is not a POSIX error.
inline auto WithoutPosixCause()
{
    return ::testing::Not(Testing::CausedBy(Testing::ErrorIs(Common::kPosixErrorCode)));
}

// Every test gets a scratch folder and a posix_dir over it.
class ScratchTest : public ::testing::Test
{
protected:
    void SetUp() override { m_dir = std::make_unique<posix_dir>(m_root); }
    void TearDown() override { m_dir.reset(); }
    std::string Path(const std::string& name) const { return m_folder.PathOf(name); }

    Testing::TemporaryFolder m_folder{"posix_dir_test"};
    const std::string m_root = m_folder.Path();
    std::unique_ptr<posix_dir> m_dir;
};

} // namespace posix_dir_test
