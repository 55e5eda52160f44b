// Starting the security client before the first connection.
//
// Threading: called once, first of all, on the main thread; the security core
// is never shut down.
#pragma once

#include "platform/objrep/common_error.h"

namespace Security {

// Starts the security core with the LineTag of `caller`. Success, or why the
// core did not start (MakeSecurityCoreError at "Initialize" line 34).
Common::Error Initialize(const Common::Location& caller);

// The security core's last error: the error decoded from its error block, or
// kInvalidOperationResult located at `location` when it gives no block or one
// from which no record can be read. The block is freed exactly once.
Common::Error MakeSecurityCoreError(const Common::Location& location);

} // namespace Security
