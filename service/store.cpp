#include "service/store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>

#include <cerrno>

#include "core/common/safe_close.h"
#include "service/store_errors.h"

namespace Service {

namespace {

constexpr Common::SourceFile kSource("service/store");

constexpr int kFormatVersion = 1;

const char* const kSchema = "CREATE TABLE objects("
                            " registration INTEGER PRIMARY KEY AUTOINCREMENT,"
                            " service_code INTEGER NOT NULL,"
                            " object_key BLOB NOT NULL,"
                            " body BLOB NOT NULL,"
                            " UNIQUE(service_code, object_key));"
                            "PRAGMA user_version = 1;";

const char* const kStatementTexts[] = {
    "INSERT INTO objects(service_code, object_key, body) VALUES(?1, ?2, ?3)",
    "UPDATE objects SET object_key = ?3, body = ?4 WHERE service_code = ?1 AND object_key = ?2",
    "DELETE FROM objects WHERE service_code = ?1 AND object_key = ?2",
    "SELECT registration, body FROM objects WHERE service_code = ?1 AND object_key = ?2",
    "SELECT registration, object_key, body FROM objects WHERE service_code = ?1 ORDER BY registration",
    "SELECT COUNT(*) FROM objects WHERE service_code = ?1",
};

// A blob column of the current row (an empty blob reads as null with 0 bytes).
Ipc::ByteView BlobOf(sqlite3_stmt* row, int column)
{
    const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(row, column));
    return Ipc::ByteView(data, static_cast<size_t>(sqlite3_column_bytes(row, column)));
}

Ipc::Bytes CopyBlob(sqlite3_stmt* row, int column)
{
    const Ipc::ByteView blob = BlobOf(row, column);
    return Ipc::Bytes(blob.begin(), blob.end());
}

// One use of a prepared statement: binds in order, resets on the way out.
class Use
{
public:
    explicit Use(sqlite3_stmt* statement) : m_statement(statement) {}
    ~Use()
    {
        (void)sqlite3_reset(m_statement); // repeats the last step's result, reported there already
        (void)sqlite3_clear_bindings(m_statement);
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

    Use& Bind(int32_t value)
    {
        Check(sqlite3_bind_int(m_statement, ++m_index, value));
        return *this;
    }
    Use& Bind(Ipc::ByteView bytes)
    {
        // A null pointer would bind NULL instead of an empty blob.
        static const uint8_t kEmpty = 0;
        Check(sqlite3_bind_blob64(m_statement, ++m_index, bytes.empty() ? &kEmpty : bytes.data(), bytes.size(),
                                  SQLITE_STATIC));
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or the failure (also of a bind).
    int Step() { return m_bindResult != SQLITE_OK ? m_bindResult : sqlite3_step(m_statement); }

    sqlite3_stmt* Statement() const { return m_statement; }

private:
    void Check(int result)
    {
        if (m_bindResult == SQLITE_OK)
            m_bindResult = result;
    }

    sqlite3_stmt* m_statement;
    int m_index = 0;
    int m_bindResult = SQLITE_OK;
};

// Holds an exclusive lock on the file `<store>.lock` for its lifetime. The
// journal mode of a new store can only be switched while no other connection
// reads it, and SQLite answers a race there with "database is locked" at once
// instead of waiting; so the openers of one store take turns here. (Not the
// database file itself: closing any descriptor of it would drop SQLite's own
// locks of this process.)
class SetupLock
{
public:
    explicit SetupLock(const std::string& storePath)
        : m_fd(open((storePath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600))
    {
        if (m_fd >= 0)
            while (flock(m_fd, LOCK_EX) < 0 && errno == EINTR) {}
    }
    ~SetupLock()
    {
        if (m_fd >= 0)
            (void)Common::SafeClose(m_fd); // releases the lock; nothing was written
    }
    SetupLock(const SetupLock&) = delete;
    SetupLock& operator=(const SetupLock&) = delete;

    int Failure() const { return m_fd >= 0 ? 0 : errno; }

private:
    int m_fd;
};

} // namespace

Common::Error Store::Failure(const char* function, uint32_t line) const
{
    return MakeStoreFailure(m_db ? sqlite3_errmsg(m_db) : "out of memory", kSource.At(function, line));
}

Common::Error Store::Execute(const char* sql, const char* function, uint32_t line)
{
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK ? Common::Success : Failure(function, line);
}

Common::Error Store::Open(const std::string& path, std::unique_ptr<Store>& store)
{
    SetupLock setup(path);
    if (setup.Failure() != 0) {
        Common::Error error = MakeStoreFailure("cannot lock the store for opening", kSource.At("Open", __LINE__));
        error.AddPosixError(setup.Failure());
        return error;
    }
    std::unique_ptr<Store> opened(new Store);
    if (sqlite3_open_v2(path.c_str(), &opened->m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
        return opened->Failure("Open", __LINE__);
    (void)sqlite3_extended_result_codes(opened->m_db, 1);               // finer texts only
    (void)sqlite3_busy_timeout(opened->m_db, kBusyTimeoutMilliseconds); // cannot fail on an open handle

    Common::Error error = opened->Execute("PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL;", "Open", __LINE__);
    if (!error.IsSuccess())
        return error;
    // The format check and the table's creation in one write transaction.
    error = opened->Run(Mode::Write, [&](Transaction&) -> Common::Error {
        sqlite3_stmt* query = nullptr;
        if (sqlite3_prepare_v2(opened->m_db, "PRAGMA user_version", -1, &query, nullptr) != SQLITE_OK)
            return opened->Failure("Open", __LINE__);
        const int version = sqlite3_step(query) == SQLITE_ROW ? sqlite3_column_int(query, 0) : -1;
        (void)sqlite3_finalize(query); // repeats the step's result, read above
        if (version == 0)
            return opened->Execute(kSchema, "Open", __LINE__);
        if (version != kFormatVersion)
            return MakeStoreFailure("the file is not an object store of this format", kSource.At("Open", __LINE__));
        return Common::Success;
    });
    if (!error.IsSuccess())
        return error;
    for (int i = 0; i < STATEMENT_COUNT; ++i) {
        if (sqlite3_prepare_v3(opened->m_db, kStatementTexts[i], -1, SQLITE_PREPARE_PERSISTENT,
                               &opened->m_statements[i], nullptr) != SQLITE_OK)
            return opened->Failure("Open", __LINE__);
    }
    store = std::move(opened);
    return Common::Success;
}

Store::~Store()
{
    for (sqlite3_stmt* statement : m_statements)
        (void)sqlite3_finalize(statement); // null is allowed; the result repeats an earlier one
    (void)sqlite3_close_v2(m_db);          // every statement is finalized; nothing is left to fail on
}

Common::Error Store::Run(Mode mode, const Work& work)
{
    Common::LockGuard guard(m_lock);
    Common::Error error = Execute(mode == Mode::Write ? "BEGIN IMMEDIATE" : "BEGIN", "Run", __LINE__);
    if (!error.IsSuccess())
        return error;
    Transaction objects(*this, mode == Mode::Write);
    try {
        error = work(objects);
    } catch (...) {
        (void)Execute("ROLLBACK", "Run", __LINE__); // the exception is what the caller needs to see
        throw;
    }
    if (error.IsSuccess())
        error = Execute("COMMIT", "Run", __LINE__);
    if (!error.IsSuccess() && !sqlite3_get_autocommit(m_db))
        (void)Execute("ROLLBACK", "Run", __LINE__); // the work's failure is the result
    return error;
}

Common::Error Transaction::RefuseRead(const char* function, uint32_t line) const
{
    return MakeStoreFailure("a change was asked for in a read transaction", kSource.At(function, line));
}

Common::Error Transaction::Insert(int32_t serviceCode, Ipc::ByteView key, Ipc::ByteView body)
{
    if (!m_writable)
        return RefuseRead("Insert", __LINE__);
    Use use(m_store.m_statements[Store::INSERT]);
    const int result = use.Bind(serviceCode).Bind(key).Bind(body).Step();
    if (result == SQLITE_DONE)
        return Common::Success;
    if (result == SQLITE_CONSTRAINT_UNIQUE)
        return MakeStoreError(kObjectExists, kSource.At("Insert", __LINE__));
    return m_store.Failure("Insert", __LINE__);
}

Common::Error Transaction::Replace(int32_t serviceCode, Ipc::ByteView key, Ipc::ByteView newKey, Ipc::ByteView body)
{
    if (!m_writable)
        return RefuseRead("Replace", __LINE__);
    Use use(m_store.m_statements[Store::REPLACE]);
    const int result = use.Bind(serviceCode).Bind(key).Bind(newKey).Bind(body).Step();
    if (result == SQLITE_CONSTRAINT_UNIQUE)
        return MakeStoreError(kObjectExists, kSource.At("Replace", __LINE__));
    if (result != SQLITE_DONE)
        return m_store.Failure("Replace", __LINE__);
    if (sqlite3_changes(m_store.m_db) == 0)
        return MakeStoreError(kObjectNotFound, kSource.At("Replace", __LINE__));
    return Common::Success;
}

Common::Error Transaction::Remove(int32_t serviceCode, Ipc::ByteView key)
{
    if (!m_writable)
        return RefuseRead("Remove", __LINE__);
    Use use(m_store.m_statements[Store::REMOVE]);
    if (use.Bind(serviceCode).Bind(key).Step() != SQLITE_DONE)
        return m_store.Failure("Remove", __LINE__);
    if (sqlite3_changes(m_store.m_db) == 0)
        return MakeStoreError(kObjectNotFound, kSource.At("Remove", __LINE__));
    return Common::Success;
}

Common::Error Transaction::Get(int32_t serviceCode, Ipc::ByteView key, bool& found, StoredObject& object)
{
    Use use(m_store.m_statements[Store::GET]);
    const int result = use.Bind(serviceCode).Bind(key).Step();
    found = result == SQLITE_ROW;
    if (result == SQLITE_DONE)
        return Common::Success;
    if (result != SQLITE_ROW)
        return m_store.Failure("Get", __LINE__);
    object.order = sqlite3_column_int64(use.Statement(), 0);
    object.serviceCode = serviceCode;
    object.key.assign(key.begin(), key.end());
    object.body = CopyBlob(use.Statement(), 1);
    return Common::Success;
}

Common::Error Transaction::Scan(int32_t serviceCode, const BodyFilter& filter,
                                const std::function<bool(sqlite3_stmt* row)>& take)
{
    Use use(m_store.m_statements[Store::LIST]);
    use.Bind(serviceCode);
    for (;;) {
        const int result = use.Step();
        if (result == SQLITE_DONE)
            return Common::Success;
        if (result != SQLITE_ROW)
            return m_store.Failure("Scan", __LINE__);
        bool selected = true;
        if (filter) {
            Common::Error error = filter(BlobOf(use.Statement(), 2), selected);
            if (!error.IsSuccess())
                return error;
        }
        if (selected && !take(use.Statement()))
            return Common::Success;
    }
}

Common::Error Transaction::List(int32_t serviceCode, const BodyFilter& filter, size_t limit,
                                std::vector<StoredObject>& objects)
{
    if (limit == 0)
        return Common::Success;
    size_t listed = 0;
    return Scan(serviceCode, filter, [&](sqlite3_stmt* row) {
        StoredObject object;
        object.order = sqlite3_column_int64(row, 0);
        object.serviceCode = serviceCode;
        object.key = CopyBlob(row, 1);
        object.body = CopyBlob(row, 2);
        objects.push_back(std::move(object));
        return ++listed < limit;
    });
}

Common::Error Transaction::Count(int32_t serviceCode, const BodyFilter& filter, uint64_t& count)
{
    count = 0;
    if (filter)
        return Scan(serviceCode, filter, [&](sqlite3_stmt*) {
            ++count;
            return true;
        });
    Use use(m_store.m_statements[Store::COUNT]);
    if (use.Bind(serviceCode).Step() != SQLITE_ROW)
        return m_store.Failure("Count", __LINE__);
    count = static_cast<uint64_t>(sqlite3_column_int64(use.Statement(), 0));
    return Common::Success;
}

} // namespace Service
