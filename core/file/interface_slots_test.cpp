// The file and directory interfaces are shared with closed libraries by
// virtual-table position: each table below is written in its binary order.

#include <gtest/gtest.h>

#include <cstdint>

#include "core/include/file/dir.h"
#include "core/include/file/file.h"
#include "testing/vtable_slot.h"

namespace {

using Testing::kDestructorPair;
using Testing::SlotOrderMismatches;
using Testing::TableSize;
using Testing::VirtualSlot;
using Testing::VirtualSlotOf;

using ReadSome = void(void*, uint64_t, uint64_t*);
using WriteSome = void(const void*, uint64_t, uint64_t*);
using Range = void(uint64_t, uint64_t);
using RangeLock = void(uint64_t, uint64_t, bool);

TEST(FileInterfaceSlots, FileClassesKeepTheirTableOrder)
{
    EXPECT_EQ(SlotOrderMismatches({{"~file_object", kDestructorPair}, {"IOCTL", VirtualSlot(&file_object::IOCTL)}}),
              "");
    EXPECT_EQ(TableSize<file_object>(), 3u);

    EXPECT_EQ((VirtualSlotOf<i_file, ReadSome>(&i_file::Read)), 0u);
    EXPECT_EQ(TableSize<i_file>(), 3u); // Read, then the destructor pair

    EXPECT_EQ(SlotOrderMismatches({{"Write", VirtualSlotOf<o_file, WriteSome>(&o_file::Write)},
                                   {"Flush", VirtualSlot(&o_file::Flush)}}),
              "");
    EXPECT_EQ(TableSize<o_file>(), 4u);

    EXPECT_EQ(SlotOrderMismatches(
                  {{"Rewind", VirtualSlot(&sized_file::Rewind)}, {"GetSize", VirtualSlot(&sized_file::GetSize)}}),
              "");
    EXPECT_EQ(TableSize<sized_file>(), 4u);

    EXPECT_EQ(SlotOrderMismatches({{"Rewind", VirtualSlot(&raccess_file::Rewind)},
                                   {"GetSize", VirtualSlot(&raccess_file::GetSize)},
                                   {"~raccess_file", kDestructorPair},
                                   {"Seek", VirtualSlot(&raccess_file::Seek)},
                                   {"Move", VirtualSlot(&raccess_file::Move)},
                                   {"SeekEnd", VirtualSlot(&raccess_file::SeekEnd)},
                                   {"Unlock", VirtualSlotOf<raccess_file, Range>(&raccess_file::Unlock)}}),
              "");
    EXPECT_EQ(TableSize<raccess_file>(), 8u);

    EXPECT_EQ(SlotOrderMismatches({{"Read", VirtualSlotOf<ri_file, ReadSome>(&ri_file::Read)},
                                   {"~ri_file", kDestructorPair},
                                   {"LockShared", VirtualSlotOf<ri_file, RangeLock>(&ri_file::LockShared)}}),
              "");
    EXPECT_EQ(TableSize<si_file>(), 3u);
    EXPECT_EQ(TableSize<ri_file>(), 4u);

    EXPECT_EQ(SlotOrderMismatches({{"Write", VirtualSlotOf<ro_file, WriteSome>(&ro_file::Write)},
                                   {"Flush", VirtualSlotOf<ro_file, void()>(&ro_file::Flush)},
                                   {"~ro_file", kDestructorPair},
                                   {"Truncate", VirtualSlot(&ro_file::Truncate)},
                                   {"LockExclusive", VirtualSlot(&ro_file::LockExclusive)}}),
              "");
    EXPECT_EQ(TableSize<ro_file>(), 6u);
    EXPECT_EQ(TableSize<rio_file>(), 4u); // the ri_file table, nothing added
}

TEST(FileInterfaceSlots, InputDirectoryKeepsItsTableOrder)
{
    using Entry = const i_dir::iterator*;
    using Id = const file_identifier*;
    EXPECT_EQ(SlotOrderMismatches({
                  {"OpenRead(name)", VirtualSlotOf<i_dir, i_file*(const char16_t*, bool)>(&i_dir::OpenRead)},
                  {"OpenRead(entry)", VirtualSlotOf<i_dir, i_file*(Entry, bool)>(&i_dir::OpenRead)},
                  {"OpenRead(id)", VirtualSlotOf<i_dir, i_file*(Id, bool)>(&i_dir::OpenRead)},
                  {"OpenDir(name)", VirtualSlotOf<i_dir, i_dir*(const char16_t*)>(&i_dir::OpenDir)},
                  {"OpenDir(entry)", VirtualSlotOf<i_dir, i_dir*(Entry)>(&i_dir::OpenDir)},
                  {"OpenDir(id)", VirtualSlotOf<i_dir, i_dir*(Id)>(&i_dir::OpenDir)},
                  {"OpenParentDir", VirtualSlot(&i_dir::OpenParentDir)},
                  {"Clone", VirtualSlot(&i_dir::Clone)},
                  {"OpenSpecialDir", VirtualSlot(&i_dir::OpenSpecialDir)},
                  {"GetIterator()", VirtualSlotOf<i_dir, i_dir::iterator*()>(&i_dir::GetIterator)},
                  {"GetIterator(name)", VirtualSlotOf<i_dir, i_dir::iterator*(const char16_t*)>(&i_dir::GetIterator)},
                  {"GetIterator(id)", VirtualSlotOf<i_dir, i_dir::iterator*(Id)>(&i_dir::GetIterator)},
                  {"GetSelfIterator", VirtualSlot(&i_dir::GetSelfIterator)},
                  {"GetPath", VirtualSlot(&i_dir::GetPath)},
                  {"IsSameDir", VirtualSlot(&i_dir::IsSameDir)},
                  {"CompareIdentifiers", VirtualSlot(&i_dir::CompareIdentifiers)},
                  {"GetFlags", VirtualSlot(&i_dir::GetFlags)},
                  {"GetDriveSize", VirtualSlot(&i_dir::GetDriveSize)},
                  {"GetVolumeLabel", VirtualSlot(&i_dir::GetVolumeLabel)},
                  {"IsPathSeparator", VirtualSlot(&i_dir::IsPathSeparator)},
                  {"GetPathSeparator", VirtualSlot(&i_dir::GetPathSeparator)},
                  {"GetPathStyle", VirtualSlot(&i_dir::GetPathStyle)},
                  {"IOCTL", VirtualSlotOf<i_dir, void(void*)>(&i_dir::IOCTL)},
                  {"EnableNotification", VirtualSlot(&i_dir::EnableNotification)},
                  {"ResetNotification", VirtualSlot(&i_dir::ResetNotification)},
                  {"ResolveSymLinks", VirtualSlot(&i_dir::ResolveSymLinks)},
                  {"GetNativeHandle", VirtualSlot(&i_dir::GetNativeHandle)},
                  {"GetNativeHandles", VirtualSlot(&i_dir::GetNativeHandles)},
                  {"GetExtension", VirtualSlot(&i_dir::GetExtension)},
              }),
              "");
    EXPECT_EQ(TableSize<i_dir>(), 31u); // the destructor pair closes the table

    // The refinements narrow results without adding entries.
    EXPECT_EQ((VirtualSlotOf<si_dir, si_dir*(const char16_t*)>(&si_dir::OpenDir)), 3u);
    EXPECT_EQ((VirtualSlotOf<ri_dir, ri_file*(Id, bool)>(&ri_dir::OpenRead)), 2u);
    EXPECT_EQ(TableSize<si_dir>(), 31u);
    EXPECT_EQ(TableSize<ri_dir>(), 31u);
}

TEST(FileInterfaceSlots, OutputDirectoryKeepsItsTableOrder)
{
    EXPECT_EQ(SlotOrderMismatches({
                  {"OpenWrite", VirtualSlot(&o_dir::OpenWrite)},
                  {"Remove", VirtualSlot(&o_dir::Remove)},
                  {"Rename", VirtualSlot(&o_dir::Rename)},
                  {"CreateHardLink", VirtualSlot(&o_dir::CreateHardLink)},
                  {"CreateSymLink", VirtualSlot(&o_dir::CreateSymLink)},
                  {"CreateDir", VirtualSlot(&o_dir::CreateDir)},
                  {"RemoveDir", VirtualSlot(&o_dir::RemoveDir)},
                  {"SetAccessRights", VirtualSlot(&o_dir::SetAccessRights)},
                  {"SetDOSAttributes", VirtualSlot(&o_dir::SetDOSAttributes)},
                  {"SetUnixPermissions", VirtualSlot(&o_dir::SetUnixPermissions)},
                  {"SetUnixOwner", VirtualSlot(&o_dir::SetUnixOwner)},
                  {"CreateDeviceNode", VirtualSlot(&o_dir::CreateDeviceNode)},
                  {"IOCTL", VirtualSlotOf<o_dir, void(void*)>(&o_dir::IOCTL)},
                  {"Create", VirtualSlot(&o_dir::Create)},
                  {"OpenDir", VirtualSlot(&o_dir::OpenDir)},
                  {"OpenParentDir", VirtualSlot(&o_dir::OpenParentDir)},
              }),
              "");
    EXPECT_EQ(TableSize<o_dir>(), 18u);
    EXPECT_EQ(TableSize<ro_dir>(), 18u);
}

TEST(FileInterfaceSlots, FullDirectoryAddsItsOperationsAfterTheInputTable)
{
    using Entry = const i_dir::iterator*;
    using Id = const file_identifier*;
    EXPECT_EQ(SlotOrderMismatches(
                  {
                      {"OpenWrite(name)", VirtualSlotOf<rio_dir, ro_file*(const char16_t*, bool)>(&rio_dir::OpenWrite)},
                      {"OpenWrite(entry)", VirtualSlotOf<rio_dir, ro_file*(Entry, bool)>(&rio_dir::OpenWrite)},
                      {"OpenWrite(id)", VirtualSlotOf<rio_dir, ro_file*(Id, bool)>(&rio_dir::OpenWrite)},
                      {"OpenReadWrite(name)",
                       VirtualSlotOf<rio_dir, rio_file*(const char16_t*, bool)>(&rio_dir::OpenReadWrite)},
                      {"OpenReadWrite(entry)", VirtualSlotOf<rio_dir, rio_file*(Entry, bool)>(&rio_dir::OpenReadWrite)},
                      {"OpenReadWrite(id)", VirtualSlotOf<rio_dir, rio_file*(Id, bool)>(&rio_dir::OpenReadWrite)},
                      {"Create", VirtualSlot(&rio_dir::Create)},
                      {"CreateOutput", VirtualSlot(&rio_dir::CreateOutput)},
                      {"OpenOutputDir", VirtualSlot(&rio_dir::OpenOutputDir)},
                      {"OpenOutputParentDir", VirtualSlot(&rio_dir::OpenOutputParentDir)},
                  },
                  31),
              "");
    EXPECT_EQ(TableSize<rio_dir>(), 41u);
    // Its own forms of the input operations stay in the input slots.
    EXPECT_EQ((VirtualSlotOf<rio_dir, rio_dir*(const char16_t*)>(&rio_dir::OpenDir)), 3u);
    EXPECT_EQ((VirtualSlotOf<rio_dir, void(void*)>(&rio_dir::IOCTL)), 22u);
}

TEST(FileInterfaceSlots, IteratorIdentifierAndHandlerKeepTheirTableOrder)
{
    using It = i_dir::iterator;
    EXPECT_EQ(SlotOrderMismatches({
                  {"~iterator", kDestructorPair},
                  {"Next", VirtualSlot(&It::Next)},
                  {"GetIdentifier", VirtualSlot(&It::GetIdentifier)},
                  {"GetName", VirtualSlot(&It::GetName)},
                  {"GetNativeEntry", VirtualSlot(&It::GetNativeEntry)},
                  {"GetDisplayName", VirtualSlot(&It::GetDisplayName)},
                  {"GetExtraData", VirtualSlot(&It::GetExtraData)},
                  {"GetSize", VirtualSlot(&It::GetSize)},
                  {"GetAllocatedSize", VirtualSlot(&It::GetAllocatedSize)},
                  {"GetType", VirtualSlot(&It::GetType)},
                  {"GetModificationTime", VirtualSlot(&It::GetModificationTime)},
                  {"GetChangeTime", VirtualSlot(&It::GetChangeTime)},
                  {"GetCreationTime", VirtualSlot(&It::GetCreationTime)},
                  {"GetAccessTime", VirtualSlot(&It::GetAccessTime)},
                  {"GetDOSAttributes", VirtualSlot(&It::GetDOSAttributes)},
                  {"GetUnixMode", VirtualSlot(&It::GetUnixMode)},
                  {"IsHidden", VirtualSlot(&It::IsHidden)},
                  {"GetUnixOwner", VirtualSlot(&It::GetUnixOwner)},
                  {"GetUnixGroup", VirtualSlot(&It::GetUnixGroup)},
                  {"GetUnixFlags", VirtualSlot(&It::GetUnixFlags)},
                  {"GetLinkCount", VirtualSlot(&It::GetLinkCount)},
                  {"GetDeviceMajor", VirtualSlot(&It::GetDeviceMajor)},
                  {"GetDeviceMinor", VirtualSlot(&It::GetDeviceMinor)},
                  {"GetNameStyle", VirtualSlot(&It::GetNameStyle)},
                  {"GetFileIndex", VirtualSlot(&It::GetFileIndex)},
                  {"GetLinkTarget", VirtualSlot(&It::GetLinkTarget)},
              }),
              "");
    EXPECT_EQ(TableSize<It>(), 27u);

    EXPECT_EQ(
        SlotOrderMismatches({{"~file_identifier", kDestructorPair}, {"Clone", VirtualSlot(&file_identifier::Clone)}}),
        "");
    EXPECT_EQ(TableSize<file_identifier>(), 3u);

    EXPECT_EQ(SlotOrderMismatches({{"OnChange", VirtualSlot(&notification_handler::OnChange)},
                                   {"~notification_handler", kDestructorPair}}),
              "");
    EXPECT_EQ(TableSize<notification_handler>(), 3u);
}

} // namespace
