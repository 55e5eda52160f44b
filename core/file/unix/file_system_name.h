// Names of file-system types, for the f_type number that statfs(2) reports.
//
// Threading: stateless; any thread.
#pragma once

#include <cstdint>

// The lower-case name of the file-system type `type` ("ext2", "tmpfs", ...),
// or the empty text for a number this table does not know.
const char* GetFileSystemName(uint32_t type);
