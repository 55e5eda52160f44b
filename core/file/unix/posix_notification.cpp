// The change watcher: registrations, the polling ring and the watcher thread.

#include "core/file/unix/posix_notification.h"

#include <pthread.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <utility>

#include "core/common/assertion.h"
#include "core/common/file_errors.h"
#include "core/common/mutex.h"
#include "core/file/unix/posixsp.h"

// One registration. Changed only under the watcher's mutex.
struct posix_dir::watch_record
{
    explicit watch_record(std::string directoryPath) : path(std::move(directoryPath)) {}

    // The registering directory's native path. A copy: the record can outlive
    // the directory by the length of a running call.
    std::string path;
    notification_handler* handler = nullptr; // one reference held
    int64_t seconds = 0;
    int64_t nanoseconds = -1; // -1 never looked at, -2 cannot be read
    bool inRing = false;
    int32_t references = 1; // the registering directory and each temporary one
    watch_record* previous = nullptr;
    watch_record* next = nullptr;
    uint64_t looks = 0; // for the test support

    static void* NotificationThread(void*);
    static void CallHandler(watch_record* record);
    static uint64_t WaitForLooks(posix_dir& directory, uint64_t looks, uint32_t milliseconds);
};

namespace {

using Record = posix_dir::watch_record;

// The watcher's mutex as something Common::LockGuard can hold.
struct WatcherMutex
{
    int Lock() noexcept { return pthread_mutex_lock(&mutex); }
    void Unlock() noexcept { pthread_mutex_unlock(&mutex); }

    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
};

// Statically initialised and never destroyed: the watcher may still run while
// the other statics of the program are destroyed at exit.
constinit WatcherMutex g_mutex;
constinit pthread_cond_t g_condition = PTHREAD_COND_INITIALIZER;
constinit pthread_cond_t g_looked = PTHREAD_COND_INITIALIZER; // test support
constinit bool g_stop = false;
constinit bool g_threadStarted = false;
constinit pthread_t g_thread{};
constinit Record* g_cursor = nullptr; // polled next; null when the ring is empty
constinit uint32_t g_count = 0;       // records in the ring

int StartWithDefaultAttributes(pthread_t* thread, void* (*body)(void*))
{
    return pthread_create(thread, nullptr, body, nullptr);
}

constinit NotificationThreadStarter g_starter = StartWithDefaultAttributes;

// The mutex is held by the callers of these.

void PutIntoRing(Record* record)
{
    if (record->inRing)
        return;
    record->inRing = true;
    ++g_count;
    if (!g_cursor) {
        record->previous = record->next = record;
        g_cursor = record;
        pthread_cond_signal(&g_condition);
        return;
    }
    // Just before the cursor: polled last in the current pass.
    record->next = g_cursor;
    record->previous = g_cursor->previous;
    g_cursor->previous->next = record;
    g_cursor->previous = record;
}

void TakeOutOfRing(Record* record)
{
    record->inRing = false;
    --g_count;
    if (record->next == record) {
        g_cursor = nullptr;
    } else {
        record->previous->next = record->next;
        record->next->previous = record->previous;
        if (g_cursor == record)
            g_cursor = record->next;
    }
    record->previous = record->next = nullptr;
}

// Drops one reference; the last one frees the record. Returns the handler
// the caller must release once the mutex is unlocked (null when none).
notification_handler* DropReference(Record* record)
{
    if (--record->references > 0)
        return nullptr;
    if (record->inRing)
        TakeOutOfRing(record);
    notification_handler* handler = record->handler;
    delete record;
    return handler;
}

void ReleaseHandler(notification_handler* handler)
{
    if (handler)
        handler->Release();
}

void WaitMilliseconds(uint32_t milliseconds)
{
    timeval now{};
    gettimeofday(&now, nullptr);
    const int64_t until = int64_t(now.tv_sec) * 1000 + now.tv_usec / 1000 + milliseconds;
    const timespec deadline{static_cast<time_t>(until / 1000), static_cast<long>(until % 1000) * 1000000};
    pthread_cond_timedwait(&g_condition, &g_mutex.mutex, &deadline);
}

void ShutdownAtExit()
{
    ShutdownNotification();
}

const int g_shutdownRegistered = std::atexit(ShutdownAtExit);

} // namespace

uint32_t NotificationPollInterval(uint32_t count) noexcept
{
    const uint32_t share = 1000 / (count ? count : 1);
    return share > 100 ? share : 100;
}

