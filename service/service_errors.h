// Error codes of the stand-in DML service (facility 0xFC) and the catalogue
// keys of their messages.
//
// Threading: constant data.
#pragma once

namespace ServiceErrors {

inline constexpr unsigned kPatchDoesNotFit = 0xFC0F00;

inline constexpr unsigned kPatchDoesNotFitText = 648; // "The patch does not fit the object: {0}."

} // namespace ServiceErrors
