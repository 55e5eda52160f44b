// Error codes of the stand-in DML service (facility 0xFC) and the catalogue
// keys of their messages.
//
// Threading: constant data; the makers may be called from any thread.
#pragma once

#include <string>

#include "core/common/error.h"

namespace ServiceErrors {

inline constexpr unsigned kPatchDoesNotFit = 0xFC0F00;
inline constexpr unsigned kRequestRefused = 0xFC0F01; // a request the service cannot serve, with the reason
// An object without a key (the DML layer's own code and text).
inline constexpr unsigned kObjectKeyNotFound = 0xFC000A;

inline constexpr unsigned kPatchDoesNotFitText = 648;   // "The patch does not fit the object: {0}."
inline constexpr unsigned kRequestRefusedText = 670;    // "DML service: The request cannot be served: {0}."
inline constexpr unsigned kObjectKeyNotFoundText = 237; // "DML: Object identification cannot be found."

// The error of `code` whose catalogue message `messageKey` has its "{0}"
// filled with `reason` (UTF-8).
Common::Error MakeReasonError(unsigned code, unsigned messageKey, const std::string& reason, Common::Location location);

} // namespace ServiceErrors
