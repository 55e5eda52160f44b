// POSIX support: the source identity shared by the POSIX files, directories
// and iterators (posix_file, posix_open, posix_dir and its parts): their errors
// are located in "core/file/unix/posixsp" with the function and line given
// at each raising site.
//
// Threading: constant data; the helpers may be called from any thread.
#pragma once

#include <cstdint>

#include "core/common/file_errors.h"
#include "core/common/location.h"

inline constexpr Common::SourceFile kPosixSpSource("core/file/unix/posixsp");

namespace PosixSp {

inline Common::Location At(const char* function, uint32_t line)
{
    return kPosixSpSource.At(function, line);
}

// A plain file-layer message error located at `function` and `line`.
inline Common::Error MessageError(unsigned code, unsigned key, const char* function, uint32_t line)
{
    return FileErrors::MakeFileMessageError(code, key, At(function, line));
}

} // namespace PosixSp
