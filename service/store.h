// The service's object store: one SQLite database file, one row per object
// with its key bytes, body bytes, service code and registration order.
//
// Keys are opaque bytes compared by equality, unique per service code; each
// service code sees only its own objects. The registration order grows with
// every insert and is never given out again, also after removals and across
// reopening; a replacement keeps the object's place. An index on (service
// code, registration order) serves every listing in order without sorting;
// Open adds it to a store that lacks it (the format version stays 1, so older
// programs still open the store).
//
// All work runs inside Store::Run. The database runs in WAL mode with full
// sync: a committed transaction is on the disk before Run returns, and a
// process killed in the middle of a transaction leaves the last committed
// state.
//
// Writes (group commit): the write work of one Store runs on its one writer
// connection. A write that comes while a transaction is being committed waits
// for that commit; then every write waiting at that moment runs, one after
// the other in arrival order, in the next transaction, each in a savepoint of
// its own, and one commit (one sync) covers them all. A work's failure (or
// exception) rolls back its own savepoint only; success keeps it. Run returns
// a write's result only after the commit that holds it succeeded; when the
// transaction cannot begin or commit, or SQLite ends it under a work (a full
// disk, an I/O failure), every write it held fails and nothing of them is
// kept. Writers of other Stores and processes on the same file take turns
// through SQLite's lock (BEGIN IMMEDIATE), waiting up to
// kBusyTimeoutMilliseconds for each other.
//
// Reads run on read connections of their own (a small pool, opened as
// needed), one read transaction each, which sees the last committed state.
// WAL lets a reader go on while a writer holds the lock, so a read never
// waits for a write, of this process or another.
//
//     store->Run(Service::Store::Mode::Write, [&](Service::Transaction& objects) {
//         Common::Error error = objects.Remove(code, oldKey);
//         return error.IsSuccess() ? objects.Insert(code, newKey, body) : error;
//     });
//
// Opening: the files of a store are the database `<store>`, SQLite's
// companions `<store>-wal` and `<store>-shm`, and `<store>.lock`, through
// which openers take turns (Open holds it only while it opens). Open trusts
// none of them that another user could have made or could read: each that
// exists must be a regular file (not a symbolic link, a FIFO...) owned by the
// process's effective user, else Open refuses with FileErrors::kAccessDenied
// naming the file and what is wrong; one open to group or others loses
// those bits, and a notice says so. The files it makes are the owner's only
// (mode 0600). The checks run before SQLite opens the files and again on the
// companions SQLite made; they never open a descriptor that could drop
// SQLite's locks of this process. An opener that finds the lock file held
// tries again at growing intervals, tells a notice once, and gives up after
// StoreOpenOptions::lockWait with FileErrors::kLockFailed naming the lock
// file: a process that hangs while holding it cannot hold up another's start
// without a word.
//
// Threading: Run may be called from any thread, by many at once. A write's
// work may run on another caller's thread (the one that runs the
// transaction) while its own caller waits; an exception it throws is thrown
// again on its caller's thread. A Transaction is valid only inside the work
// it was given to. A work must not call Run.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "core/common/mutex.h"
#include "platform/ipc/bytes.h"

struct sqlite3_stmt;

namespace Service {

inline constexpr int kBusyTimeoutMilliseconds = 60000;
inline constexpr int kLockWaitMilliseconds = 30000;
inline constexpr size_t kNoLimit = SIZE_MAX;

// How Store::Open goes about the opening.
struct StoreOpenOptions
{
    // How long in all to wait for the lock file while another process holds it.
    std::chrono::milliseconds lockWait{kLockWaitMilliseconds};
    // How long the wait for the lock file lasts before `notice` is told of it
    // (0: as soon as the first try failed).
    std::chrono::milliseconds lockNoticeAfter{0};
    // Told, on the opening thread, each thing the one who runs the program
    // should know, as one line without a line break: the wait for a held lock
    // file, and a file that lost the permissions of group and others. Empty:
    // nobody is told.
    std::function<void(const std::string& line)> notice;
};

struct StoredObject
{
    int64_t order = 0; // registration order
    int32_t serviceCode = 0;
    Ipc::Bytes key;
    Ipc::Bytes body;
};

// Where an object lies: its registration order and the size of its body.
struct ObjectPlace
{
    int64_t order = 0;
    size_t bodySize = 0;
};

// Selects objects by their body bytes; a failure ends the listing and the
// transaction with it.
using BodyFilter = std::function<Common::Error(Ipc::ByteView body, bool& selected)>;

class Connection;

// Where a committed Transaction::RemoveSelected of one filter stopped, and the
// state of the store it was made in.
struct RemovalMark
{
    int32_t serviceCode = 0;
    Ipc::Bytes filterName;
    int64_t position = 0;      // every selected object up to this order was removed
    int64_t dataVersion = 0;   // the writer's data version in that transaction
    uint64_t replacements = 0; // the writer's Replace calls before it
};

class Transaction
{
public:
    // kObjectExists when the key is registered.
    Common::Error Insert(int32_t serviceCode, Ipc::ByteView key, Ipc::ByteView body);
    // Gives the object of `key` the key `newKey` (may be the same) and `body`,
    // keeping its order. kObjectNotFound when `key` has no object;
    // kObjectExists when `newKey` belongs to another object.
    Common::Error Replace(int32_t serviceCode, Ipc::ByteView key, Ipc::ByteView newKey, Ipc::ByteView body);
    // kObjectNotFound when the key has no object.
    Common::Error Remove(int32_t serviceCode, Ipc::ByteView key);
    // `found` tells whether `object` was filled.
    Common::Error Get(int32_t serviceCode, Ipc::ByteView key, bool& found, StoredObject& object);
    // The object of `serviceCode` at the registration order `order`; `found`
    // tells whether `object` was filled.
    Common::Error GetAt(int32_t serviceCode, int64_t order, bool& found, StoredObject& object);
    // The objects the filter selects (all when it is empty), in registration
    // order, at most `limit` of them; appended to `objects`.
    Common::Error List(int32_t serviceCode, const BodyFilter& filter, size_t limit, std::vector<StoredObject>& objects);
    // The places of the same objects, none of them copied out; appended to
    // `places`.
    Common::Error ListPlaces(int32_t serviceCode, const BodyFilter& filter, size_t limit,
                             std::vector<ObjectPlace>& places);
    // The number of objects the filter selects (all when it is empty).
    Common::Error Count(int32_t serviceCode, const BodyFilter& filter, uint64_t& count);

