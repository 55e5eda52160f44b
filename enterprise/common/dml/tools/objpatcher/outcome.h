// The tool's report of a failure on standard output, and its exit status.
//
// A failed connection prints "Failed to connect:", a new line, the error text
// and a new line. A failed request prints "Failed to process request:", a new
// line, the error text and a new line twice: once before the error is traced
// at level 4 and once after. Success prints nothing.
//
// Threading: the main thread.
#pragma once

#include <ostream>

#include "platform/objrep/common_error.h"

namespace Objpatcher {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;

// Both return kExitFailure.
int ReportConnectionFailure(std::ostream& out, const Common::Error& error);
int ReportRequestFailure(std::ostream& out, const Common::Error& error);

} // namespace Objpatcher
