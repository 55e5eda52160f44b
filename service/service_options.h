// The command line of the service process objpatcher-service:
//
//   objpatcher-service [--listen ADDRESS] [--port PORT] [--port-file FILE] [--store STORE] USERS_FILE
//   objpatcher-service adduser USERS_FILE USER
//   objpatcher-service --help | -h
//
// The first form serves on ADDRESS (default 127.0.0.1) and PORT (default
// Ipc::kDefaultServicePort; 0 picks a free port), writing the port in use and
// a line feed to FILE once it listens, and serves the object store STORE
// (default: the local road's store, store_location.h). The second adds USER to USERS_FILE with
// the password read from the first line of standard input. The third prints
// the usage (kServiceUsage, which names these defaults) on standard output;
// --help or -h anywhere asks for it.
//
// Threading: pure functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Service {

inline constexpr const char* kServiceUsage =
    "Usage: objpatcher-service [--listen ADDRESS] [--port PORT] [--port-file FILE] [--store STORE] USERS_FILE\n"
    "       objpatcher-service adduser USERS_FILE USER   (password on standard input)\n"
    "       objpatcher-service --help\n"
    "\n"
    "Serves the object store to the users of USERS_FILE until SIGTERM or SIGINT, which\n"
    "stop it cleanly: it stops listening, lets the requests under way finish, closes\n"
    "every connection and exits with status 0.\n"
    "  --listen ADDRESS  the address to listen on (default 127.0.0.1)\n"
    "  --port PORT       the TCP port (default 47806; 0 picks a free one)\n"
    "  --port-file FILE  where to write the port in use once listening\n"
    "  --store STORE     the store file (default: the local road's store, objects.db in\n"
    "                    $OBJPATCHER_STORE_DIR if set, else in $XDG_STATE_HOME/objpatcher,\n"
    "                    else in ~/.local/state/objpatcher; missing folders are made 0700)\n"
    "adduser adds USER to USERS_FILE (made with mode 0600 when missing), or replaces the\n"
    "password of a USER already there, and says so; the password is the first line of\n"
    "standard input.\n";

struct ServiceOptions
{
    enum class Command
    {
        Serve,
        AddUser,
        Help,
    } command = Command::Serve;
    std::string address = "127.0.0.1";
    uint16_t port = 0;
    std::string portFile;
    std::string storePath; // empty: the local road's store
    std::string usersFile;
    std::string user;
};

// False (with `problem` set) for an unknown option, a missing value, a port
// that is not 0..65535, or a wrong number of operands.
bool ParseServiceOptions(const std::vector<std::string>& arguments, ServiceOptions& options, std::string& problem);

// The memory the replies of all sessions may hold at once
// (Ipc::ServerOptions::replyBudgetBytes) is kDefaultReplyBudgetMegabytes MiB,
// or what the environment variable kReplyBudgetVariable gives: whole MiB from
// 1 to 65536.
inline constexpr const char* kReplyBudgetVariable = "OBJPATCHER_REPLY_BUDGET_MB";
inline constexpr size_t kDefaultReplyBudgetMegabytes = 256;
inline constexpr size_t kMaxReplyBudgetMegabytes = 65536;

// The budget in bytes for a value of the variable (null: unset); anything but
// a whole number in range gives the default.
size_t ResolveReplyBudget(const char* value);

} // namespace Service