    // Removes the first `limit` objects the filter selects, in registration
    // order; `removed` receives their number. The same objects as List and
    // Remove would, but a run of such removals with one filter does not read
    // again what the earlier ones passed: `filterName` names the filter (the
    // same name must always mean the same decision for the same body bytes),
    // and the store remembers for each service code and name the last object
    // the last committed removal looked at. The next removal starts after it
    // while that mark is valid: as long as no other connection committed a
    // change to the file and no object of this store was replaced since (an
    // insert always comes after every mark, a removal cannot make an object
    // selected). A mark counts only once the removal that made it is
    // committed, and a few recent names are kept.
    Common::Error RemoveSelected(int32_t serviceCode, const BodyFilter& filter, Ipc::ByteView filterName, size_t limit,
                                 size_t& removed);

private:
    friend class Store;
    Transaction(class Store& store, Connection& connection, bool writable)
        : m_store(store), m_connection(connection), m_writable(writable)
    {
    }
    Common::Error RefuseRead(const char* function, uint32_t line) const;
    // Steps through the objects of `serviceCode` after the order `after`, in
    // order; `take` gets each one the filter selects and returns false to
    // stop. `last` receives the order of the last object looked at.
    Common::Error Scan(int32_t serviceCode, int64_t after, const BodyFilter& filter,
                       const std::function<bool(sqlite3_stmt* row)>& take, int64_t& last);

    class Store& m_store;
    Connection& m_connection;
    bool m_writable;
    std::vector<RemovalMark> m_marks; // made by this work, kept once it is committed
};

class Store
{
public:
    enum class Mode
    {
        Read,
        Write,
    };
    using Work = std::function<Common::Error(Transaction& objects)>;

    // Opens the database at `path`, creating the file (mode 0600, as its
    // companion files then are) and its table when missing, and adding what
    // a store of an earlier build lacks. A file that is not a store of this
    // format gives kStoreFailed. The checks of the files and the wait for the
    // lock file: see the top of this header.
    static Common::Error Open(const std::string& path, const StoreOpenOptions& options, std::unique_ptr<Store>& store);
    // The same with the default options: nobody is told anything.
    static Common::Error Open(const std::string& path, std::unique_ptr<Store>& store);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    Common::Error Run(Mode mode, const Work& work);

    // The writes accepted by Run and not yet answered (waiting for their
    // transaction, or in it).
    size_t PendingWrites() COMMON_EXCLUDES(m_queueLock);

private:
    friend class Transaction;
    struct PendingWrite;
    struct MarkTable;

    explicit Store(std::string path);
    Common::Error Write(const Work& work) COMMON_EXCLUDES(m_queueLock);
    Common::Error Read(const Work& work);
    // One transaction for every write of `batch`: gives each its result.
    void CommitBatch(const std::deque<PendingWrite*>& batch);
    void RunInSavepoint(PendingWrite& write, std::vector<RemovalMark>& marks);
    Common::Error TakeReader(std::unique_ptr<Connection>& reader) COMMON_EXCLUDES(m_readersLock);
    void GiveBackReader(std::unique_ptr<Connection> reader) COMMON_EXCLUDES(m_readersLock);

    std::string m_path;
    std::unique_ptr<Connection> m_writer;
    std::unique_ptr<MarkTable> m_marks; // used only by the transaction running on the writer
    uint64_t m_replacements = 0;        // Replace calls on the writer, ever
    int64_t m_dataVersion = 0;          // the writer's view of other connections' commits, at its last begin

    Common::NonRecursiveMutex m_queueLock; // also guards each queued write's `done`
    std::condition_variable m_written;
    std::deque<PendingWrite*> m_queue COMMON_GUARDED_BY(m_queueLock);
    bool m_writing COMMON_GUARDED_BY(m_queueLock) = false;
    size_t m_pendingWrites COMMON_GUARDED_BY(m_queueLock) = 0;

    Common::Mutex m_readersLock;
    std::vector<std::unique_ptr<Connection>> m_readers COMMON_GUARDED_BY(m_readersLock);
};

} // namespace Service
