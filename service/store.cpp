#include "service/store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>
#include <thread>

#include "core/common/file_errors.h"
#include "core/common/safe_close.h"
#include "service/file_trust.h"
#include "service/store_errors.h"

namespace Service {

namespace {

constexpr Common::SourceFile kSource("service/store");

constexpr int kFormatVersion = 1;
constexpr size_t kIdleReaders = 8; // read connections kept open between reads
constexpr size_t kKeptMarks = 16;  // removal marks kept, the most recently used

const char* const kSchema = "CREATE TABLE objects("
                            " registration INTEGER PRIMARY KEY AUTOINCREMENT,"
                            " service_code INTEGER NOT NULL,"
                            " object_key BLOB NOT NULL,"
                            " body BLOB NOT NULL,"
                            " UNIQUE(service_code, object_key));"
                            "PRAGMA user_version = 1;";

// Serves the listings of one service code in registration order. Stores of
// earlier builds lack it: every opening makes sure it is there.
const char* const kOrderIndex = "CREATE INDEX IF NOT EXISTS objects_in_order ON objects(service_code, registration)";

enum Statement
{
    INSERT,
    REPLACE,
    REMOVE,
    REMOVE_AT,
    GET,
    GET_AT,
    LIST,
    COUNT,
    DATA_VERSION,
    STATEMENT_COUNT
};

const char* const kStatementTexts[] = {
    "INSERT INTO objects(service_code, object_key, body) VALUES(?1, ?2, ?3)",
    "UPDATE objects SET object_key = ?3, body = ?4 WHERE service_code = ?1 AND object_key = ?2",
    "DELETE FROM objects WHERE service_code = ?1 AND object_key = ?2",
    "DELETE FROM objects WHERE registration = ?1",
    "SELECT registration, body FROM objects WHERE service_code = ?1 AND object_key = ?2",
    "SELECT object_key, body FROM objects WHERE registration = ?2 AND service_code = ?1",
    "SELECT registration, object_key, body FROM objects WHERE service_code = ?1 AND registration > ?2"
    " ORDER BY registration",
    "SELECT COUNT(*) FROM objects WHERE service_code = ?1",
    "PRAGMA data_version",
};
static_assert(std::size(kStatementTexts) == STATEMENT_COUNT);

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

// Bodies from this size on are written into their row after it is made.
constexpr size_t kLargeBody = size_t{1} << 20;

// Writes `body` over the zeros of the body of row `row`, in pieces SQLite
// takes (a blob is below 2 GiB: SQLite's length limit is smaller). A failure
// is told with the connection's message for it.
Common::Error WriteBody(sqlite3* db, int64_t row, Ipc::ByteView body, const Common::Location& location)
{
    constexpr size_t kPiece = size_t{1} << 24;
    sqlite3_blob* blob = nullptr;
    int result = sqlite3_blob_open(db, "main", "objects", "body", row, 1, &blob);
    for (size_t at = 0; result == SQLITE_OK && at < body.size(); at += kPiece) {
        const size_t size = std::min(kPiece, body.size() - at);
        result = sqlite3_blob_write(blob, body.data() + at, static_cast<int>(size), static_cast<int>(at));
    }
    if (result == SQLITE_OK) {
        result = sqlite3_blob_close(blob); // closes even when it fails
        blob = nullptr;
    }
    if (result == SQLITE_OK)
        return Common::Success;
    Common::Error failure = MakeStoreFailure(sqlite3_errmsg(db), location);
    (void)sqlite3_blob_close(blob); // frees a handle left open; null is harmless
    return failure;
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

    Use& Bind(int64_t value)
    {
        Check(sqlite3_bind_int64(m_statement, ++m_index, value));
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
    // A blob of `size` zero bytes, which SQLite stores without holding them.
    Use& BindZeros(uint64_t size)
    {
        Check(sqlite3_bind_zeroblob64(m_statement, ++m_index, size));
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

// A narrow-text error of the store naming `path`.
Common::Error FileRefused(unsigned code, const std::string& path, const std::string& what, const char* function,
                          uint32_t line)
{
    return Common::Error(code, ("DML store: " + path + ": " + what).c_str(), kSource.At(function, line));
}

Common::Error WithCause(Common::Error error, int errnoValue)
{
    error.AddPosixError(errnoValue);
    return error;
}

void Tell(const StoreOpenOptions& options, const std::string& line)
{
    if (options.notice)
        options.notice(line);
}

// "30 s", "250 ms".
std::string DurationText(std::chrono::milliseconds duration)
{
    const auto count = duration.count();
    return count % 1000 == 0 ? std::to_string(count / 1000) + " s" : std::to_string(count) + " ms";
}

// Refuses a file of `status` this process cannot trust; takes the permissions
// of group and others from one it can, through `changeMode`, and says so.
Common::Error TrustOrRefuse(const struct stat& status, const std::string& path, const StoreOpenOptions& options,
                            const std::function<int(mode_t mode)>& changeMode)
{
    if (const char* why = WhyFileIsUntrusted(status))
        return FileRefused(FileErrors::kAccessDenied, path, why, "Open", __LINE__);
    const mode_t mode = status.st_mode & 07777;
    if ((mode & 077) == 0)
        return Common::Success;
    const mode_t kept = mode & 0700;
    if (changeMode(kept) < 0) {
        const int cause = errno;
        return WithCause(
            FileRefused(FileErrors::kAccessDenied, path,
                        "open to group or others (mode " + ModeText(mode) + "), and its mode cannot be changed", "Open",
                        __LINE__),
            cause);
    }
    Tell(options,
         path + " was open to group or others (mode " + ModeText(mode) + "); its mode is now " + ModeText(kept));
    return Common::Success;
}

// Checks the file at `path` when it exists (TrustOrRefuse), without following
// a link. SQLite may have this file open in this process: the descriptor used
// here is an O_PATH one, whose closing leaves the POSIX locks of the process
// on the file alone (closing any other descriptor of it would drop them).
Common::Error CheckExistingFile(const std::string& path, const StoreOpenOptions& options)
{
    const int fd = open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int cause = errno;
        if (cause == ENOENT)
            return Common::Success;
        return WithCause(FileRefused(kStoreFailed, path, "cannot be examined", "Open", __LINE__), cause);
    }
    struct stat status
    {
    };
    Common::Error error;
    if (fstat(fd, &status) < 0) {
        const int cause = errno;
        error = WithCause(FileRefused(kStoreFailed, path, "cannot be examined", "Open", __LINE__), cause);
    } else {
        // The mode of the file this descriptor stands for, whatever is at the path by now.
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        error = TrustOrRefuse(status, path, options, [&self](mode_t mode) { return chmod(self.c_str(), mode); });
    }
    (void)Common::SafeClose(fd); // an O_PATH descriptor: nothing to lose
    return error;
}

// Holds an exclusive lock on the file `<store>.lock` while it lives. The
// journal mode of a new store can only be switched while no other connection
// reads it, and SQLite answers a race there with "database is locked" at once
// instead of waiting; so the openers of one store take turns here. (Not the
// database file itself: closing any descriptor of it would drop SQLite's own
// locks of this process.) The lock needs no write access to the file.
class SetupLock
{
public:
    SetupLock() = default;
    ~SetupLock()
    {
        if (m_fd >= 0)
            (void)Common::SafeClose(m_fd); // releases the lock; nothing was written
    }
    SetupLock(const SetupLock&) = delete;
    SetupLock& operator=(const SetupLock&) = delete;

    // Opens the lock file (made with mode 0600 when missing), checks it as
    // the store's other files, and takes the lock, waiting as `options` say.
    Common::Error Take(const std::string& storePath, const StoreOpenOptions& options)
    {
        const std::string path = storePath + ".lock";
        // Without blocking: opening a FIFO for reading would wait for a writer.
        m_fd = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
        if (m_fd < 0) {
            const int cause = errno;
            if (cause == ELOOP)
                return FileRefused(FileErrors::kAccessDenied, path, "a symbolic link, not a regular file", "Open",
                                   __LINE__);
            return WithCause(FileRefused(kStoreFailed, path, "the lock file cannot be opened", "Open", __LINE__),
                             cause);
        }
        struct stat status
        {
        };
        if (fstat(m_fd, &status) < 0) {
            const int cause = errno;
            return WithCause(FileRefused(kStoreFailed, path, "cannot be examined", "Open", __LINE__), cause);
        }
        Common::Error error = TrustOrRefuse(status, path, options, [this](mode_t mode) { return fchmod(m_fd, mode); });
        if (!error.IsSuccess())
            return error;
        return Wait(path, options);
    }

private:
    Common::Error Wait(const std::string& path, const StoreOpenOptions& options)
    {
        using Clock = std::chrono::steady_clock;
        constexpr std::chrono::milliseconds kFirstPause{5}, kLongestPause{200};
        const Clock::time_point start = Clock::now();
        const Clock::time_point deadline = start + options.lockWait;
        std::chrono::milliseconds pause = kFirstPause;
        bool told = false;
        for (;;) {
            if (flock(m_fd, LOCK_EX | LOCK_NB) == 0)
                return Common::Success;
            const int cause = errno;
            if (cause == EINTR)
                continue;
            if (cause != EWOULDBLOCK)
                return WithCause(FileRefused(kStoreFailed, path, "the lock file cannot be locked", "Open", __LINE__),
                                 cause);
            const Clock::time_point now = Clock::now();
            if (now >= deadline)
                return FileRefused(FileErrors::kLockFailed, path,
                                   "another process holds this lock file; gave up waiting for it after " +
                                       DurationText(options.lockWait),
                                   "Open", __LINE__);
            Clock::time_point wake = std::min(now + pause, deadline);
            if (!told) {
                const Clock::time_point tellAt = start + options.lockNoticeAfter;
                if (now >= tellAt) {
                    told = true;
                    Tell(options,
                         "waiting for the lock file " + path + ", which another process holds (at most " +
                             DurationText(options.lockWait) + ")");
                } else {
                    wake = std::min(wake, tellAt);
                }
            }
            std::this_thread::sleep_until(wake);
            pause = std::min(pause * 2, kLongestPause);
        }
    }

    int m_fd = -1;
};

// Creates a missing store file readable by its owner only, whatever the
// umask; SQLite gives its companion files (-wal, -shm) the mode of the store
// file. An existing file is left to the checks (never opened here: closing a
// descriptor of it would drop SQLite's locks of this process); any other
// failure is left to SQLite's opening, which reports it.
void CreatePrivateFile(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    (void)fchmod(fd, 0600);      // a umask may have taken the owner's bits; a failure shows at SQLite's opening
    (void)Common::SafeClose(fd); // nothing was written
}

} // namespace

// One SQLite connection to the store with its prepared statements.
class Connection
{
public:
    // `create`: the file may be made (the writer); readers need it to exist.
    static Common::Error Open(const std::string& path, bool create, std::unique_ptr<Connection>& connection)
    {
        std::unique_ptr<Connection> opened(new Connection);
        const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
        if (sqlite3_open_v2(path.c_str(), &opened->m_db, flags, nullptr) != SQLITE_OK)
            return opened->Failure("Open", __LINE__);
        (void)sqlite3_extended_result_codes(opened->m_db, 1);               // finer texts only
        (void)sqlite3_busy_timeout(opened->m_db, kBusyTimeoutMilliseconds); // cannot fail on an open handle
        connection = std::move(opened);
        return Common::Success;
    }
    ~Connection()
    {
        for (sqlite3_stmt* statement : m_statements)
            (void)sqlite3_finalize(statement); // null is allowed; the result repeats an earlier one
        (void)sqlite3_close_v2(m_db);          // every statement is finalized; nothing is left to fail on
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Common::Error Prepare()
    {
        for (int i = 0; i < STATEMENT_COUNT; ++i) {
            if (sqlite3_prepare_v3(m_db, kStatementTexts[i], -1, SQLITE_PREPARE_PERSISTENT, &m_statements[i],
                                   nullptr) != SQLITE_OK)
                return Failure("Prepare", __LINE__);
        }
        return Common::Success;
    }

    Common::Error Execute(const char* sql, const char* function, uint32_t line)
    {
        return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK ? Common::Success
                                                                               : Failure(function, line);
    }
    Common::Error Failure(const char* function, uint32_t line) const
    {
        return MakeStoreFailure(m_db ? sqlite3_errmsg(m_db) : "out of memory", kSource.At(function, line));
    }

    // Rolls back what is open, when anything is.
    void RollBack(const char* function, uint32_t line)
    {
        if (!InAutocommit())
            (void)Execute("ROLLBACK", function, line); // the failure that led here is the result
    }
    bool InAutocommit() const { return sqlite3_get_autocommit(m_db) != 0; }

    sqlite3* Db() const { return m_db; }
    sqlite3_stmt* operator[](Statement statement) const { return m_statements[statement]; }

private:
    Connection() = default;

    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_statements[STATEMENT_COUNT] = {};
};

struct Store::MarkTable
{
    std::vector<RemovalMark> marks; // the most recently used last

    std::vector<RemovalMark>::iterator Find(int32_t serviceCode, Ipc::ByteView filterName)
    {
        return std::find_if(marks.begin(), marks.end(), [&](const RemovalMark& mark) {
            return mark.serviceCode == serviceCode &&
                std::equal(mark.filterName.begin(), mark.filterName.end(), filterName.begin(), filterName.end());
        });
    }
    void Keep(RemovalMark mark)
    {
        auto found = Find(mark.serviceCode, mark.filterName);
        if (found != marks.end())
            marks.erase(found);
        else if (marks.size() >= kKeptMarks)
            marks.erase(marks.begin());
        marks.push_back(std::move(mark));
    }
};

struct Store::PendingWrite
{
    explicit PendingWrite(const Work& work) : work(work) {}

    const Work& work;
    Common::Error result;
    std::exception_ptr exception;
    bool done = false; // guarded by m_queueLock
};

Store::Store(std::string path) : m_path(std::move(path)), m_marks(new MarkTable)
{
}

Store::~Store() = default;

Common::Error Store::Open(const std::string& path, std::unique_ptr<Store>& store)
{
    return Open(path, StoreOpenOptions(), store);
}

Common::Error Store::Open(const std::string& path, const StoreOpenOptions& options, std::unique_ptr<Store>& store)
{
    SetupLock setup;
    Common::Error error = setup.Take(path, options);
    if (!error.IsSuccess())
        return error;
    // Made first, then checked: a file another user slipped in before is refused all the same.
    CreatePrivateFile(path);
    for (const char* suffix : {"", "-wal", "-shm"}) {
        error = CheckExistingFile(path + suffix, options);
        if (!error.IsSuccess())
            return error;
    }
    std::unique_ptr<Store> opened(new Store(path));
    error = Connection::Open(path, true, opened->m_writer);
    if (!error.IsSuccess())
        return error;
    Connection& writer = *opened->m_writer;
    error = writer.Execute("PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL;", "Open", __LINE__);
    if (!error.IsSuccess())
        return error;
    // The format check, the table's creation and what earlier builds lacked, in one write transaction.
    error = writer.Execute("BEGIN IMMEDIATE", "Open", __LINE__);
    if (!error.IsSuccess())
        return error;
    sqlite3_stmt* query = nullptr;
    int version = -1;
    if (sqlite3_prepare_v2(writer.Db(), "PRAGMA user_version", -1, &query, nullptr) == SQLITE_OK &&
        sqlite3_step(query) == SQLITE_ROW)
        version = sqlite3_column_int(query, 0);
    else
        error = writer.Failure("Open", __LINE__);
    (void)sqlite3_finalize(query); // repeats the step's result, read above
    if (error.IsSuccess() && version == 0)
        error = writer.Execute(kSchema, "Open", __LINE__);
    else if (error.IsSuccess() && version != kFormatVersion)
        error = MakeStoreFailure("the file is not an object store of this format", kSource.At("Open", __LINE__));
    if (error.IsSuccess())
        error = writer.Execute(kOrderIndex, "Open", __LINE__);
    if (error.IsSuccess())
        error = writer.Execute("COMMIT", "Open", __LINE__);
    if (!error.IsSuccess()) {
        writer.RollBack("Open", __LINE__);
        return error;
    }
    // The companions SQLite made for the transaction above (another user may
    // have made them first, between the checks and SQLite's opening).
    for (const char* suffix : {"-wal", "-shm"}) {
        error = CheckExistingFile(path + suffix, options);
        if (!error.IsSuccess())
            return error;
    }
    error = writer.Prepare();
    if (!error.IsSuccess())
        return error;
    store = std::move(opened);
    return Common::Success;
}

Common::Error Store::Run(Mode mode, const Work& work)
{
    return mode == Mode::Write ? Write(work) : Read(work);
}

size_t Store::PendingWrites()
{
    Common::LockGuard guard(m_queueLock);
    return m_pendingWrites;
}

Common::Error Store::Write(const Work& work)
{
    PendingWrite write(work);
    Common::UniqueLock lock(m_queueLock);
    m_queue.push_back(&write);
    ++m_pendingWrites;
    while (!write.done) {
        if (m_writing) {
            m_written.wait(lock.Waitable());
            continue;
        }
        // No transaction runs: this thread runs the next one, for every write waiting now.
        m_writing = true;
        std::deque<PendingWrite*> batch;
        batch.swap(m_queue);
        lock.Unlock();
        CommitBatch(batch);
        lock.Lock();
        for (PendingWrite* pending : batch)
            pending->done = true;
        m_pendingWrites -= batch.size();
        m_writing = false;
        m_written.notify_all();
    }
    lock.Unlock();
    if (write.exception)
        std::rethrow_exception(write.exception);
    return write.result;
}

void Store::CommitBatch(const std::deque<PendingWrite*>& batch)
{
    // Gives `error` to every write that has no failure of its own.
    auto failAll = [&](const Common::Error& error) {
        for (PendingWrite* pending : batch) {
            if (pending->result.IsSuccess() && !pending->exception)
                pending->result = error;
        }
    };
    Connection& writer = *m_writer;
    Common::Error error = writer.Execute("BEGIN IMMEDIATE", "CommitBatch", __LINE__);
    if (!error.IsSuccess()) {
        writer.RollBack("CommitBatch", __LINE__);
        failAll(error);
        return;
    }
    {
        Use use(writer[DATA_VERSION]);
        if (use.Step() == SQLITE_ROW) {
            m_dataVersion = sqlite3_column_int64(use.Statement(), 0);
        } else {
            m_marks->marks.clear(); // no version to judge them by
            m_dataVersion = 0;
        }
    }

    std::vector<RemovalMark> marks;
    try {
        for (size_t i = 0; i < batch.size() && !writer.InAutocommit(); ++i)
            RunInSavepoint(*batch[i], marks);
    } catch (...) { // out of memory between the works: the transaction is given up
        writer.RollBack("CommitBatch", __LINE__);
        for (PendingWrite* pending : batch)
            pending->exception = std::current_exception();
        return;
    }
    if (writer.InAutocommit()) {
        // SQLite ended the transaction under a work (a full disk, an I/O
        // failure): the works before it lost their changes too, and those
        // after it did not run.
        failAll(MakeStoreFailure("the transaction was rolled back", kSource.At("CommitBatch", __LINE__)));
        return;
    }
    error = writer.Execute("COMMIT", "CommitBatch", __LINE__);
    if (!error.IsSuccess()) {
        writer.RollBack("CommitBatch", __LINE__);
        failAll(error);
        return;
    }
    try {
        for (RemovalMark& mark : marks)
            m_marks->Keep(std::move(mark));
    } catch (...) { // out of memory: the next removals start from the first object
        m_marks->marks.clear();
    }
}

void Store::RunInSavepoint(PendingWrite& write, std::vector<RemovalMark>& marks)
{
    Connection& writer = *m_writer;
    write.result = writer.Execute("SAVEPOINT request", "RunInSavepoint", __LINE__);
    if (!write.result.IsSuccess())
        return;
    Transaction objects(*this, writer, true);
    try {
        write.result = write.work(objects);
    } catch (...) {
        write.exception = std::current_exception();
    }
    if (write.result.IsSuccess() && !write.exception) {
        write.result = writer.Execute("RELEASE request", "RunInSavepoint", __LINE__);
        if (write.result.IsSuccess()) {
            marks.insert(marks.end(), std::make_move_iterator(objects.m_marks.begin()),
                         std::make_move_iterator(objects.m_marks.end()));
            return;
        }
    }
    // The work's failure is its result; these only fail when the transaction is gone, which the caller sees.
    (void)writer.Execute("ROLLBACK TO request", "RunInSavepoint", __LINE__);
    (void)writer.Execute("RELEASE request", "RunInSavepoint", __LINE__);
}

Common::Error Store::TakeReader(std::unique_ptr<Connection>& reader)
{
    {
        Common::LockGuard guard(m_readersLock);
        if (!m_readers.empty()) {
            reader = std::move(m_readers.back());
            m_readers.pop_back();
            return Common::Success;
        }
    }
    std::unique_ptr<Connection> opened;
    Common::Error error = Connection::Open(m_path, false, opened);
    if (error.IsSuccess())
        error = opened->Execute("PRAGMA query_only = 1", "TakeReader", __LINE__);
    if (error.IsSuccess())
        error = opened->Prepare();
    if (error.IsSuccess())
        reader = std::move(opened);
    return error;
}

void Store::GiveBackReader(std::unique_ptr<Connection> reader)
{
    if (!reader->InAutocommit())
        return; // a transaction that would not end: closed with the connection
    Common::LockGuard guard(m_readersLock);
    if (m_readers.size() < kIdleReaders)
        m_readers.push_back(std::move(reader));
}

Common::Error Store::Read(const Work& work)
{
    std::unique_ptr<Connection> reader;
    Common::Error error = TakeReader(reader);
    if (!error.IsSuccess())
        return error;
    error = reader->Execute("BEGIN", "Read", __LINE__);
    if (error.IsSuccess()) {
        Transaction objects(*this, *reader, false);
        try {
            error = work(objects);
        } catch (...) {
            reader->RollBack("Read", __LINE__); // the exception is what the caller needs to see
            GiveBackReader(std::move(reader));
            throw;
        }
    }
    if (error.IsSuccess())
        error = reader->Execute("COMMIT", "Read", __LINE__);
    reader->RollBack("Read", __LINE__); // after a failure only; the failure is the result
    GiveBackReader(std::move(reader));
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
    // A large body is written into its row once the row is there: the row
    // made from the body itself would be a second copy of it in memory.
    const bool large = body.size() >= kLargeBody;
    Use use(m_connection[INSERT]);
    use.Bind(serviceCode).Bind(key);
    if (large)
        use.BindZeros(body.size());
    else
        use.Bind(body);
    const int result = use.Step();
    if (result == SQLITE_CONSTRAINT_UNIQUE)
        return MakeStoreError(kObjectExists, kSource.At("Insert", __LINE__));
    if (result != SQLITE_DONE)
        return m_connection.Failure("Insert", __LINE__);
    if (large)
        return WriteBody(m_connection.Db(), sqlite3_last_insert_rowid(m_connection.Db()), body,
                         kSource.At("Insert", __LINE__));
    return Common::Success;
}

Common::Error Transaction::Replace(int32_t serviceCode, Ipc::ByteView key, Ipc::ByteView newKey, Ipc::ByteView body)
{
    if (!m_writable)
        return RefuseRead("Replace", __LINE__);
    ++m_store.m_replacements; // an object may now be selected where a removal passed
    Use use(m_connection[REPLACE]);
    const int result = use.Bind(serviceCode).Bind(key).Bind(newKey).Bind(body).Step();
    if (result == SQLITE_CONSTRAINT_UNIQUE)
        return MakeStoreError(kObjectExists, kSource.At("Replace", __LINE__));
    if (result != SQLITE_DONE)
        return m_connection.Failure("Replace", __LINE__);
    if (sqlite3_changes(m_connection.Db()) == 0)
        return MakeStoreError(kObjectNotFound, kSource.At("Replace", __LINE__));
    return Common::Success;
}

Common::Error Transaction::Remove(int32_t serviceCode, Ipc::ByteView key)
{
    if (!m_writable)
        return RefuseRead("Remove", __LINE__);
    Use use(m_connection[REMOVE]);
    if (use.Bind(serviceCode).Bind(key).Step() != SQLITE_DONE)
        return m_connection.Failure("Remove", __LINE__);
    if (sqlite3_changes(m_connection.Db()) == 0)
        return MakeStoreError(kObjectNotFound, kSource.At("Remove", __LINE__));
    return Common::Success;
}

Common::Error Transaction::Get(int32_t serviceCode, Ipc::ByteView key, bool& found, StoredObject& object)
{
    Use use(m_connection[GET]);
    const int result = use.Bind(serviceCode).Bind(key).Step();
    found = result == SQLITE_ROW;
    if (result == SQLITE_DONE)
        return Common::Success;
    if (result != SQLITE_ROW)
        return m_connection.Failure("Get", __LINE__);
    object.order = sqlite3_column_int64(use.Statement(), 0);
    object.serviceCode = serviceCode;
    object.key.assign(key.begin(), key.end());
    object.body = CopyBlob(use.Statement(), 1);
    return Common::Success;
}

Common::Error Transaction::GetAt(int32_t serviceCode, int64_t order, bool& found, StoredObject& object)
{
    Use use(m_connection[GET_AT]);
    const int result = use.Bind(serviceCode).Bind(order).Step();
    found = result == SQLITE_ROW;
    if (result == SQLITE_DONE)
        return Common::Success;
    if (result != SQLITE_ROW)
        return m_connection.Failure("GetAt", __LINE__);
    object.order = order;
    object.serviceCode = serviceCode;
    object.key = CopyBlob(use.Statement(), 0);
    object.body = CopyBlob(use.Statement(), 1);
    return Common::Success;
}

Common::Error Transaction::Scan(int32_t serviceCode, int64_t after, const BodyFilter& filter,
                                const std::function<bool(sqlite3_stmt* row)>& take, int64_t& last)
{
    Use use(m_connection[LIST]);
    use.Bind(serviceCode).Bind(after);
    for (;;) {
        const int result = use.Step();
        if (result == SQLITE_DONE)
            return Common::Success;
        if (result != SQLITE_ROW)
            return m_connection.Failure("Scan", __LINE__);
        last = sqlite3_column_int64(use.Statement(), 0);
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
    int64_t last = 0;
    return Scan(
        serviceCode, 0, filter,
        [&](sqlite3_stmt* row) {
            StoredObject object;
            object.order = sqlite3_column_int64(row, 0);
            object.serviceCode = serviceCode;
            object.key = CopyBlob(row, 1);
            object.body = CopyBlob(row, 2);
            objects.push_back(std::move(object));
            return ++listed < limit;
        },
        last);
}

Common::Error Transaction::ListPlaces(int32_t serviceCode, const BodyFilter& filter, size_t limit,
                                      std::vector<ObjectPlace>& places)
{
    if (limit == 0)
        return Common::Success;
    size_t listed = 0;
    int64_t last = 0;
    return Scan(
        serviceCode, 0, filter,
        [&](sqlite3_stmt* row) {
            places.push_back(
                ObjectPlace{sqlite3_column_int64(row, 0), static_cast<size_t>(sqlite3_column_bytes(row, 2))});
            return ++listed < limit;
        },
        last);
}

Common::Error Transaction::Count(int32_t serviceCode, const BodyFilter& filter, uint64_t& count)
{
    count = 0;
    if (filter) {
        int64_t last = 0;
        return Scan(
            serviceCode, 0, filter,
            [&](sqlite3_stmt*) {
                ++count;
                return true;
            },
            last);
    }
    Use use(m_connection[COUNT]);
    if (use.Bind(serviceCode).Step() != SQLITE_ROW)
        return m_connection.Failure("Count", __LINE__);
    count = static_cast<uint64_t>(sqlite3_column_int64(use.Statement(), 0));
    return Common::Success;
}

Common::Error Transaction::RemoveSelected(int32_t serviceCode, const BodyFilter& filter, Ipc::ByteView filterName,
                                          size_t limit, size_t& removed)
{
    removed = 0;
    if (!m_writable)
        return RefuseRead("RemoveSelected", __LINE__);
    if (limit == 0)
        return Common::Success;
    int64_t start = 0;
    auto mark = m_store.m_marks->Find(serviceCode, filterName);
    if (mark != m_store.m_marks->marks.end() && mark->dataVersion == m_store.m_dataVersion &&
        mark->replacements == m_store.m_replacements)
        start = mark->position;

    // The selected objects are removed once the listing is over: a statement
    // that reads the table is not to meet its own changes.
    std::vector<int64_t> orders;
    int64_t last = start;
    Common::Error error = Scan(
        serviceCode, start, filter,
        [&](sqlite3_stmt* row) {
            orders.push_back(sqlite3_column_int64(row, 0));
            return orders.size() < limit;
        },
        last);
    for (size_t i = 0; error.IsSuccess() && i < orders.size(); ++i) {
        Use use(m_connection[REMOVE_AT]);
        if (use.Bind(orders[i]).Step() != SQLITE_DONE)
            error = m_connection.Failure("RemoveSelected", __LINE__);
    }
    if (!error.IsSuccess())
        return error;
    removed = orders.size();
    m_marks.push_back(RemovalMark{serviceCode, Ipc::Bytes(filterName.begin(), filterName.end()), last,
                                  m_store.m_dataVersion, m_store.m_replacements});
    return Common::Success;
}

} // namespace Service
