#include "service/store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <set>
#include <stdexcept>
#include <thread>

#include "core/common/file_errors.h"
#include "service/file_trust.h"
#include "service/service_test_support.h"
#include "service/store_errors.h"
#include "testing/error_matchers.h"
#include "testing/temporary_folder.h"

namespace {

using ServiceTesting::B;
using ::testing::AllOf;
using ::testing::ElementsAre;
using Testing::ErrorIs;
using Testing::HasText;
using Testing::HasTextThat;
using Testing::IsSuccessError;

constexpr int32_t kDml = 46;
constexpr int32_t kHub = 33;

class ObjectStore : public ServiceTesting::MemoryFolder
{
protected:
    void SetUp() override { Reopen(); }
    void Reopen()
    {
        m_store.reset();
        ASSERT_THAT(Service::Store::Open(PathOf("objects.db"), m_store), IsSuccessError());
    }

    // Removes the store file and its companions.
    void RemoveStoreFiles() const
    {
        for (const auto& entry : std::filesystem::directory_iterator(m_folder.Path())) {
            if (entry.path().filename().string().rfind("objects.db", 0) == 0)
                std::filesystem::remove(entry.path());
        }
    }

    Common::Error Write(const Service::Store::Work& work) { return m_store->Run(Service::Store::Mode::Write, work); }
    Common::Error Insert(int32_t code, const std::string& key, const std::string& body)
    {
        return Write([&](Service::Transaction& objects) { return objects.Insert(code, B(key), B(body)); });
    }

    // "key=body" of each object of `code` in store order.
    std::vector<std::string> Contents(int32_t code = kDml, const Service::BodyFilter& filter = {},
                                      size_t limit = Service::kNoLimit)
    {
        std::vector<Service::StoredObject> objects;
        EXPECT_THAT(m_store->Run(Service::Store::Mode::Read,
                                 [&](Service::Transaction& t) { return t.List(code, filter, limit, objects); }),
                    IsSuccessError());
        std::vector<std::string> texts;
        int64_t previous = 0;
        for (const auto& object : objects) {
            EXPECT_GT(object.order, previous);
            EXPECT_EQ(object.serviceCode, code);
            previous = object.order;
            texts.push_back(std::string(object.key.begin(), object.key.end()) + "=" +
                            std::string(object.body.begin(), object.body.end()));
        }
        return texts;
    }

    std::unique_ptr<Service::Store> m_store;
};

TEST_F(ObjectStore, KeysAreUniquePerServiceCodeAndComparedByTheirBytes)
{
    ASSERT_THAT(Insert(kDml, "a", "1"), IsSuccessError());
    EXPECT_THAT(Insert(kDml, "a", "2"),
                AllOf(ErrorIs(Service::kObjectExists), HasText(u"DML store: An object with this key already exists.")));
    EXPECT_THAT(Insert(kHub, "a", "hub"), IsSuccessError());
    EXPECT_THAT(Insert(kDml, "A", "3"), IsSuccessError());
    EXPECT_THAT(Insert(kDml, std::string("a\0", 2), "4"), IsSuccessError());
    EXPECT_THAT(Insert(kDml, "", ""), IsSuccessError()); // an empty key and body are bytes like any other
    EXPECT_THAT(Insert(kDml, "", "again"), ErrorIs(Service::kObjectExists));
    EXPECT_THAT(Contents(), ElementsAre("a=1", "A=3", std::string("a\0=4", 4), "="));
    EXPECT_THAT(Contents(kHub), ElementsAre("a=hub"));
}

TEST_F(ObjectStore, GetFindsOnlyTheServiceCodesOwnObject)
{
    ASSERT_THAT(Insert(kDml, "k", "body"), IsSuccessError());
    bool found = false;
    Service::StoredObject object;
    ASSERT_THAT(m_store->Run(Service::Store::Mode::Read,
                             [&](Service::Transaction& t) { return t.Get(kDml, B("k"), found, object); }),
                IsSuccessError());
    EXPECT_TRUE(found);
    EXPECT_EQ(object.body, B("body"));
    EXPECT_EQ(object.key, B("k"));
    ASSERT_THAT(m_store->Run(Service::Store::Mode::Read,
                             [&](Service::Transaction& t) { return t.Get(kHub, B("k"), found, object); }),
                IsSuccessError());
    EXPECT_FALSE(found);
}

TEST_F(ObjectStore, ReplaceKeepsThePlaceAndGuardsKeyUniqueness)
{
    for (const char* key : {"a", "b", "c"})
        ASSERT_THAT(Insert(kDml, key, "old"), IsSuccessError());
    auto replace = [&](const char* key, const char* newKey, const char* body) {
        return Write([&](Service::Transaction& t) { return t.Replace(kDml, B(key), B(newKey), B(body)); });
    };
    EXPECT_THAT(replace("a", "a", "new"), IsSuccessError());
    EXPECT_THAT(replace("b", "b2", "moved"), IsSuccessError());
    EXPECT_THAT(replace("c", "a", "clash"), ErrorIs(Service::kObjectExists));
    EXPECT_THAT(replace("zz", "zz", "none"),
                AllOf(ErrorIs(Service::kObjectNotFound), HasText(u"DML store: No object with this key exists.")));
    EXPECT_THAT(Contents(), ElementsAre("a=new", "b2=moved", "c=old"));
}

TEST_F(ObjectStore, RemoveAndOrderThatIsNeverGivenOutAgain)
{
    ASSERT_THAT(Insert(kDml, "a", "1"), IsSuccessError());
    ASSERT_THAT(Insert(kDml, "b", "2"), IsSuccessError());
    auto remove = [&](const char* key) {
        return Write([&](Service::Transaction& t) { return t.Remove(kDml, B(key)); });
    };
    EXPECT_THAT(remove("b"), IsSuccessError());
    EXPECT_THAT(remove("b"), ErrorIs(Service::kObjectNotFound));
    Reopen();
    ASSERT_THAT(Insert(kDml, "b", "3"), IsSuccessError()); // after the removed last one, also across reopening
    std::vector<Service::StoredObject> objects;
    ASSERT_THAT(m_store->Run(Service::Store::Mode::Read,
                             [&](Service::Transaction& t) { return t.List(kDml, {}, Service::kNoLimit, objects); }),
                IsSuccessError());
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[1].order, objects[0].order + 2);
}

