// The byte sources of the text notation: Utils::DataReader delivers its whole
// source in one ReadData call, replacing the content of the vector.
//
// Utils::FileReader reads a file (a relative path is taken against the working
// directory) through the file layer; every call opens and closes it afresh.
// A file that cannot be opened, opens in error, cannot be read whole, or holds
// 4 GiB or more fails with code 1 "Cannot read from file '<path>'" caused by
// the file layer's error; the vector is then left as it was.
// Utils::InMemoryDataReader delivers a UTF-16 text as its UTF-8 bytes, up to
// its first U+0000; it never fails.
//
// Declaration order of DataReader is the binary order; never insert or
// reorder.
// Threading: a reader is used by one thread at a time.
#pragma once

#include <string>
#include <vector>

#include "core/common/non_copyable.h"

class si_dir;

namespace Utils {

class DataReader : private Common::NonCopyable
{
public:
    virtual ~DataReader() = default;
    virtual void ReadData(std::vector<char>& bytes) = 0;
};

class FileReader final : public DataReader
{
public:
    explicit FileReader(const std::u16string& path) : m_path(path) {}

    void ReadData(std::vector<char>& bytes) override;

private:
    std::u16string m_path;
};

class InMemoryDataReader final : public DataReader
{
public:
    explicit InMemoryDataReader(const std::u16string& text) : m_text(text) {}

    void ReadData(std::vector<char>& bytes) override;

private:
    std::u16string m_text;
};

namespace Detail {

// FileReader's read against a given directory (the working directory for
// FileReader; tests give one of their own).
void ReadFileData(si_dir& directory, const std::u16string& path, std::vector<char>& bytes);

} // namespace Detail

} // namespace Utils
