// Formatted stack traces of the calling thread.
//
// Each frame becomes one line: the module padded to 30 columns, the demangled
// function name padded to 40, the offset padded to 6 and the rest of the
// system's symbol line; a line without a function name is padded to 40.
//
// Threading: any thread; the callback runs on the calling thread.
#pragma once

namespace Common {

// Called for each stack line with its frame index; answering false stops the
// walk.
using StackLineCallback = bool (*)(unsigned frame, const char* line, void* userData);

// Formats up to `maxFrames` frames of the calling thread's stack, frame 0
// first. Answers the callback's last answer, or false when no frame was found.
bool WalkStackTrace(unsigned maxFrames, StackLineCallback callback, void* userData);

namespace Detail {
// Formats one symbol line ("module(name+offset) [address]") into `out`
// (`size` bytes, terminated).
void FormatStackLine(const char* symbolLine, char* out, unsigned size);
} // namespace Detail

} // namespace Common