TEST_F(ObjectStore, FilteredListingIsCappedButTheCountIsNot)
{
    for (int i = 0; i < 10; ++i)
        ASSERT_THAT(Insert(kDml, "k" + std::to_string(i), i % 2 ? "odd" : "even"), IsSuccessError());
    const Service::BodyFilter odd = [](Ipc::ByteView body, bool& selected) {
        selected = std::string(body.begin(), body.end()) == "odd";
        return Common::Success;
    };
    EXPECT_THAT(Contents(kDml, odd, 2), ElementsAre("k1=odd", "k3=odd"));
    EXPECT_THAT(Contents(kDml, odd), ::testing::SizeIs(5));
    EXPECT_THAT(Contents(kDml, {}, 0), ::testing::IsEmpty());

    uint64_t all = 0, odds = 0, hubs = 7;
    ASSERT_THAT(m_store->Run(Service::Store::Mode::Read,
                             [&](Service::Transaction& t) {
                                 Common::Error error = t.Count(kDml, {}, all);
                                 if (error.IsSuccess())
                                     error = t.Count(kDml, odd, odds);
                                 if (error.IsSuccess())
                                     error = t.Count(kHub, {}, hubs);
                                 return error;
                             }),
                IsSuccessError());
    EXPECT_EQ(all, 10u);
    EXPECT_EQ(odds, 5u);
    EXPECT_EQ(hubs, 0u);
}

TEST_F(ObjectStore, FailingWorkRollsBackEverythingItDid)
{
    ASSERT_THAT(Insert(kDml, "kept", "1"), IsSuccessError());
    const Common::Error failed = Write([](Service::Transaction& t) {
        (void)t.Insert(kDml, B("new"), B("2")); // rolled back with the rest
        (void)t.Remove(kDml, B("kept"));
        return t.Insert(kDml, B("new"), B("3"));
    });
    EXPECT_THAT(failed, ErrorIs(Service::kObjectExists));

    EXPECT_THROW(Write([](Service::Transaction& t) -> Common::Error {
                     (void)t.Remove(kDml, B("kept"));
                     throw std::runtime_error("work failed");
                 }),
                 std::runtime_error);

    const Service::BodyFilter broken = [](Ipc::ByteView, bool&) {
        return Common::Error(0xFA0001, "cannot read the body", Common::NoLocation);
    };
    std::vector<Service::StoredObject> objects;
    EXPECT_THAT(Write([&](Service::Transaction& t) {
                    (void)t.Insert(kDml, B("other"), B("4"));
                    return t.List(kDml, broken, Service::kNoLimit, objects);
                }),
                ErrorIs(0xFA0001u));
    EXPECT_THAT(Contents(), ElementsAre("kept=1"));
}

