// Source identity shared by the POSIX files and directories: their errors
// are located in "core/file/unix/posixsp" with the function and line given
// at each raising site.
//
// Threading: constant data.
#pragma once

#include "core/common/location.h"

inline constexpr Common::SourceFile kPosixSpSource("core/file/unix/posixsp");
