// Common::Tls: thread-local storage keys (POSIX keys held as int).
//
// Each operation reports a key of OUT_OF_INDEXES as a failed assertion and then
// calls the POSIX function anyway.
//
// Threading: any thread; values are per thread.
#pragma once

namespace Common {

struct Tls
{
    using Key = int;
    using Destructor = void (*)(void*);

    // The key of a failed allocation.
    static constexpr Key OUT_OF_INDEXES = -1;

    static Key Allocate(Destructor destructor);
    static bool Release(Key key);
    static void* GetValue(Key key);
    static bool SetValue(Key key, void* value);
};

} // namespace Common