TEST_F(ObjectStore, LargeBodiesAreStoredByteForByte)
{
    // Bodies below, at and well beyond the size from which a body is written
    // into its row after the row is made, in several pieces.
    auto body = [](size_t size, unsigned seed) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>(i * 131 + seed);
        return bytes;
    };
    const size_t sizes[] = {(size_t{1} << 20) - 1, size_t{1} << 20, (size_t{33} << 20) + 5};
    for (unsigned i = 0; i < std::size(sizes); ++i)
        ASSERT_THAT(Insert(kDml, "k" + std::to_string(i), body(sizes[i], i)), IsSuccessError());
    EXPECT_THAT(Insert(kDml, "k0", body(size_t{2} << 20, 9)), ErrorIs(Service::kObjectExists));
    // A large body goes with the work that failed.
    EXPECT_THAT(Write([&](Service::Transaction& t) {
                    (void)t.Insert(kDml, B("gone"), B(body(size_t{2} << 20, 7)));
                    return t.Insert(kDml, B("k1"), B("clash"));
                }),
                ErrorIs(Service::kObjectExists));
    Reopen();
    const auto contents = Contents();
    ASSERT_EQ(contents.size(), std::size(sizes));
    for (unsigned i = 0; i < std::size(sizes); ++i)
        EXPECT_TRUE(contents[i] == "k" + std::to_string(i) + "=" + body(sizes[i], i)) << i;
}

TEST_F(ObjectStore, ReadTransactionsRefuseChanges)
{
    const Common::Error error = m_store->Run(Service::Store::Mode::Read,
                                             [](Service::Transaction& t) { return t.Insert(kDml, B("k"), B("b")); });
    EXPECT_THAT(error, ErrorIs(Service::kStoreFailed));
    EXPECT_THAT(Contents(), ::testing::IsEmpty());
}

TEST_F(ObjectStore, StoreSurvivesReopening)
{
    ASSERT_THAT(Insert(kDml, "a", std::string(100000, 'x')), IsSuccessError());
    ASSERT_THAT(Insert(kDml, "b", "small"), IsSuccessError());
    Reopen();
    const auto contents = Contents();
    ASSERT_EQ(contents.size(), 2u);
    EXPECT_EQ(contents[0], "a=" + std::string(100000, 'x'));
    EXPECT_EQ(contents[1], "b=small");
}

TEST_F(ObjectStore, FilesThatAreNoStoreAreRefused)
{
    m_store.reset();
    std::ofstream(PathOf("text.db")) << "this is not a database, it is a text file long enough to be looked at";
    std::unique_ptr<Service::Store> store;
    EXPECT_THAT(Service::Store::Open(PathOf("text.db"), store), ErrorIs(Service::kStoreFailed));

    // A store of a later format.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(PathOf("later.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version = 2", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    EXPECT_THAT(Service::Store::Open(PathOf("later.db"), store), ErrorIs(Service::kStoreFailed));
    EXPECT_EQ(store, nullptr);

    EXPECT_THAT(Service::Store::Open(PathOf("missing/folder/objects.db"), store), ErrorIs(Service::kStoreFailed));
}

// Tests of file modes make their stores on disk.
TEST_F(ObjectStore, NewStoreFilesAreTheOwnersOnlyWhateverTheUmask)
{
    m_store.reset();
    const Testing::TemporaryFolder disk("store_test");
    for (mode_t mask : {mode_t{0}, mode_t{022}, mode_t{0277}}) {
        const std::string path = disk.PathOf("private-" + std::to_string(mask) + ".db");
        const mode_t saved = umask(mask);
        std::unique_ptr<Service::Store> store;
        const Common::Error opened = Service::Store::Open(path, store);
        umask(saved);
        ASSERT_THAT(opened, IsSuccessError());
        ASSERT_THAT(store->Run(Service::Store::Mode::Write,
                               [](Service::Transaction& t) { return t.Insert(kDml, B("k"), B("b")); }),
                    IsSuccessError());
        for (const char* suffix : {"", "-wal", "-shm"}) {
            struct stat status
            {
            };
            ASSERT_EQ(stat((path + suffix).c_str(), &status), 0) << path << suffix;
            EXPECT_EQ(status.st_mode & 07777, 0600u) << path << suffix << " under umask " << std::oct << mask;
        }
    }
}

// A store as the earlier build made it: the table without the order index.
TEST_F(ObjectStore, AStoreOfTheEarlierBuildOpensWithItsObjectsAndStaysAtVersionOne)
{
    m_store.reset();
    const std::string path = PathOf("earlier.db");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "PRAGMA journal_mode = WAL;"
                           "CREATE TABLE objects(registration INTEGER PRIMARY KEY AUTOINCREMENT,"
                           " service_code INTEGER NOT NULL, object_key BLOB NOT NULL, body BLOB NOT NULL,"
                           " UNIQUE(service_code, object_key));"
                           "PRAGMA user_version = 1;"
                           "INSERT INTO objects(service_code, object_key, body) VALUES"
                           " (46, x'7a', x'31'), (46, x'61', x'32'), (33, x'61', x'68'), (46, x'6d', x'33');",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    ASSERT_THAT(Service::Store::Open(path, m_store), IsSuccessError());
    EXPECT_THAT(Contents(), ElementsAre("z=1", "a=2", "m=3"));
    ASSERT_THAT(Insert(kDml, "n", "4"), IsSuccessError());
    EXPECT_THAT(Contents(), ElementsAre("z=1", "a=2", "m=3", "n=4"));
    m_store.reset();

    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    auto single = [&](const char* sql) {
        sqlite3_stmt* query = nullptr;
        int value = -1;
        if (sqlite3_prepare_v2(db, sql, -1, &query, nullptr) == SQLITE_OK && sqlite3_step(query) == SQLITE_ROW)
            value = sqlite3_column_int(query, 0);
        sqlite3_finalize(query);
        return value;
    };
    EXPECT_EQ(single("PRAGMA user_version"), 1);
    EXPECT_EQ(single("SELECT COUNT(*) FROM sqlite_master WHERE type = 'index' AND name = 'objects_in_order'"), 1);
    sqlite3_close(db);
}

