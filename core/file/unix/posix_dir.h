// posix_dir: the directory of the POSIX implementation, a native path with the
// operations of rio_dir. It holds no descriptor: a posix_dir over a path that
// does not exist is valid, and its operations fail when they touch the path.
//
// Every operation that takes a name converts the UTF-16 name to native bytes
// (file_name_conversion.h) and joins it to the directory's path component by
// component ("." skipped, ".." drops the last component, a leading '/' starts
// again from the root). A non-empty name that cannot be converted never names
// the directory itself: the operation fails with its naming error and touches
// nothing.
//
// The iterators: posix_dir::iterator walks the entries of a directory (never
// "." or ".."); posix_dir::self_iterator stands on one named item. Both answer
// status queries from the lstat record of their current entry.
//
// Control requests of IOCTL (each begins with its 64-bit code):
//   "STME" sets the times of a named item; "GSYP" names the device that holds
//   the directory; "GFST" gives the upper-case file-system type name;
//   "BKUP" writes one item as typed chunks (posix_backup.h); "RSTR" restores
//   one item from them (posix_restore.h).
// Change notification: posix_notification.h.
//
// Threading: a directory or iterator object is used by one thread at a time.
// OpenCurrentDir may be called from any thread.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "core/file/unix/posix_file.h"
#include "core/include/file/dir.h"

// Binary contract: declaration order is the binary order; never insert or reorder.
class posix_dir : public rio_dir
{
public:
    class stat_iterator;
    class iterator;
    class self_iterator;

    struct stme_request // "STME": times of a named item
    {
        uint64_t code;
        const char16_t* name;     // in
        int64_t modificationTime; // in, ms
        int64_t unused;
        int64_t accessTime; // in, ms
    };
    struct gsyp_request // "GSYP": the device that holds the directory
    {
        uint64_t code;
        uint64_t unused1;
        uint64_t unused2;
        const char16_t* path; // out: GetPath() of the directory
        uint32_t major;       // out
        uint32_t minor;       // out
    };
    struct gfst_request // "GFST": file-system type name, upper case
    {
        uint64_t code;
        char16_t name[10]; // out, NUL-terminated
    };

    explicit posix_dir(std::string path);
    ~posix_dir() override;

    // The native path, as given.
    const std::string& GetNativePath() const noexcept { return m_path; }

    // ---- i_dir ----
    ri_file* OpenRead(const char16_t* name, bool rangeLocks) override;
    ri_file* OpenRead(const i_dir::iterator* entry, bool rangeLocks) override;
    ri_file* OpenRead(const file_identifier* id, bool rangeLocks) override;
    rio_dir* OpenDir(const char16_t* name) override;
    rio_dir* OpenDir(const i_dir::iterator* entry) override;
    rio_dir* OpenDir(const file_identifier* id) override;
    rio_dir* OpenParentDir(const char16_t*& path) override;
    rio_dir* OpenSpecialDir(uint32_t number) override;
    i_dir::iterator* GetIterator() override;
    i_dir::iterator* GetIterator(const char16_t* name) override;
    i_dir::iterator* GetIterator(const file_identifier* id) override;
    i_dir::iterator* GetSelfIterator() override;
    const char16_t* GetPath() override;
    uint32_t IsSameDir(const i_dir* other) override;
    int CompareIdentifiers(const file_identifier* a, const file_identifier* b) override;
    uint32_t GetFlags() override;
    void GetDriveSize(uint64_t* total, uint64_t* free, uint64_t* available) override;
    bool IsPathSeparator(char16_t c) override;
    char16_t GetPathSeparator() override;
    uint32_t GetPathStyle() override;
    void IOCTL(void* request) override;
    // Registers `handler` with the change watcher (posix_notification.h),
    // replacing a handler registered before; null removes the registration.
    void EnableNotification(notification_handler* handler) override;
    // Arms the registration again after a change was reported.
    void ResetNotification() override;

    // ---- rio_dir / o_dir ----
    ro_file* OpenWrite(const char16_t* name, bool rangeLocks) override;
    ro_file* OpenWrite(const i_dir::iterator* entry, bool rangeLocks) override;
    ro_file* OpenWrite(const file_identifier* id, bool rangeLocks) override;
    rio_file* OpenReadWrite(const char16_t* name, bool rangeLocks) override;
    rio_file* OpenReadWrite(const i_dir::iterator* entry, bool rangeLocks) override;
    rio_file* OpenReadWrite(const file_identifier* id, bool rangeLocks) override;
    rio_file* Create(const char16_t* name, bool rangeLocks, const access_rights* rights) override;
    void Remove(const char16_t* name) override;
    void Rename(const char16_t* from, const char16_t* to) override;
    void CreateDir(const char16_t* name, const access_rights* rights) override;
    void RemoveDir(const char16_t* name) override;
    void SetAccessRights(const char16_t* name, const access_rights* rights) override;
    void SetUnixOwner(const char16_t* name, uint32_t user, uint32_t group) override;
    void SetUnixPermissions(const char16_t* name, uint32_t mode) override;
    void CreateDeviceNode(const char16_t* name, uint32_t itemType, uint32_t mode, uint32_t major,
                          uint32_t minor) override;
    void CreateHardLink(const char16_t* name, const char16_t* existing) override;
    void CreateSymLink(const char16_t* name, const char16_t* target, uint32_t itemType, uint32_t flags) override;

