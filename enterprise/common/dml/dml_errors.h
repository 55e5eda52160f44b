// Error codes of the DML layer (facility 0xFC) and the catalogue keys of their
// messages.
//
// Threading: constant data.
#pragma once

namespace Dml {

inline constexpr unsigned DML_ERROR_CALLBACK = 0xFC0001;      // a callback failed (texts are literals)
inline constexpr unsigned DML_ERROR_NO_OBJECT_KEY = 0xFC000A; // no "PrimaryKey" in an object
inline constexpr unsigned DML_ERROR_IMPROPER_USE = 0xFC0031;  // a service of a holder is missing

// Catalogue keys of the messages.
inline constexpr unsigned kProcessObjectByIdJobText = 69; // "DML process object by ID job."
inline constexpr unsigned kNoObjectKeyText = 237;         // "DML: Object identification cannot be found."
inline constexpr unsigned kImproperUseText = 267;         // "DML: Unproper use. Missing {0}."

} // namespace Dml