// The files of a store at its opening: the lock that openers take turns
// through, and the files Open trusts. Their tests make the stores on disk.

class StoreFiles : public ServiceTesting::TemporaryFolder
{
protected:
    std::string Store() const { return PathOf("objects.db"); }

    // Options that collect the notices.
    Service::StoreOpenOptions Collecting(std::chrono::milliseconds lockWait = std::chrono::seconds(30))
    {
        Service::StoreOpenOptions options;
        options.lockWait = lockWait;
        options.notice = [this](const std::string& line) { m_notices.push_back(line); };
        return options;
    }

    static mode_t ModeOf(const std::string& path)
    {
        struct stat status
        {
        };
        return lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
    }

    static std::string Contents(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    // Makes a store at `path` with one object, and closes it.
    static void MakeStore(const std::string& path)
    {
        std::unique_ptr<Service::Store> store;
        ASSERT_THAT(Service::Store::Open(path, store), IsSuccessError());
        ASSERT_THAT(store->Run(Service::Store::Mode::Write,
                               [](Service::Transaction& t) { return t.Insert(kDml, B("k"), B("b")); }),
                    IsSuccessError());
    }

    std::vector<std::string> m_notices;
};

TEST_F(StoreFiles, AHeldLockIsWaitedForWithOneNoticeThenNamedInTheFailure)
{
    ServiceTesting::HeldStoreLock held(Store());
    const auto started = std::chrono::steady_clock::now();
    std::unique_ptr<Service::Store> store;
    const Common::Error error = Service::Store::Open(Store(), Collecting(std::chrono::milliseconds(100)), store);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(100));
    const std::string lock = Store() + ".lock";
    EXPECT_THAT(error,
                AllOf(ErrorIs(FileErrors::kLockFailed),
                      HasTextThat(::testing::StrEq("DML store: " + lock +
                                                   ": another process holds this lock file; gave up waiting for it "
                                                   "after 100 ms"))));
    EXPECT_EQ(store, nullptr);
    EXPECT_THAT(m_notices,
                ElementsAre("waiting for the lock file " + lock + ", which another process holds (at most 100 ms)"));
}

TEST_F(StoreFiles, ALockReleasedDuringTheWaitLetsTheOpeningGoOn)
{
    ServiceTesting::HeldStoreLock held(Store());
    Service::StoreOpenOptions options = Collecting();
    options.notice = [&](const std::string& line) {
        m_notices.push_back(line);
        held.Release(); // the other opener is done
    };
    const auto started = std::chrono::steady_clock::now();
    std::unique_ptr<Service::Store> store;
    ASSERT_THAT(Service::Store::Open(Store(), options, store), IsSuccessError());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(m_notices.size(), 1u);
    ASSERT_THAT(
        store->Run(Service::Store::Mode::Write, [](Service::Transaction& t) { return t.Insert(kDml, B("k"), B("b")); }),
        IsSuccessError());
}

TEST_F(StoreFiles, TheNoticeOfTheWaitComesOnlyOnceItLastedItsTime)
{
    ServiceTesting::HeldStoreLock held(Store());
    std::unique_ptr<Service::Store> store;
    Service::StoreOpenOptions options = Collecting(std::chrono::milliseconds(50));
    options.lockNoticeAfter = std::chrono::hours(1);
    EXPECT_THAT(Service::Store::Open(Store(), options, store), ErrorIs(FileErrors::kLockFailed));
    EXPECT_THAT(m_notices, ::testing::IsEmpty());

    options.lockWait = std::chrono::seconds(30);
    options.lockNoticeAfter = std::chrono::milliseconds(100);
    const auto started = std::chrono::steady_clock::now();
    auto toldAfter = std::chrono::steady_clock::duration::zero();
    options.notice = [&](const std::string&) {
        toldAfter = std::chrono::steady_clock::now() - started;
        held.Release();
    };
    EXPECT_THAT(Service::Store::Open(Store(), options, store), IsSuccessError());
    EXPECT_GE(toldAfter, std::chrono::milliseconds(100));
}

