// Error codes of the security client (facility 0x274) and the catalogue keys
// of their messages.
//
// Threading: constant data.
#pragma once

namespace SecurityErrors {

// The security core failed without an error that can be read.
inline constexpr unsigned kInvalidOperationResult = 0x2740004;

inline constexpr unsigned kInvalidOperationResultText =
    638; // "An invalid operation result is returned from security core."

} // namespace SecurityErrors
