// The service's object store: one SQLite database file, one row per object
// with its key bytes, body bytes, service code and registration order.
//
// Keys are opaque bytes compared by equality, unique per service code; each
// service code sees only its own objects. The registration order grows with
// every insert and is never given out again, also after removals and across
// reopening; a replacement keeps the object's place.
//
// All work runs inside Store::Run, one SQLite transaction per call: a write
// transaction starts with BEGIN IMMEDIATE, so concurrent writers (threads or
// processes on the same file) take turns, waiting up to kBusyTimeoutMilliseconds
// for each other. The work's failure (or exception) rolls back everything it
// did; success commits. The database runs in WAL mode with full sync, so a
// process killed in the middle of a transaction leaves the last committed
// state, and a committed transaction survives a crash.
//
//     store->Run(Service::Store::Mode::Write, [&](Service::Transaction& objects) {
//         Common::Error error = objects.Remove(code, oldKey);
//         return error.IsSuccess() ? objects.Insert(code, newKey, body) : error;
//     });
//
// Threading: Run may be called from any thread; calls on one Store take turns.
// A Transaction is valid only inside the work it was given to, on that thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "core/common/mutex.h"
#include "platform/ipc/bytes.h"

struct sqlite3;
struct sqlite3_stmt;

namespace Service {

inline constexpr int kBusyTimeoutMilliseconds = 60000;
inline constexpr size_t kNoLimit = SIZE_MAX;

struct StoredObject
{
    int64_t order = 0; // registration order
    int32_t serviceCode = 0;
    Ipc::Bytes key;
    Ipc::Bytes body;
};

// Selects objects by their body bytes; a failure ends the listing and the
// transaction with it.
using BodyFilter = std::function<Common::Error(Ipc::ByteView body, bool& selected)>;

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
    // The objects the filter selects (all when it is empty), in registration
    // order, at most `limit` of them; appended to `objects`.
    Common::Error List(int32_t serviceCode, const BodyFilter& filter, size_t limit, std::vector<StoredObject>& objects);
    // The number of objects the filter selects (all when it is empty).
    Common::Error Count(int32_t serviceCode, const BodyFilter& filter, uint64_t& count);

private:
    friend class Store;
    Transaction(class Store& store, bool writable) : m_store(store), m_writable(writable) {}
    Common::Error RefuseRead(const char* function, uint32_t line) const;
    // Steps through the objects of `serviceCode` in order; `take` gets each
    // one the filter selects and returns false to stop.
    Common::Error Scan(int32_t serviceCode, const BodyFilter& filter,
                       const std::function<bool(sqlite3_stmt* row)>& take);

    class Store& m_store;
    bool m_writable;
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

    // Opens the database at `path`, creating the file and its table when
    // missing. A file that is not a store of this format gives kStoreFailed.
    static Common::Error Open(const std::string& path, std::unique_ptr<Store>& store);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    Common::Error Run(Mode mode, const Work& work);

private:
    friend class Transaction;
    enum Statement
    {
        INSERT,
        REPLACE,
        REMOVE,
        GET,
        LIST,
        COUNT,
        STATEMENT_COUNT
    };

    Store() = default;
    Common::Error Execute(const char* sql, const char* function, uint32_t line);
    Common::Error Failure(const char* function, uint32_t line) const;

    Common::Mutex m_lock; // one transaction at a time
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_statements[STATEMENT_COUNT] = {};
};

} // namespace Service
