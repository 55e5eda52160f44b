// objpatcher-service: the service process of the remote road. Serves the
// service core over its object store to authenticated users over TCP until
// SIGTERM or SIGINT, or adds a user to a users file (see
// service/service_options.h). Its diagnostics on standard error are bounded
// (service/process_log.h).

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/common/error_text.h"
#include "core/common/safe_close.h"
#include "platform/ipc/server.h"
#include "service/process_log.h"
#include "service/service_core.h"
#include "service/service_options.h"
#include "service/store_location.h"
#include "service/user_file.h"

namespace {

int Fail(const Common::Error& error, const std::string& what = {})
{
    std::cerr << "objpatcher-service: " << (what.empty() ? "" : what + ":\n") << Common::ErrorToUtf8Text(error)
              << std::endl;
    return 1;
}

// Writes the port and a line feed to `path` without following a link there:
// into a new file of a temporary name beside it, then renamed over it, so
// that the path never holds a part of the text. Empty on success; else what
// failed, with its reason. No temporary file is left behind.
std::string WritePortFile(const std::string& path, uint16_t port)
{
    std::string temporary = path + ".XXXXXX";
    // Made exclusively (O_CREAT | O_EXCL: never through a link), mode 0600.
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return std::string("cannot create a file beside it: ") + std::strerror(errno);
    const std::string text = std::to_string(port) + "\n";
    std::string failure;
    if (fchmod(fd, 0644) < 0) // it holds only a port
        failure = std::string("cannot set the mode of ") + temporary + ": " + std::strerror(errno);
    else if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        failure = std::string("cannot write ") + temporary + ": " + std::strerror(errno);
    if (Common::SafeClose(fd) < 0 && failure.empty())
        failure = std::string("cannot close ") + temporary + ": " + std::strerror(errno);
    if (failure.empty() && rename(temporary.c_str(), path.c_str()) < 0)
        failure = std::string("cannot rename ") + temporary + " to it: " + std::strerror(errno);
    if (!failure.empty())
        (void)unlink(temporary.c_str()); // what it fails with was said above
    return failure;
}

// "127.0.0.1:47806", "[::1]:47806".
std::string AddressText(const std::string& address, uint16_t port)
{
    const bool v6 = address.find(':') != std::string::npos;
    return (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

int Serve(const Service::ServiceOptions& options)
{
    // Before any thread, and before anything could fail a check.
    static Service::AssertionDigest digest;
    Service::AssertionDigest::Install(digest);

    // Until the server's threads start, a stop request ends the process at
    // once (their default action), whatever it is doing: reading the users,
    // waiting for the store's lock file, opening the store. A parent may have
    // left them ignored or blocked; neither holds here.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);

    Service::UserTable users;
    std::vector<std::string> warnings;
    Common::Error error = Service::LoadUsers(options.usersFile, users, &warnings);
    if (!error.IsSuccess())
        return Fail(error);
    for (const std::string& warning : warnings)
        std::cerr << "objpatcher-service: warning: " << warning << std::endl;

    std::string storePath = options.storePath;
    if (storePath.empty()) {
        error = Service::GetLocalStorePath(storePath);
        if (!error.IsSuccess())
            return Fail(error);
    }
    Service::StoreOpenOptions storeOptions;
    storeOptions.lockWait = Service::LockWaitFromEnvironment();
    storeOptions.notice = [](const std::string& line) { std::cerr << "objpatcher-service: " << line << std::endl; };
    std::unique_ptr<Service::Store> store;
    error = Service::Store::Open(storePath, storeOptions, store);
    if (!error.IsSuccess())
        return Fail(error, "cannot open the store " + storePath);
    Service::ServiceCore core(std::move(store));

    // From here stop requests are taken by sigwait below, so that the server
    // stops cleanly and the port file is written whole; every thread started
    // later inherits the mask. One that came meanwhile waits for sigwait.
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);

    static Service::RefusedLoginLog refusedLogins;
    Ipc::ServerOptions serverOptions{options.address, options.port};
    serverOptions.replyBudgetBytes = Service::ResolveReplyBudget(std::getenv(Service::kReplyBudgetVariable));
    // Unknown names wait for their checks as one user, so made-up names cannot crowd out known ones.
    serverOptions.isKnownUser = [&users](const std::string& user) { return users.count(user) != 0; };
    serverOptions.loginRefused = [](const std::string& user, const std::string& peer) {
        refusedLogins.Report(user, peer);
    };
    serverOptions.loginBusy = [](const std::string& user, const std::string& peer) {
        refusedLogins.ReportBusy(user, peer);
    };
    serverOptions.loginOverSessionLimit = [limit = serverOptions.maxSessionsPerUser](const std::string& user,
                                                                                     const std::string& peer) {
        refusedLogins.ReportSessionLimit(user, peer, limit);
    };
    std::unique_ptr<Ipc::Server> server;
    error = Ipc::Server::Start(
        serverOptions,
        [&users](const Ipc::HelloRecord& hello) { return Service::CheckPassword(users, hello.user, hello.password); },
        core, server);
    if (!error.IsSuccess())
        return Fail(error, "cannot listen on " + AddressText(options.address, options.port));
    std::cerr << "objpatcher-service: listening on " << AddressText(options.address, server->GetPort())
              << ", serving the store " << storePath << std::endl;
    if (!Ipc::IsLoopbackAddress(options.address))
        std::cerr << "objpatcher-service: warning: " << options.address
                  << " is not a loopback address; the traffic, passwords included, is not encrypted. "
                     "Reach a remote service through an SSH tunnel to its loopback port instead."
                  << std::endl;
    // Last: whoever waits for the port file finds the lines above written.
    if (!options.portFile.empty()) {
        const std::string failure = WritePortFile(options.portFile, server->GetPort());
        if (!failure.empty()) {
            std::cerr << "objpatcher-service: cannot write the port to " << options.portFile << ": " << failure
                      << std::endl;
            return 1;
        }
    }
    int received = 0;
    while (sigwait(&stops, &received) != 0) {}
    server->Stop();
    return 0;
}

int AddUser(const Service::ServiceOptions& options)
{
    std::string password;
    if (!std::getline(std::cin, password)) {
        std::cerr << "objpatcher-service: no password on standard input" << std::endl;
        return 1;
    }
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    bool replaced = false;
    const Common::Error error = Service::AddUser(options.usersFile, options.user, password, &replaced);
    password.assign(password.size(), '\0');
    if (!error.IsSuccess())
        return Fail(error);
    if (replaced)
        std::cerr << "objpatcher-service: replaced the password of user " << options.user << " in " << options.usersFile
                  << std::endl;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    signal(SIGPIPE, SIG_IGN); // a reader that went away shows as a write error instead
    // Requests, replies and large values come and go in blocks of megabytes,
    // on many threads. Blocks from 1 MiB on get pages of their own, given back
    // to the system as soon as they are freed; left to itself, the allocator
    // raises that bound to the largest block freed so far, and blocks below
    // it stay in the heaps of the threads that used them after the burst is
    // over.
    (void)mallopt(M_MMAP_THRESHOLD, 1 << 20);
    Service::ServiceOptions options;
    std::string problem;
    if (!Service::ParseServiceOptions(std::vector<std::string>(argv + 1, argv + argc), options, problem)) {
        std::cerr << "objpatcher-service: " << problem << "\n" << Service::kServiceUsage;
        return 2;
    }
    switch (options.command) {
    case Service::ServiceOptions::Command::Help:
        std::cout << Service::kServiceUsage << std::flush;
        return 0;
    case Service::ServiceOptions::Command::AddUser:
        return AddUser(options);
    case Service::ServiceOptions::Command::Serve:
        break;
    }
    return Serve(options);
}