TEST_F(StoreFiles, FilesThatAreNotRegularAreRefusedByName)
{
    struct Kind
    {
        const char* name;
        std::function<int(const std::string& path, const std::string& target)> make;
        const char* reason;
    };
    const Kind kinds[] = {
        {"link",
         [](const std::string& path, const std::string& target) { return symlink(target.c_str(), path.c_str()); },
         "a symbolic link, not a regular file"},
        {"FIFO", [](const std::string& path, const std::string&) { return mkfifo(path.c_str(), 0600); },
         "not a regular file"},
    };
    for (const Kind& kind : kinds) {
        for (const char* suffix : {"", "-wal", "-shm", ".lock"}) {
            const Testing::TemporaryFolder folder("store_test");
            const std::string store = folder.PathOf("objects.db");
            const std::string target = folder.PathOf("target");
            {
                std::ofstream(target) << "a file of the test's own";
            }
            ASSERT_EQ(kind.make(store + suffix, target), 0) << kind.name << suffix;
            std::unique_ptr<Service::Store> opened;
            const Common::Error error = Service::Store::Open(store, Collecting(), opened);
            EXPECT_THAT(error,
                        AllOf(ErrorIs(FileErrors::kAccessDenied),
                              HasTextThat(::testing::StrEq("DML store: " + store + suffix + ": " + kind.reason))))
                << kind.name << " " << suffix;
            EXPECT_EQ(Contents(target), "a file of the test's own") << kind.name << " " << suffix;
        }
    }
    EXPECT_THAT(m_notices, ::testing::IsEmpty());
}

TEST_F(StoreFiles, FilesOfAnotherUserAreRefusedByNameAndLeftAsTheyAre)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "a file of another user can only be made as root";
    for (const char* suffix : {"", "-wal", "-shm", ".lock"}) {
        const Testing::TemporaryFolder folder("store_test");
        const std::string store = folder.PathOf("objects.db");
        MakeStore(store);
        const std::string foreign = store + suffix;
        if (std::string(suffix) == "-wal" || std::string(suffix) == "-shm")
            std::ofstream{foreign}; // the companions go with the store's last connection
        ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0) << suffix;
        ASSERT_EQ(chmod(foreign.c_str(), 0666), 0) << suffix;
        std::unique_ptr<Service::Store> opened;
        EXPECT_THAT(Service::Store::Open(store, Collecting(), opened),
                    AllOf(ErrorIs(FileErrors::kAccessDenied),
                          HasTextThat(::testing::StrEq("DML store: " + foreign + ": not owned by this user"))))
            << suffix;
        struct stat status
        {
        };
        ASSERT_EQ(stat(foreign.c_str(), &status), 0);
        EXPECT_EQ(status.st_uid, 65534u) << suffix;
        EXPECT_EQ(status.st_mode & 07777, 0666u) << suffix;
    }
    EXPECT_THAT(m_notices, ::testing::IsEmpty());
}

TEST_F(StoreFiles, FilesOpenToGroupOrOthersLoseThoseBitsWithANoticeEach)
{
    struct Case
    {
        mode_t mode;
        mode_t after; // 0: the same, without a notice
    };
    const Case cases[] = {{0644, 0600}, {0640, 0600}, {0604, 0600}, {0666, 0600}, {0600, 0}, {0700, 0}};
    for (const Case& c : cases) {
        const Testing::TemporaryFolder folder("store_test");
        const std::string store = folder.PathOf("objects.db");
        MakeStore(store);
        // Another connection keeps the companions there.
        std::unique_ptr<Service::Store> first;
        ASSERT_THAT(Service::Store::Open(store, first), IsSuccessError());
        m_notices.clear();
        std::vector<std::string> expected;
        for (const char* suffix : {".lock", "", "-wal", "-shm"}) {
            ASSERT_EQ(chmod((store + suffix).c_str(), c.mode), 0) << suffix;
            if (c.after != 0)
                expected.push_back(store + suffix + " was open to group or others (mode " + Service::ModeText(c.mode) +
                                   "); its mode is now " + Service::ModeText(c.after));
        }
        std::unique_ptr<Service::Store> second;
        ASSERT_THAT(Service::Store::Open(store, Collecting(), second), IsSuccessError()) << std::oct << c.mode;
        EXPECT_EQ(m_notices, expected) << std::oct << c.mode;
        for (const char* suffix : {".lock", "", "-wal", "-shm"})
            EXPECT_EQ(ModeOf(store + suffix), c.after != 0 ? c.after : c.mode) << suffix << " " << std::oct << c.mode;
        EXPECT_THAT(second->Run(Service::Store::Mode::Write,
                                [](Service::Transaction& t) { return t.Insert(kDml, B("k2"), B("b")); }),
                    IsSuccessError());
    }
}

