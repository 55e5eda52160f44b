// Error codes of component information (facility 0xB9).
//
// Threading: constant data.
#pragma once

namespace ComponentInfoErrors {

// A method index outside the interface's methods; raised without text.
inline constexpr unsigned kInvalidMethodIndex = 0xB9000C;

} // namespace ComponentInfoErrors
