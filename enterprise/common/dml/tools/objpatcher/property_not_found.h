// The tool's missing-property error: 0xFA000D with catalogue message 348
// "POR: Property '{0}' cannot be found.", a trace-level record (level 1) at the
// given location, whose parameters "TraceLevel,$module,reason" end with a
// text the user can act on.
//
// An input that lacks both of two alternative properties ("Pattern" or "ID",
// "Diff" or "State") fills the placeholder with the name looked for last ("ID"
// at "GetViewSpec" 253, "State" at "GetUpdateProcessor" 273), and its reason
// names both. An unknown command word fills it with the word, and its reason
// says the command is unknown and names create, update and delete.
//
// Threading: any thread.
#pragma once

#include <string>

#include "core/common/location.h"
#include "platform/objrep/common_error.h"

namespace Objpatcher {

// Neither `first` nor `second` was found (looked for in that order).
Common::Error MakeMissingAlternativesError(const Common::Location& location, const char16_t* first,
                                           const char16_t* second);
// At "main" 326.
Common::Error MakeUnknownCommandError(const std::u16string& command);

} // namespace Objpatcher