// With the mutex held; returns with it held. The record is out of the ring.
void posix_dir::watch_record::CallHandler(watch_record* record)
{
    std::optional<posix_dir> temporary;
    temporary.emplace(record->path);
    temporary->m_watch = record;
    ++record->references;
    notification_handler* handler = record->handler;
    handler->AddRef();
    g_mutex.Unlock();
    handler->OnChange(&*temporary);
    handler->Release();
    // The destructor drops the temporary's reference (EnableNotification(null)),
    // which frees the record when the registering directory is gone already.
    temporary.reset();
    (void)g_mutex.Lock();
}

void* posix_dir::watch_record::NotificationThread(void*)
{
    (void)g_mutex.Lock();
    while (!g_stop) {
        if (!g_cursor) {
            pthread_cond_wait(&g_condition, &g_mutex.mutex);
            continue;
        }
        watch_record* record = g_cursor;
        g_cursor = record->next;
        struct stat64 status;
        int64_t seconds = 0;
        int64_t nanoseconds = -2;
        if (stat64(record->path.c_str(), &status) == 0) {
            seconds = status.st_mtim.tv_sec;
            nanoseconds = status.st_mtim.tv_nsec;
        }
        ++record->looks;
        pthread_cond_broadcast(&g_looked);
        if (seconds != record->seconds || nanoseconds != record->nanoseconds) {
            const bool firstLook = record->seconds == 0 && record->nanoseconds == -1;
            record->seconds = seconds;
            record->nanoseconds = nanoseconds;
            if (!firstLook) {
                TakeOutOfRing(record);
                CallHandler(record);
                if (g_stop)
                    break;
                if (!g_cursor)
                    continue;
            }
        }
        WaitMilliseconds(NotificationPollInterval(g_count));
    }
    g_mutex.Unlock();
    return nullptr;
}

uint64_t posix_dir::watch_record::WaitForLooks(posix_dir& directory, uint64_t looks, uint32_t milliseconds)
{
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += milliseconds / 1000;
    deadline.tv_nsec += long(milliseconds % 1000) * 1000000;
    if (deadline.tv_nsec >= 1000000000) {
        deadline.tv_nsec -= 1000000000;
        ++deadline.tv_sec;
    }
    Common::LockGuard guard(g_mutex);
    while (directory.m_watch && directory.m_watch->looks < looks) {
        if (pthread_cond_timedwait(&g_looked, &g_mutex.mutex, &deadline) == ETIMEDOUT)
            break;
    }
    return directory.m_watch ? directory.m_watch->looks : 0;
}

uint64_t WaitForNotificationLooks(posix_dir& directory, uint64_t looks, uint32_t milliseconds)
{
    return posix_dir::watch_record::WaitForLooks(directory, looks, milliseconds);
}

void posix_dir::EnableNotification(notification_handler* handler)
{
    notification_handler* released = nullptr;
    {
        Common::LockGuard guard(g_mutex);
        if (handler) {
            if (m_watch) {
                released = m_watch->handler;
            } else {
                if (!g_threadStarted) {
                    if (g_starter(&g_thread, watch_record::NotificationThread) != 0) {
                        SetError(PosixSp::MessageError(FileErrors::kOpenFailed, FileErrors::kOpenFailedText,
                                                       "EnableNotification", 1226));
                        return;
                    }
                    g_threadStarted = true;
                }
                m_watch = new watch_record(m_path);
            }
            handler->AddRef();
            m_watch->handler = handler;
            PutIntoRing(m_watch);
        } else if (m_watch) {
            released = DropReference(m_watch);
            m_watch = nullptr;
        }
    }
    ReleaseHandler(released);
    SetSuccess();
}

NotificationThreadStarter SetNotificationThreadStarterForTesting(NotificationThreadStarter starter)
{
    Common::LockGuard guard(g_mutex);
    return std::exchange(g_starter, starter ? starter : StartWithDefaultAttributes);
}

void posix_dir::ResetNotification()
{
    Common::LockGuard guard(g_mutex);
    if (m_watch)
        PutIntoRing(m_watch);
}

void ShutdownNotification() noexcept
{
    (void)g_shutdownRegistered;
    pthread_t thread;
    {
        Common::LockGuard guard(g_mutex);
        if (!g_threadStarted)
            return;
        // Every directory must have removed its registration before exit.
        if (g_cursor)
            (void)Common::ReportAssertion("CurrentNotification == 0", kPosixSpSource.path, 202);
        if (g_count != 0)
            (void)Common::ReportAssertion("NotificationCount == 0", kPosixSpSource.path, 203);
        g_stop = true;
        g_threadStarted = false;
        thread = g_thread;
        pthread_cond_signal(&g_condition);
    }
    if (pthread_join(thread, nullptr) != 0)
        (void)Common::ReportAssertion("!res", kPosixSpSource.path, 213);
}
