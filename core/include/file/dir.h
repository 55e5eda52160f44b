// The directory interfaces of the file layer.
//
//   i_dir    reading side: opening files and directories inside it, iterators
//   si_dir   i_dir with results typed as sized input / si_dir
//   ri_dir   si_dir with results typed as random-access input / ri_dir
//   o_dir    writing side: opening for output, removing, renaming, creating
//   ro_dir   o_dir with directory results typed as ro_dir
//   rio_dir  the full directory (both sides), results typed as rio_dir
//
// Opening operations return owned pointers; null means failure, and the
// reason is in the directory's error slot. Directory operations and their
// unsupported defaults follow the replace discipline (file_object.h): each
// leaves its own outcome in the slot. The range-locks flag of the opening
// operations chooses the lock discipline of the file: false locks the whole
// file at open (shared for reading, exclusive for writing) and makes the
// byte-range lock operations no-ops; true locks nothing at open.
//
// An iterator stands on its first entry when made, or its slot holds the
// reason why there is none; Next stores 0x40002 when no entry is left. The
// status queries answer the defaults below while the iterator's slot is failed.
//
// Times are signed 64-bit milliseconds since 1970-01-01 UTC.
//
// Binary contract: declaration order is the binary order; never insert or reorder.
//
// Threading: an object is used by one thread at a time. notification_handler
// counts its references atomically.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

#include "core/common/file_object.h"
#include "core/include/file/file.h"

// Item type codes (GetType, CreateDeviceNode, backup chunks).
enum file_item_type : uint32_t
{
    ITEM_REGULAR = 0, // also any type not listed
    ITEM_CHAR_DEVICE = 1,
    ITEM_BLOCK_DEVICE = 2,
    ITEM_FIFO = 3,
    ITEM_SOCKET = 4,
    ITEM_SYMLINK = 5,
    ITEM_DIRECTORY = 128,
};

// Argument of Create, CreateDir and SetAccessRights. The POSIX implementation
// reads only the mode.
struct access_rights
{
    uint32_t attributes;
    uint32_t mode; // POSIX permission bits
};

// Names a directory entry independently of its text form.
class file_identifier
{
public:
    virtual ~file_identifier();
    // A new identifier naming the same entry, owned by the caller; null when
    // it cannot be made.
    virtual file_identifier* Clone() const = 0;
};

class i_dir;

// Change handler of EnableNotification. Reference counted; the last Release
// deletes it through the virtual destructor.
class notification_handler
{
public:
    virtual void OnChange(i_dir* changed) = 0;
    virtual ~notification_handler();

    void AddRef() noexcept { m_count.fetch_add(1, std::memory_order_relaxed); }
    void Release() noexcept
    {
        if (m_count.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete this;
    }

private:
    std::atomic<uint64_t> m_count{1};
};

class i_dir : public virtual file_object
{
public:
    class iterator;

