// The tool's missing-property error: 0xFA000D with catalogue message 348
// "POR: Property '{0}' cannot be found.", a trace-level record (level 1,
// parameters "TraceLevel,$module") at the given location.
//
// The placeholder holds the name that was looked for last ("ID" for a view
// without "Pattern" and "ID", "State" for an update without "Diff" and
// "State"); without a name (an unrecognised command) the text stays as the
// catalogue has it, held by reference to the active catalogue.
//
// Threading: any thread.
#pragma once

#include "core/common/location.h"
#include "platform/objrep/common_error.h"

namespace Objpatcher {

Common::Error MakePropertyNotFoundError(const Common::Location& location, const char16_t* name = nullptr);

} // namespace Objpatcher
