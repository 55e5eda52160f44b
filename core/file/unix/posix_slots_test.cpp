// posix_file and posix_dir are handed to closed libraries by their primary
// virtual tables: each table below is written in its binary order.

#include <gtest/gtest.h>

#include <cstdint>

#include "core/file/unix/posix_dir.h"
#include "core/file/unix/posix_file.h"
#include "testing/vtable_slot.h"

namespace {

using Testing::kDestructorPair;
using Testing::SlotOrderMismatches;
using Testing::TableSize;
using Testing::VirtualSlot;
using Testing::VirtualSlotOf;

TEST(PosixInterfaceSlots, FileKeepsItsThirteenEntries)
{
    EXPECT_EQ(SlotOrderMismatches({
                  {"Read", VirtualSlotOf<posix_file, void(void*, uint64_t, uint64_t*)>(&posix_file::Read)},
                  {"~posix_file", kDestructorPair},
                  {"LockShared", VirtualSlot(&posix_file::LockShared)},
                  {"Write", VirtualSlotOf<posix_file, void(const void*, uint64_t, uint64_t*)>(&posix_file::Write)},
                  {"Flush", VirtualSlot(&posix_file::Flush)},
                  {"Seek", VirtualSlot(&posix_file::Seek)},
                  {"Move", VirtualSlot(&posix_file::Move)},
                  {"SeekEnd", VirtualSlot(&posix_file::SeekEnd)},
                  {"Truncate", VirtualSlot(&posix_file::Truncate)},
                  {"IOCTL", VirtualSlot(&posix_file::IOCTL)},
                  {"LockExclusive", VirtualSlot(&posix_file::LockExclusive)},
                  {"Unlock", VirtualSlot(&posix_file::Unlock)},
              }),
              "");
    EXPECT_EQ(TableSize<posix_file>(), 13u);
}

// The head of the table is the rio_dir table (the i_dir entries, the
// destructor pair, the opening operations of rio_dir), pinned with rio_dir:
// overrides share its slots, and an override that needed an entry of its own
// would move every entry below.
TEST(PosixInterfaceSlots, DirectoryAddsItsOperationsAfterTheFullDirectoryTable)
{
    using D = posix_dir;
    EXPECT_EQ((VirtualSlotOf<D, ri_file*(const char16_t*, bool)>(&D::OpenRead)), 0u);
    EXPECT_EQ(VirtualSlot(&D::Create), 37u);
    EXPECT_EQ(SlotOrderMismatches(
                  {
                      {"Remove", VirtualSlot(&D::Remove)},
                      {"Rename", VirtualSlot(&D::Rename)},
                      {"CreateDir", VirtualSlot(&D::CreateDir)},
                      {"RemoveDir", VirtualSlot(&D::RemoveDir)},
                      {"SetAccessRights", VirtualSlot(&D::SetAccessRights)},
                      {"SetUnixOwner", VirtualSlot(&D::SetUnixOwner)},
                      {"SetUnixPermissions", VirtualSlot(&D::SetUnixPermissions)},
                      {"CreateDeviceNode", VirtualSlot(&D::CreateDeviceNode)},
                      {"CreateHardLink", VirtualSlot(&D::CreateHardLink)},
                      {"CreateSymLink", VirtualSlot(&D::CreateSymLink)},
                      {"Open", VirtualSlot(&D::Open)},
                      {"CreateIterator", VirtualSlot(&D::CreateIterator)},
                      {"CreateSelfIterator", VirtualSlot(&D::CreateSelfIterator)},
                  },
                  41),
              "");
    EXPECT_EQ(TableSize<posix_dir>(), 54u);
}

TEST(PosixInterfaceSlots, StatIteratorAddsItsOperationsAfterTheIteratorTable)
{
    using It = posix_dir::stat_iterator;
    EXPECT_EQ(SlotOrderMismatches({{"GetNativeName", VirtualSlot(&It::GetNativeName)},
                                   {"StatFile", VirtualSlot(&It::StatFile)},
                                   {"AcquireAllocatedSize", VirtualSlot(&It::AcquireAllocatedSize)}},
                                  27),
              "");
    EXPECT_EQ(TableSize<It>(), 30u);
}

} // namespace
