// Lock annotations that clang's thread-safety analysis checks
// (-Wthread-safety, run by scripts/check_thread_safety); other compilers see
// nothing.
//
//     class Counter
//     {
//     public:
//         void Add() COMMON_EXCLUDES(m_mutex)
//         {
//             Common::LockGuard guard(m_mutex);
//             ++m_count;
//         }
//
//     private:
//         void AddLocked() COMMON_REQUIRES(m_mutex);
//
//         Common::Mutex m_mutex;
//         int m_count COMMON_GUARDED_BY(m_mutex) = 0;
//     };
//
// COMMON_CAPABILITY marks a lock type, COMMON_SCOPED_CAPABILITY a guard that
// holds one for its scope. COMMON_ACQUIRE/COMMON_RELEASE mark the functions
// that take and give back a lock (no argument: the object itself),
// COMMON_REQUIRES a function called with the lock held, COMMON_EXCLUDES one
// that takes it itself. COMMON_NO_THREAD_SAFETY_ANALYSIS exempts the bodies of
// the locks themselves, which the analysis cannot follow.
//
// Threading: declarations only.
#pragma once

#if defined(__clang__)
#define COMMON_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define COMMON_THREAD_ANNOTATION(x)
#endif

#define COMMON_CAPABILITY(name) COMMON_THREAD_ANNOTATION(capability(name))
#define COMMON_SCOPED_CAPABILITY COMMON_THREAD_ANNOTATION(scoped_lockable)
#define COMMON_GUARDED_BY(lock) COMMON_THREAD_ANNOTATION(guarded_by(lock))
#define COMMON_PT_GUARDED_BY(lock) COMMON_THREAD_ANNOTATION(pt_guarded_by(lock))
#define COMMON_ACQUIRE(...) COMMON_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define COMMON_RELEASE(...) COMMON_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define COMMON_REQUIRES(...) COMMON_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define COMMON_EXCLUDES(...) COMMON_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define COMMON_NO_THREAD_SAFETY_ANALYSIS COMMON_THREAD_ANNOTATION(no_thread_safety_analysis)