TEST_F(StoreFiles, CompanionsMadeAfterwardsTakeTheModeTheStoreWasGiven)
{
    MakeStore(Store());
    ASSERT_EQ(chmod(Store().c_str(), 0644), 0);
    std::unique_ptr<Service::Store> store;
    ASSERT_THAT(Service::Store::Open(Store(), Collecting(), store), IsSuccessError());
    for (const char* suffix : {"", "-wal", "-shm"})
        EXPECT_EQ(ModeOf(Store() + suffix), 0600u) << suffix;
}

// Whether another process finds a POSIX lock on any byte of `path`.
bool LockedByThisProcess(const std::string& path)
{
    const pid_t child = fork();
    if (child == 0) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct flock query
        {
        };
        query.l_type = F_WRLCK;
        query.l_whence = SEEK_SET;
        if (fd < 0 || fcntl(fd, F_GETLK, &query) < 0)
            _exit(2);
        _exit(query.l_type == F_UNLCK ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) == 2)
        ADD_FAILURE() << "cannot look at the locks of " << path;
    return WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

// SQLite's POSIX locks belong to the process: closing any descriptor of a
// file drops every one the process holds on it. The checks of a second
// opening must not take away the first connection's.
TEST_F(StoreFiles, TheChecksOfASecondOpeningLeaveTheLocksOfTheFirstInPlace)
{
    MakeStore(Store());
    std::unique_ptr<Service::Store> first;
    ASSERT_THAT(Service::Store::Open(Store(), first), IsSuccessError());
    ASSERT_TRUE(LockedByThisProcess(Store() + "-shm"));
    // Modes to change, so that the checks go all the way.
    for (const char* suffix : {"", "-wal", "-shm"})
        ASSERT_EQ(chmod((Store() + suffix).c_str(), 0644), 0);
    std::unique_ptr<Service::Store> second;
    ASSERT_THAT(Service::Store::Open(Store(), Collecting(), second), IsSuccessError());
    ASSERT_EQ(m_notices.size(), 3u);
    EXPECT_TRUE(LockedByThisProcess(Store() + "-shm"));
}

// Removal by a filter, and where a run of removals by one filter resumes.

class ObjectRemoval : public ObjectStore
{
protected:
    // Objects k0..k<count-1>; those in `selected` get the body "yes", the others "no".
    void Fill(int count, const std::set<int>& selected)
    {
        ASSERT_THAT(Write([&](Service::Transaction& t) {
                        Common::Error error;
                        for (int i = 0; error.IsSuccess() && i < count; ++i)
                            error = t.Insert(kDml, B("k" + std::to_string(i)), B(selected.count(i) ? "yes" : "no"));
                        return error;
                    }),
                    IsSuccessError());
    }

    // Removes up to `limit` "yes" objects; counts the bodies the filter read.
    Common::Error RemoveYes(size_t limit, size_t& removed, Service::Store* store = nullptr)
    {
        return (store ? store : m_store.get())->Run(Service::Store::Mode::Write, [&](Service::Transaction& t) {
            return t.RemoveSelected(kDml, m_yes, B("yes"), limit, removed);
        });
    }

    size_t m_reads = 0;
    const Service::BodyFilter m_yes = [this](Ipc::ByteView body, bool& selected) {
        ++m_reads;
        selected = std::string(body.begin(), body.end()) == "yes";
        return Common::Success;
    };
};

TEST_F(ObjectRemoval, RemovesTheFirstSelectedUpToTheLimitInOrder)
{
    Fill(10, {1, 2, 5, 8, 9});
    struct Step
    {
        size_t limit;
        size_t removed;
        std::vector<std::string> left;
    };
    const Step steps[] = {
        {0, 0, {"k0=no", "k1=yes", "k2=yes", "k3=no", "k4=no", "k5=yes", "k6=no", "k7=no", "k8=yes", "k9=yes"}},
        {2, 2, {"k0=no", "k3=no", "k4=no", "k5=yes", "k6=no", "k7=no", "k8=yes", "k9=yes"}},
        {1, 1, {"k0=no", "k3=no", "k4=no", "k6=no", "k7=no", "k8=yes", "k9=yes"}},
        {Service::kNoLimit, 2, {"k0=no", "k3=no", "k4=no", "k6=no", "k7=no"}},
        {5, 0, {"k0=no", "k3=no", "k4=no", "k6=no", "k7=no"}},
    };
    for (const Step& step : steps) {
        size_t removed = 99;
        ASSERT_THAT(RemoveYes(step.limit, removed), IsSuccessError());
        EXPECT_EQ(removed, step.removed) << "limit " << step.limit;
        EXPECT_EQ(Contents(), step.left) << "limit " << step.limit;
    }
    size_t removed = 0;
    EXPECT_THAT(
        m_store->Run(Service::Store::Mode::Read,
                     [&](Service::Transaction& t) { return t.RemoveSelected(kDml, m_yes, B("yes"), 1, removed); }),
        ErrorIs(Service::kStoreFailed));
}

