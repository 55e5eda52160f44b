// Error codes the tool raises of its own (facility 0xFC, numbers 0x02xx) and
// the catalogue keys of the tool's texts. The tool's other failures carry the
// codes of the object model (por_errors.h).
//
// Threading: constant data.
#pragma once

namespace ToolErrors {

// An "update" whose view delivered as many objects as its limit: every one was
// updated, yet more may match.
inline constexpr unsigned kViewFull = 0xFC0201;

// Catalogue keys of the texts.
// "DML: The view was full at its limit of {0} objects: {1} objects were updated, and more objects may match."
inline constexpr unsigned kViewFullText = 655;
// "POR: The input ends before its unit is complete (statements read: {0}; units without their .End(): {1})."
inline constexpr unsigned kIncompleteInputText = 656;
// "The command '{0}' is unknown: the commands are create, update and delete."
inline constexpr unsigned kUnknownCommandText = 657;
// "The input holds neither '{0}' nor '{1}': the command needs one of them."
inline constexpr unsigned kMissingAlternativesText = 658;

} // namespace ToolErrors
