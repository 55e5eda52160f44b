// The current thread's identifier and the pause step of spin loops.
//
// Threading: any thread.
#pragma once

#include <pthread.h>

namespace Common {

using ThreadId = pthread_t;

ThreadId GetCurrentThreadId();
// One step of a spin loop.
void SpinPause();

} // namespace Common