TEST_F(ObjectRemoval, BatchesReadEachObjectOnceWhenTheMatchesLieLate)
{
    constexpr int kObjects = 1000;
    std::set<int> late;
    for (int i = 900; i < kObjects; ++i)
        late.insert(i);
    Fill(kObjects, late);
    size_t total = 0;
    int batches = 0;
    for (size_t removed = 1; removed != 0; ++batches) {
        ASSERT_THAT(RemoveYes(10, removed), IsSuccessError());
        total += removed;
    }
    EXPECT_EQ(total, 100u);
    EXPECT_EQ(batches, 11);
    EXPECT_LE(m_reads, static_cast<size_t>(kObjects)); // each body once: no batch reads the 900 again
    EXPECT_EQ(Contents().size(), 900u);
}

Common::Error WriteOn(Service::Store& store, const Service::Store::Work& work)
{
    return store.Run(Service::Store::Mode::Write, work);
}

// The same through a second Store on the file: another connection.
Common::Error WriteElsewhere(const std::string& path, const Service::Store::Work& work)
{
    std::unique_ptr<Service::Store> other;
    Common::Error error = Service::Store::Open(path, other);
    return error.IsSuccess() ? WriteOn(*other, work) : error;
}

TEST_F(ObjectRemoval, ObjectsThatMayNowBeSelectedBehindTheMarkAreFound)
{
    const Service::Store::Work replaceFirst = [](Service::Transaction& t) {
        return t.Replace(kDml, B("k0"), B("k0"), B("yes"));
    };
    const Service::Store::Work removeAndInsertFirst = [](Service::Transaction& t) {
        Common::Error error = t.Remove(kDml, B("k0"));
        return error.IsSuccess() ? t.Insert(kDml, B("k0"), B("yes")) : error;
    };
    struct Case
    {
        const char* what;
        std::function<Common::Error(Service::Store& store, const std::string& path)> change; // between two removals
    };
    const Case cases[] = {
        {"an object passed over is replaced by a selected one",
         [&](Service::Store& store, const std::string&) { return WriteOn(store, replaceFirst); }},
        {"another connection replaces one",
         [&](Service::Store&, const std::string& path) { return WriteElsewhere(path, replaceFirst); }},
        {"another connection removes and inserts again",
         [&](Service::Store&, const std::string& path) { return WriteElsewhere(path, removeAndInsertFirst); }},
        {"the same connection removes and inserts again",
         [&](Service::Store& store, const std::string&) { return WriteOn(store, removeAndInsertFirst); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_store.reset();
        ASSERT_NO_THROW(RemoveStoreFiles());
        Reopen();
        Fill(3, {1}); // k0=no k1=yes k2=no
        size_t removed = 0;
        ASSERT_THAT(RemoveYes(Service::kNoLimit, removed), IsSuccessError()); // passes all three, removes k1
        ASSERT_EQ(removed, 1u);
        ASSERT_THAT(c.change(*m_store, PathOf("objects.db")), IsSuccessError());
        ASSERT_THAT(RemoveYes(Service::kNoLimit, removed), IsSuccessError());
        EXPECT_EQ(removed, 1u);
        EXPECT_THAT(Contents(), ElementsAre("k2=no"));
    }
}

TEST_F(ObjectRemoval, ARemovalThatIsRolledBackLeavesNoMark)
{
    Fill(6, {0, 1, 2, 3, 4, 5});
    size_t removed = 0;
    EXPECT_THAT(Write([&](Service::Transaction& t) {
                    Common::Error error = t.RemoveSelected(kDml, m_yes, B("yes"), 3, removed);
                    EXPECT_THAT(error, IsSuccessError());
                    return Common::Error(0xFA0001, "the request fails after its removal", Common::NoLocation);
                }),
                ErrorIs(0xFA0001u));
    EXPECT_EQ(Contents().size(), 6u);
    ASSERT_THAT(RemoveYes(3, removed), IsSuccessError());
    EXPECT_EQ(removed, 3u);
    EXPECT_THAT(Contents(), ElementsAre("k3=yes", "k4=yes", "k5=yes"));
}

TEST_F(ObjectRemoval, MarksAreKeptPerServiceCodeAndFilterName)
{
    Fill(4, {0, 1, 2, 3});
    ASSERT_THAT(Insert(kHub, "h", "yes"), IsSuccessError());
    size_t removed = 0;
    ASSERT_THAT(RemoveYes(2, removed), IsSuccessError());
    ASSERT_THAT(Write([&](Service::Transaction& t) { return t.RemoveSelected(kHub, m_yes, B("yes"), 5, removed); }),
                IsSuccessError());
    EXPECT_EQ(removed, 1u);
    // Another name for a filter that selects every object starts from the first.
    const Service::BodyFilter any = [](Ipc::ByteView, bool& selected) {
        selected = true;
        return Common::Success;
    };
    ASSERT_THAT(Write([&](Service::Transaction& t) { return t.RemoveSelected(kDml, any, B("any"), 1, removed); }),
                IsSuccessError());
    EXPECT_THAT(Contents(), ElementsAre("k3=yes"));
}

// Group commit and reads beside writes.

class ObjectStoreThreads : public ObjectStore
{
protected:
    // Runs a write on a thread of its own that holds its transaction open
    // until Release; returns once the work is inside it.
    void HoldWriter(const std::string& key)
    {
        std::promise<void> inside;
        m_holder = std::thread([this, key, &inside] {
            EXPECT_THAT(Write([&](Service::Transaction& t) {
                            Common::Error error = t.Insert(kDml, B(key), B("held"));
                            inside.set_value();
                            m_gate.wait();
                            return error;
                        }),
                        IsSuccessError());
        });
        inside.get_future().wait();
    }
    void Release()
    {
        m_open.set_value();
        m_holder.join();
    }
    // Waits until `count` writes are accepted and unanswered; false after 30 s.
    bool AwaitPendingWrites(size_t count)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (m_store->PendingWrites() != count) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::yield();
        }
        return true;
    }

    std::promise<void> m_open;
    std::shared_future<void> m_gate = m_open.get_future().share();
    std::thread m_holder;
};

