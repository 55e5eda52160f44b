// The async service library (this is our stand-in for it): GetAsyncService,
// declared with the service's interfaces in platform/async/async_service.h
// (the job vocabulary they use is in platform/async/job.h), is defined here.
//
// Layering: like the closed library, this one sees only its own headers and
// the object-representation library's Common::Error
// (platform/objrep/common_error.h); it builds its errors from that class's
// constructors with texts and places of its own. The one exception is the lock
// vocabulary of core/common/mutex.h (Common::NonRecursiveMutex and its guards,
// header-only), so that the compiler checks its locks like everyone else's. The async job framework
// includes these headers and links this library, so the dependency runs one
// way, framework -> service.
//
// The service is one process-wide object, created at the first request and
// never shut down:
// - PerformWork runs work on a pool of threads that grows whenever no thread is
//   free (work may block, also on other work) and whose idle threads retire;
// - metronomes tick on a timer thread, the period counted in milliseconds;
//   CreateMetronome of one period returns one cached metronome; a cancelled
//   tick completes at once with ASYNC_ERROR_CANCELED (0xF90002);
// - a thread environment is the thread's environment tag (below);
// - the synchronization-callback storage keeps each thread's chain in
//   thread-local storage.
// Neither the service nor its timer touch a work item or a handler after
// calling its completion.
//
// Threading: every call from any thread.
#pragma once

#include <cstdint>

namespace AsyncPlatform {

// While off, GetAsyncService yields no service. On at start. For tests that
// run the framework without a service; switch it only while no framework code
// runs on other threads.
void SetServiceEnabledForTesting(bool enabled);

// Switches the service off for one scope.
class NoServiceScopeForTesting
{
public:
    NoServiceScopeForTesting() { SetServiceEnabledForTesting(false); }
    ~NoServiceScopeForTesting() { SetServiceEnabledForTesting(true); }
    NoServiceScopeForTesting(const NoServiceScopeForTesting&) = delete;
    NoServiceScopeForTesting& operator=(const NoServiceScopeForTesting&) = delete;
};

// What a thread environment holds: one tag per thread, 0 at thread start.
// Capturing an environment copies the tag; applying or restoring it sets the
// thread's tag; leaving it sets the thread's tag to 0.
void SetThreadEnvironmentTag(uint64_t tag);
uint64_t GetThreadEnvironmentTag();

} // namespace AsyncPlatform
