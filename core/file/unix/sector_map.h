// Arithmetic of the "GSEC" control request of posix_file: where a 512-byte
// sector of a file lies on its device, given the file-system block that holds
// it. Computed in 64 bits, so devices beyond 2 TiB map correctly.
//
// Threading: pure functions.
#pragma once

#include <cstdint>

namespace SectorMap {

inline constexpr uint64_t kUnallocated = ~uint64_t{0};

// The device sector of the sector `offsetInBlock` of `physicalBlock`; all
// ones when the block is 0 (a hole).
constexpr uint64_t PhysicalSector(uint64_t physicalBlock, uint64_t sectorsPerBlock, uint64_t offsetInBlock)
{
    return physicalBlock == 0 ? kUnallocated : physicalBlock * sectorsPerBlock + offsetInBlock;
}

} // namespace SectorMap