TEST_F(ObjectStoreThreads, WritesThatComeDuringATransactionShareTheNextOneEachWithItsOwnOutcome)
{
    HoldWriter("first");
    enum class Kind
    {
        Succeeds,
        Fails,
        Throws
    };
    const Kind kinds[] = {Kind::Succeeds, Kind::Fails, Kind::Succeeds, Kind::Throws, Kind::Succeeds, Kind::Fails};
    constexpr size_t kWrites = std::size(kinds);
    std::vector<std::thread::id> ranOn(kWrites);
    std::vector<Common::Error> results(kWrites);
    std::vector<bool> thrown(kWrites, false);
    std::vector<std::thread> writers;
    for (size_t i = 0; i < kWrites; ++i)
        writers.emplace_back([&, i] {
            const std::string key = "w" + std::to_string(i);
            try {
                results[i] = Write([&](Service::Transaction& t) -> Common::Error {
                    ranOn[i] = std::this_thread::get_id();
                    Common::Error error = t.Insert(kDml, B(key), B("body"));
                    if (kinds[i] == Kind::Throws)
                        throw std::runtime_error("work failed");
                    if (kinds[i] == Kind::Fails)
                        return Common::Error(0xFA0001, "refused after its insert", Common::NoLocation);
                    return error;
                });
            } catch (const std::runtime_error&) {
                thrown[i] = true;
            }
        });
    ASSERT_TRUE(AwaitPendingWrites(kWrites + 1));
    Release();
    for (std::thread& writer : writers)
        writer.join();

    for (size_t i = 0; i < kWrites; ++i) {
        EXPECT_EQ(ranOn[i], ranOn[0]) << "write " << i << " ran in a transaction of its own";
        EXPECT_EQ(thrown[i], kinds[i] == Kind::Throws) << i;
        if (kinds[i] == Kind::Fails) {
            EXPECT_THAT(results[i], ErrorIs(0xFA0001u)) << i;
        } else if (kinds[i] == Kind::Succeeds) {
            EXPECT_THAT(results[i], IsSuccessError()) << i;
        }
    }
    EXPECT_THAT(Contents(), ::testing::UnorderedElementsAre("first=held", "w0=body", "w2=body", "w4=body"));
    EXPECT_EQ(m_store->PendingWrites(), 0u);
}

TEST_F(ObjectStoreThreads, AReadAnswersWithTheCommittedStateWhileAWriteHoldsItsTransaction)
{
    ASSERT_THAT(Insert(kDml, "old", "1"), IsSuccessError());
    HoldWriter("new");
    auto read = std::async(std::launch::async, [this] { return Contents(); });
    const bool answered = read.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    Release();
    ASSERT_TRUE(answered) << "the read waited for the write";
    EXPECT_THAT(read.get(), ElementsAre("old=1"));
    EXPECT_THAT(Contents(), ElementsAre("old=1", "new=held"));
}

TEST_F(ObjectStoreThreads, ManyWritersAndReadersAtOnceLoseNothing)
{
    constexpr int kThreads = 8;
    constexpr int kEach = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([this, t] {
            for (int i = 0; i < kEach; ++i) {
                const std::string key = std::to_string(t) + "-" + std::to_string(i);
                EXPECT_THAT(Insert(kDml, key, "b"), IsSuccessError());
                bool found = false;
                Service::StoredObject object;
                EXPECT_THAT(m_store->Run(Service::Store::Mode::Read,
                                         [&](Service::Transaction& r) { return r.Get(kDml, B(key), found, object); }),
                            IsSuccessError());
                EXPECT_TRUE(found) << key << " was answered before it could be read";
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(Contents().size(), static_cast<size_t>(kThreads * kEach));
}

} // namespace
