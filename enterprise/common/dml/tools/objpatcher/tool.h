// The tool's whole run: usage, security start-up, input, connection, the
// command and the report of its outcome on `out` (the notation reader's trace
// goes to standard output). Returns the exit status: 0 for the usage text and
// for success, 1 for a failed connection or request.
//
// Objects are released in reverse order of creation on every path: command
// word, store, registry, post office, access point, connection, input,
// factory. No shut-down call goes to the IPC library or the security core.
//
// Threading: the main thread, which blocks while the command runs on the IPC
// library's threads.
#pragma once

#include <ostream>

namespace Objpatcher {

int RunTool(int argc, const char* const* argv, std::ostream& out);

} // namespace Objpatcher
