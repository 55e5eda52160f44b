// Several processes on one store file: forked children, started together
// through a pipe, and a child killed in the middle of a write transaction.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "service/service_test_support.h"
#include "service/store.h"
#include "testing/error_matchers.h"

namespace {

using ServiceTesting::B;
using Testing::IsSuccessError;

constexpr int32_t kDml = 46;

class StoreProcesses : public ServiceTesting::MemoryFolder
{
protected:
    uint64_t CountObjects()
    {
        std::unique_ptr<Service::Store> store;
        EXPECT_THAT(Service::Store::Open(PathOf("objects.db"), store), IsSuccessError());
        uint64_t count = 0;
        if (store) {
            EXPECT_THAT(store->Run(Service::Store::Mode::Read,
                                   [&](Service::Transaction& t) { return t.Count(kDml, {}, count); }),
                        IsSuccessError());
        }
        return count;
    }
};

// Waits for the start pipe to close, then inserts `count` objects named
// after `prefix`, one transaction each. Exit status 0 when all went in.
[[noreturn]] void InsertInChild(int startPipe, const std::string& path, const std::string& prefix, int count)
{
    char byte;
    while (read(startPipe, &byte, 1) < 0 && errno == EINTR) {}
    std::unique_ptr<Service::Store> store;
    if (!Service::Store::Open(path, store).IsSuccess())
        _exit(10);
    for (int i = 0; i < count; ++i) {
        const std::string key = prefix + std::to_string(i);
        if (!store
                 ->Run(Service::Store::Mode::Write,
                       [&](Service::Transaction& t) { return t.Insert(kDml, B(key), B("body of " + key)); })
                 .IsSuccess())
            _exit(11);
    }
    _exit(0);
}

TEST_F(StoreProcesses, TwoProcessesInsertingAtOnceEndWithAllTheirObjects)
{
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    std::vector<pid_t> children;
    for (const char* prefix : {"first-", "second-"}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(start[1]);
            InsertInChild(start[0], PathOf("objects.db"), prefix, 200);
        }
        children.push_back(child);
    }
    close(start[0]);
    close(start[1]); // both start now, on a store neither has created yet
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
    EXPECT_EQ(CountObjects(), 400u);
}

TEST_F(StoreProcesses, ProcessKilledInTheMiddleOfAWriteLeavesThePreviousState)
{
    {
        std::unique_ptr<Service::Store> store;
        ASSERT_THAT(Service::Store::Open(PathOf("objects.db"), store), IsSuccessError());
        ASSERT_THAT(store->Run(Service::Store::Mode::Write,
                               [](Service::Transaction& t) { return t.Insert(kDml, B("before"), B("1")); }),
                    IsSuccessError());
    }
    int inside[2], never[2];
    ASSERT_EQ(pipe(inside), 0);
    ASSERT_EQ(pipe(never), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(inside[0]);
        close(never[1]);
        std::unique_ptr<Service::Store> store;
        if (!Service::Store::Open(PathOf("objects.db"), store).IsSuccess())
            _exit(10);
        (void)store->Run(Service::Store::Mode::Write, [&](Service::Transaction& t) {
            for (int i = 0; i < 500; ++i)
                (void)t.Insert(kDml, B("during-" + std::to_string(i)), B(std::string(2000, 'x')));
            (void)t.Remove(kDml, B("before"));
            const char byte = 1;
            (void)!write(inside[1], &byte, 1);
            char wait;
            (void)!read(never[0], &wait, 1); // holds the transaction open until killed
            return Common::Success;
        });
        _exit(12);
    }
    close(inside[1]);
    close(never[0]);
    char byte = 0;
    ASSERT_EQ(read(inside[0], &byte, 1), 1);
    ASSERT_EQ(kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status));
    close(inside[0]);
    close(never[1]);

    std::unique_ptr<Service::Store> store;
    ASSERT_THAT(Service::Store::Open(PathOf("objects.db"), store), IsSuccessError());
    std::vector<Service::StoredObject> objects;
    ASSERT_THAT(store->Run(Service::Store::Mode::Read,
                           [&](Service::Transaction& t) { return t.List(kDml, {}, Service::kNoLimit, objects); }),
                IsSuccessError());
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0].key, B("before"));
    // And it takes writes again.
    EXPECT_THAT(store->Run(Service::Store::Mode::Write,
                           [](Service::Transaction& t) { return t.Insert(kDml, B("after"), B("2")); }),
                IsSuccessError());
}

} // namespace
