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

TEST(PosixInterfaceSlots, DirectoryKeepsItsTableOrder)
{
    using Entry = const i_dir::iterator*;
    using Id = const file_identifier*;
    using D = posix_dir;
    EXPECT_EQ(SlotOrderMismatches({
                  {"OpenRead(name)", VirtualSlotOf<D, ri_file*(const char16_t*, bool)>(&D::OpenRead)},
                  {"OpenRead(entry)", VirtualSlotOf<D, ri_file*(Entry, bool)>(&D::OpenRead)},
                  {"OpenRead(id)", VirtualSlotOf<D, ri_file*(Id, bool)>(&D::OpenRead)},
                  {"OpenDir(name)", VirtualSlotOf<D, rio_dir*(const char16_t*)>(&D::OpenDir)},
                  {"OpenDir(entry)", VirtualSlotOf<D, rio_dir*(Entry)>(&D::OpenDir)},
                  {"OpenDir(id)", VirtualSlotOf<D, rio_dir*(Id)>(&D::OpenDir)},
                  {"OpenParentDir", VirtualSlotOf<D, rio_dir*(const char16_t*&)>(&D::OpenParentDir)},
                  {"Clone", VirtualSlotOf<D, rio_dir*()>(&D::Clone)},
                  {"OpenSpecialDir", VirtualSlotOf<D, rio_dir*(uint32_t)>(&D::OpenSpecialDir)},
                  {"GetIterator()", VirtualSlotOf<D, i_dir::iterator*()>(&D::GetIterator)},
                  {"GetIterator(name)", VirtualSlotOf<D, i_dir::iterator*(const char16_t*)>(&D::GetIterator)},
                  {"GetIterator(id)", VirtualSlotOf<D, i_dir::iterator*(Id)>(&D::GetIterator)},
                  {"GetSelfIterator", VirtualSlot(&D::GetSelfIterator)},
                  {"GetPath", VirtualSlot(&D::GetPath)},
                  {"IsSameDir", VirtualSlot(&D::IsSameDir)},
                  {"CompareIdentifiers", VirtualSlot(&D::CompareIdentifiers)},
                  {"GetFlags", VirtualSlot(&D::GetFlags)},
                  {"GetDriveSize", VirtualSlot(&D::GetDriveSize)},
                  {"GetVolumeLabel (kept)", VirtualSlot(&D::GetVolumeLabel)},
                  {"IsPathSeparator", VirtualSlot(&D::IsPathSeparator)},
                  {"GetPathSeparator", VirtualSlot(&D::GetPathSeparator)},
                  {"GetPathStyle", VirtualSlot(&D::GetPathStyle)},
                  {"IOCTL", VirtualSlotOf<D, void(void*)>(&D::IOCTL)},
                  {"EnableNotification", VirtualSlot(&D::EnableNotification)},
                  {"ResetNotification", VirtualSlot(&D::ResetNotification)},
                  {"ResolveSymLinks (kept)", VirtualSlot(&D::ResolveSymLinks)},
                  {"GetNativeHandle", VirtualSlot(&D::GetNativeHandle)},
                  {"GetNativeHandles", VirtualSlot(&D::GetNativeHandles)},
                  {"GetExtension", VirtualSlot(&D::GetExtension)},
                  {"~posix_dir", kDestructorPair},
                  {"OpenWrite(name)", VirtualSlotOf<D, ro_file*(const char16_t*, bool)>(&D::OpenWrite)},
                  {"OpenWrite(entry)", VirtualSlotOf<D, ro_file*(Entry, bool)>(&D::OpenWrite)},
                  {"OpenWrite(id)", VirtualSlotOf<D, ro_file*(Id, bool)>(&D::OpenWrite)},
                  {"OpenReadWrite(name)", VirtualSlotOf<D, rio_file*(const char16_t*, bool)>(&D::OpenReadWrite)},
                  {"OpenReadWrite(entry)", VirtualSlotOf<D, rio_file*(Entry, bool)>(&D::OpenReadWrite)},
                  {"OpenReadWrite(id)", VirtualSlotOf<D, rio_file*(Id, bool)>(&D::OpenReadWrite)},
                  {"Create", VirtualSlot(&D::Create)},
                  {"CreateOutput", VirtualSlot(&D::CreateOutput)},
                  {"OpenOutputDir", VirtualSlot(&D::OpenOutputDir)},
                  {"OpenOutputParentDir", VirtualSlot(&D::OpenOutputParentDir)},
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
              }),
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
