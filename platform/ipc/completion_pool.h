// The library threads that run completions of started calls (and the handler
// work of the local road).
//
// A completion may block: it may make a synchronous call, or wait until
// another call completes. So a task never waits for a busy thread: when no
// thread is idle, a new one starts (up to kMaxCompletionThreads; beyond that,
// tasks queue). Idle threads stay for later tasks. The pool is process-wide
// and never destroyed, so a completion still running at exit is not cut from
// under it.
//
// Threading: Post from any thread, also from a task. Tasks run on pool
// threads only, never inside Post.
#pragma once

#include <cstddef>
#include <functional>

namespace Ipc {

inline constexpr size_t kMaxCompletionThreads = 256;

void PostCompletion(std::function<void()> task);

} // namespace Ipc