    virtual i_file* OpenRead(const char16_t* name, bool rangeLocks) = 0;
    virtual i_file* OpenRead(const iterator* entry, bool rangeLocks) = 0;
    virtual i_file* OpenRead(const file_identifier* id, bool rangeLocks) = 0;
    virtual i_dir* OpenDir(const char16_t* name) = 0;
    virtual i_dir* OpenDir(const iterator* entry) = 0;
    virtual i_dir* OpenDir(const file_identifier* id) = 0;
    // Opens the directory part of `path` and advances `path` to the last name.
    virtual i_dir* OpenParentDir(const char16_t*& path) = 0;
    // Default: null.
    virtual i_dir* Clone();
    // Default: unsupported.
    virtual i_dir* OpenSpecialDir(uint32_t number);
    virtual iterator* GetIterator() = 0;
    virtual iterator* GetIterator(const char16_t* name) = 0;
    virtual iterator* GetIterator(const file_identifier* id) = 0;
    virtual iterator* GetSelfIterator() = 0;
    // Default: null.
    virtual const char16_t* GetPath();
    // 0 the same directory, 1 `other` lies inside this one, 2 neither.
    virtual uint32_t IsSameDir(const i_dir* other) = 0;
    virtual int CompareIdentifiers(const file_identifier* a, const file_identifier* b) = 0;
    // Default: 137.
    virtual uint32_t GetFlags();
    // Default: sets all three to 0, then unsupported.
    virtual void GetDriveSize(uint64_t* total, uint64_t* free, uint64_t* available);
    // Default: empties the buffer when the capacity is not 0, then unsupported.
    virtual void GetVolumeLabel(char16_t* buffer, int32_t capacity);
    // Default: true for '/' and '\\'.
    virtual bool IsPathSeparator(char16_t c);
    // Default: '\\'.
    virtual char16_t GetPathSeparator();
    // Default: 0.
    virtual uint32_t GetPathStyle();
    // Default: unsupported (replace).
    void IOCTL(void* request) override;
    // Default: unsupported. Null disables.
    virtual void EnableNotification(notification_handler* handler);
    // Default: nothing.
    virtual void ResetNotification();
    // Default: a second object for this directory (OpenDir ".") and a clone of
    // `id` (null for a null `id`); both belong to the caller.
    virtual std::pair<i_dir*, file_identifier*> ResolveSymLinks(const file_identifier* id);
    // Defaults: null, {null, null}, null.
    virtual void* GetNativeHandle();
    virtual std::pair<void*, void*> GetNativeHandles();
    virtual void* GetExtension();
};

class i_dir::iterator : public virtual file_object
{
public:
    // Declared first: the destructor pair leads the table.
    ~iterator() override;
    virtual void Next() = 0;
    // A new identifier of the current entry, owned by the caller.
    virtual file_identifier* GetIdentifier() = 0;
    virtual const char16_t* GetName() = 0;
    // Default: null.
    virtual void* GetNativeEntry();
    // Default: GetName().
    virtual const char16_t* GetDisplayName();
    // Default: null.
    virtual void* GetExtraData();
    virtual uint64_t GetSize() = 0;
    // Default: GetSize().
    virtual uint64_t GetAllocatedSize();
    virtual uint32_t GetType() = 0;
    // Defaults: 0.
    virtual int64_t GetModificationTime();
    virtual int64_t GetChangeTime();
    virtual int64_t GetCreationTime(); // the second time of a backup time chunk
    virtual int64_t GetAccessTime();
    // DOS attribute word; default 0xFFFFFFFF (none).
    virtual uint32_t GetDOSAttributes();
    // Default: 0xFFFFFFFF.
    virtual uint32_t GetUnixMode();
    // Default: false.
    virtual bool IsHidden();
    // Defaults: 0xFFFFFFFF.
    virtual uint32_t GetUnixOwner();
    virtual uint32_t GetUnixGroup();
    // Default: 0.
    virtual uint32_t GetUnixFlags();
    // Default: 1.
    virtual uint64_t GetLinkCount();
    // Defaults: 0.
    virtual uint32_t GetDeviceMajor();
    virtual uint32_t GetDeviceMinor();
    // Default: 1.
    virtual uint32_t GetNameStyle();
    // Default: 0.
    virtual uint64_t GetFileIndex();
    // Default: null.
    virtual const char16_t* GetLinkTarget();
};

class si_dir : public i_dir
{
public:
    si_file* OpenRead(const char16_t* name, bool rangeLocks) override = 0;
    si_file* OpenRead(const iterator* entry, bool rangeLocks) override = 0;
    si_file* OpenRead(const file_identifier* id, bool rangeLocks) override = 0;
    si_dir* OpenDir(const char16_t* name) override = 0;
    si_dir* OpenDir(const iterator* entry) override = 0;
    si_dir* OpenDir(const file_identifier* id) override = 0;
    si_dir* OpenParentDir(const char16_t*& path) override = 0;
    si_dir* Clone() override;
    si_dir* OpenSpecialDir(uint32_t number) override;
};

class ri_dir : public si_dir
{
public:
    ri_file* OpenRead(const char16_t* name, bool rangeLocks) override = 0;
    ri_file* OpenRead(const iterator* entry, bool rangeLocks) override = 0;
    ri_file* OpenRead(const file_identifier* id, bool rangeLocks) override = 0;
    ri_dir* OpenDir(const char16_t* name) override = 0;
    ri_dir* OpenDir(const iterator* entry) override = 0;
    ri_dir* OpenDir(const file_identifier* id) override = 0;
    ri_dir* OpenParentDir(const char16_t*& path) override = 0;
    ri_dir* Clone() override;
    ri_dir* OpenSpecialDir(uint32_t number) override;
};

class ro_dir;

class o_dir : public virtual file_object
{
public:
    virtual ro_file* OpenWrite(const char16_t* name, bool rangeLocks) = 0;
    virtual void Remove(const char16_t* name) = 0;
    virtual void Rename(const char16_t* from, const char16_t* to) = 0;
    // Defaults from here to IOCTL: unsupported (replace), unless pure.
    virtual void CreateHardLink(const char16_t* name, const char16_t* existing);
    virtual void CreateSymLink(const char16_t* name, const char16_t* target, uint32_t itemType, uint32_t flags);
    virtual void CreateDir(const char16_t* name, const access_rights* rights) = 0;
    virtual void RemoveDir(const char16_t* name) = 0;
    virtual void SetAccessRights(const char16_t* name, const access_rights* rights);
    virtual void SetDOSAttributes(const char16_t* name, uint32_t attributes);
    virtual void SetUnixPermissions(const char16_t* name, uint32_t mode);
    virtual void SetUnixOwner(const char16_t* name, uint32_t user, uint32_t group);
    virtual void CreateDeviceNode(const char16_t* name, uint32_t itemType, uint32_t mode, uint32_t major,
                                  uint32_t minor);
    void IOCTL(void* request) override;
    virtual ro_file* Create(const char16_t* name, bool rangeLocks, const access_rights* rights) = 0;
    virtual ro_dir* OpenDir(const char16_t* name) = 0;
    virtual ro_dir* OpenParentDir(const char16_t*& path) = 0;
};

class ro_dir : public o_dir
{
};

class rio_dir : public ri_dir, public ro_dir
{
public:
    // Each of these serves both sides (the o_dir forms included).
    rio_dir* OpenDir(const char16_t* name) override = 0;
    rio_dir* OpenDir(const iterator* entry) override = 0;
    rio_dir* OpenDir(const file_identifier* id) override = 0;
    rio_dir* OpenParentDir(const char16_t*& path) override = 0;
    // OpenDir(u".").
    rio_dir* Clone() override;
    rio_dir* OpenSpecialDir(uint32_t number) override;
    // The i_dir default (unsupported, replace).
    void IOCTL(void* request) override;

    ro_file* OpenWrite(const char16_t* name, bool rangeLocks) override = 0;
    virtual ro_file* OpenWrite(const iterator* entry, bool rangeLocks) = 0;
    virtual ro_file* OpenWrite(const file_identifier* id, bool rangeLocks) = 0;
    virtual rio_file* OpenReadWrite(const char16_t* name, bool rangeLocks) = 0;
    virtual rio_file* OpenReadWrite(const iterator* entry, bool rangeLocks) = 0;
    virtual rio_file* OpenReadWrite(const file_identifier* id, bool rangeLocks) = 0;
    rio_file* Create(const char16_t* name, bool rangeLocks, const access_rights* rights) override = 0;
    // The output-side forms of Create, OpenDir by name and OpenParentDir: the
    // ro_file or ro_dir part of what those return (null stays null). Calls
    // through o_dir reach the same results.
    virtual ro_file* CreateOutput(const char16_t* name, bool rangeLocks, const access_rights* rights) final;
    virtual ro_dir* OpenOutputDir(const char16_t* name) final;
    virtual ro_dir* OpenOutputParentDir(const char16_t*& path) final;
};