    // ---- posix_dir ----
    // Opens `path` with open(2) `flags` and creation `mode` under the lock
    // discipline of `rangeLocks`; the reason of a failure is in this slot.
    virtual posix_file* Open(const std::string& path, int flags, bool rangeLocks, int mode);
    // The readdir iterator over `stream` (taken over), or null when it cannot
    // be allocated (the stream then stays the caller's).
    virtual iterator* CreateIterator(const char* path, DIR* stream);
    // The iterator over the one item `path`, or null when it cannot be allocated.
    virtual self_iterator* CreateSelfIterator(const char* path);

    // The change-watch registration of this directory (posix_notification.cpp).
    struct watch_record;

private:
    friend struct watch_record;

    // The joined path of a name; false (path empty) when the name is null or
    // a non-empty name has no native form.
    bool JoinName(const char16_t* name, std::string& path) const;
    // Names the entry of a name, an iterator or an identifier; false with the
    // reason in the slot.
    bool NameEntry(const char16_t* name, std::string& path);
    bool NameEntry(const i_dir::iterator* entry, std::string& path);
    bool NameEntry(const file_identifier* id, std::string& path);
    template <class Entry>
    posix_file* OpenEntry(Entry entry, int flags, bool rangeLocks);
    template <class Entry>
    rio_dir* OpenDirEntry(Entry entry);
    // Takes the status result of a new self-iterator into this slot.
    i_dir::iterator* AdoptSelfIterator(self_iterator* item);
    // The directory's path followed by '/' when it is longer than one character.
    std::string PathWithSeparator() const;

    void SetTimes(stme_request& request);
    void GetDevice(gsyp_request& request);
    void GetFileSystemType(gfst_request& request);

    std::string m_path;
    std::u16string m_pathText;
    watch_record* m_watch = nullptr;
};

// Iterator that keeps the lstat record of its current entry and answers every
// status query from it (the defaults of i_dir::iterator while its slot is
// failed).
class posix_dir::stat_iterator : public i_dir::iterator
{
public:
    file_identifier* GetIdentifier() override;
    const char16_t* GetName() override;
    uint64_t GetSize() override;
    uint64_t GetAllocatedSize() override;
    uint32_t GetType() override;
    int64_t GetModificationTime() override;
    int64_t GetChangeTime() override;
    int64_t GetAccessTime() override;
    uint32_t GetUnixMode() override;
    bool IsHidden() override;
    uint32_t GetUnixOwner() override;
    uint32_t GetUnixGroup() override;
    uint64_t GetLinkCount() override;
    uint32_t GetDeviceMajor() override;
    uint32_t GetDeviceMinor() override;
    uint64_t GetFileIndex() override;
    const char16_t* GetLinkTarget() override;

    // The native name of the current entry, or null when there is none.
    virtual const char* GetNativeName() const = 0;
    // Makes the status record of the current entry valid, or fails the slot.
    virtual void StatFile() = 0;
    // Learns the allocated size (st_blocks * 512) once per entry.
    virtual void AcquireAllocatedSize();

protected:
    // lstat of `path` into the status record (the slot tells the outcome).
    void DoStat(const std::string& path);
    // Forgets everything known about the current entry.
    void ResetEntry();
    // The status record after StatFile, or null while the slot is failed.
    const struct stat64* Status();

    std::u16string m_nameText;
    std::u16string m_linkText;
    bool m_statusValid = false;
    struct stat64 m_status
    {
    };
    std::string m_linkPath;
    int32_t m_linkState = 0; // 0 target not read, 1 read, -1 reading failed
    uint64_t m_allocatedSize = 0;
    bool m_allocatedSizeKnown = false;
};

// The readdir iterator over a directory; stands on its first entry when made.
class posix_dir::iterator : public posix_dir::stat_iterator
{
public:
    // Takes over `stream`; `path` is the directory's native path.
    iterator(const char* path, DIR* stream);
    ~iterator() override;

    void Next() override;
    uint32_t GetType() override;
    const char* GetNativeName() const override;
    void StatFile() override;
    void AcquireAllocatedSize() override;

private:
    std::string m_directoryPath; // with a trailing '/' when longer than one character
    DIR* m_stream;
    struct dirent64* m_entry = nullptr;
};

// The iterator over one named item; its one entry is always current, and its
// status is read once, when it is made.
class posix_dir::self_iterator : public posix_dir::stat_iterator
{
public:
    explicit self_iterator(const char* path);

    void Next() override;
    const char* GetNativeName() const override;
    void StatFile() override;

private:
    std::string m_name;
    std::string m_path;
};

// A new directory over the process's working directory as it was at the first
// call (later changes of the working directory are not seen); "/" when it
// could not be read.
posix_dir* OpenCurrentDir();
