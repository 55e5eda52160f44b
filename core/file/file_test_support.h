// Test helpers of the file layer tests: one plain read as a string.
//
// Threading: plain functions; each call works on its own file.
#pragma once

#include <cstdint>
#include <string>

#include "core/include/file/file.h"

namespace FileTest {

// One call of the three-argument Read for `length` bytes; the result holds
// the bytes it reported.
inline std::string ReadOnce(i_file& file, uint64_t length)
{
    std::string buffer(static_cast<size_t>(length), '\0');
    uint64_t count = 99;
    file.Read(buffer.data(), length, &count);
    buffer.resize(static_cast<size_t>(count));
    return buffer;
}

} // namespace FileTest
