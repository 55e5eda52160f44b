// The change watcher behind posix_dir::EnableNotification.
//
// One watcher thread per process, started by the first registration, polls
// the modification time (stat(2), following links) of every registered
// directory, one directory per wake-up. The first look only records the time.
// When the time moves (or the directory can no longer be read, or can again)
// the handler's OnChange is called once, on the watcher thread, with a
// temporary posix_dir over the same path that lives for the call; the
// registration then stays but is left out of the polling until the owner
// calls ResetNotification. A change made between the call and the reset is
// reported after the reset.
//
// Between two looks the thread waits NotificationPollInterval(count)
// milliseconds, count being the number of armed registrations: each directory
// is looked at about once a second while at most ten are armed. With none
// armed it sleeps until a registration arrives.
//
// Registrations must be removed before exit (destroying the posix_dir does
// it); ShutdownNotification runs at exit, reports registrations left over and
// stops the thread.
//
// Threading: the registrations, the ring of armed ones and the thread handle
// change only under the watcher's mutex. OnChange runs without the mutex held,
// so a handler may register, remove or re-arm directories itself; handlers
// are released outside the mutex too, so a handler's destructor may do the
// same. The watcher never touches a caller's posix_dir object.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "core/file/unix/posix_dir.h"

// max(100, 1000 / count) milliseconds (integer division); count 0 counts as 1.
uint32_t NotificationPollInterval(uint32_t count) noexcept;

// Stops and joins the watcher thread (registered to run at exit). Reports a
// failed assertion when a registration is left.
void ShutdownNotification() noexcept;

// Test support: waits up to `milliseconds` until the watcher has looked at
// `directory`'s registration at least `looks` times since it was made, and
// returns the number of looks then (0 when `directory` is not registered).
uint64_t WaitForNotificationLooks(posix_dir& directory, uint64_t looks, uint32_t milliseconds);

// Test support: starts the watcher thread running `body`; answers 0 or an
// error number, as pthread_create with default attributes does.
using NotificationThreadStarter = int (*)(pthread_t* thread, void* (*body)(void*));
// Replaces the starter (null: pthread_create) and returns the one before. The
// starter is read under the watcher's mutex, at a registration that finds no
// thread; a thread already running is not affected.
NotificationThreadStarter SetNotificationThreadStarterForTesting(NotificationThreadStarter starter);
