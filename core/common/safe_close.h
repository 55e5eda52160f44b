// close/fclose wrappers under the policy of QUORVAN_SAFE_CLOSE, which decides
// what happens when a close fails in a way that points at a programming error
// (closing a descriptor that is not open):
//   unset               abort
//   contains "break"    trap into the debugger (tested first), then go on
//   contains "abort"    abort
//   anything else       ignore: return the failed result
// The policy is read once, before main.
//
// Threading: any thread; the first calls may resolve the functions twice, with
// the same result.
#pragma once

#include <cstdio>

namespace Common {

enum SafeCloseMode : int
{
    SAFE_CLOSE_IGNORE = 0,
    SAFE_CLOSE_ABORT = 1,
    SAFE_CLOSE_BREAK = 2,
};

int SafeClose(int descriptor);
int SafeFclose(std::FILE* stream);
void ResolveClose();
void ResolveFclose();

// Executes a breakpoint instruction.
void TrapToDebugger();

namespace Detail {
// The mode for a value of QUORVAN_SAFE_CLOSE (null: unset).
SafeCloseMode SafeCloseModeFor(const char* value);
} // namespace Detail

} // namespace Common
