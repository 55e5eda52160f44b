// The process-wide set of interned 8-bit strings. Records rebuilt from error
// blobs keep their file and function names here, so the pointers stay valid
// until the process exits (the copies are freed at exit).
//
// Threading: any thread; the set is guarded by one lock.
#pragma once

namespace Common {

// The stored copy equal to `text` (compared with strcmp), added on first use.
// Throws std::bad_alloc when memory runs out.
const char* InternString(const char* text);

} // namespace Common
