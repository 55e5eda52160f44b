// Stand-in for the security core library: starting the security client and
// reading its last error as an error blob.
//
// Security_Initialize succeeds unless a test switches it to fail. A failure
// leaves a last error that Security_GetLastError hands out as a new[] block
// (core/common/error_blob.h) for the caller to free with delete[], or no block.
//
// Threading: any thread; the test switch must not race with calls.
#pragma once

#include <cstdint>

#include "platform/objrep/common_error.h"

// 0 when the security client started.
int Security_Initialize(uint64_t tag, int reserved1, int reserved2);
// Stores the last error's blob and its size, or a null block and 0.
void Security_GetLastError(unsigned char** block, uint32_t* size);

namespace SecurityStandIn {

enum class InitializeOutcome
{
    Succeed,
    // Fails; the last error is the blob of the given error.
    FailWithErrorBlock,
    // Fails without a last error.
    FailWithoutBlock,
    // Fails; the last error is a block from which no record can be read.
    FailWithUndecodableBlock,
};

// How the next calls of Security_Initialize end; `error` is the last error of
// FailWithErrorBlock.
void SetInitializeOutcomeForTesting(InitializeOutcome outcome, const Common::Error& error = Common::Error());

// The tag of the last Security_Initialize call.
uint64_t GetLastInitializeTagForTesting();

} // namespace SecurityStandIn
