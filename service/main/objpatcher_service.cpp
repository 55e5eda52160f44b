// objpatcher-service: the service process of the remote road. Serves the
// service core over its object store to authenticated users over TCP until
// SIGTERM or SIGINT, or adds a user to a users file (see
// service/service_options.h). Its diagnostics on standard error are bounded
// (service/process_log.h).

#include <fcntl.h>
#include <signal.h>
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

bool WritePortFile(const std::string& path, uint16_t port)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const std::string text = std::to_string(port) + "\n";
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return Common::SafeClose(fd) == 0 && written;
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

    Service::UserTable users;
    Common::Error error = Service::LoadUsers(options.usersFile, users);
    if (!error.IsSuccess())
        return Fail(error);

    // Stop requests are taken by sigwait below; every thread started later inherits the mask.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);

    std::string storePath = options.storePath;
    if (storePath.empty()) {
        error = Service::GetLocalStorePath(storePath);
        if (!error.IsSuccess())
            return Fail(error);
    }
    std::unique_ptr<Service::Store> store;
    error = Service::Store::Open(storePath, store);
    if (!error.IsSuccess())
        return Fail(error, "cannot open the store " + storePath);
    Service::ServiceCore core(std::move(store));

    static Service::RefusedLoginLog refusedLogins;
    Ipc::ServerOptions serverOptions{options.address, options.port};
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
    if (!options.portFile.empty() && !WritePortFile(options.portFile, server->GetPort())) {
        std::cerr << "objpatcher-service: cannot write the port to " << options.portFile << ": " << std::strerror(errno)
                  << std::endl;
        return 1;
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
    const Common::Error error = Service::AddUser(options.usersFile, options.user, password);
    password.assign(password.size(), '\0');
    return error.IsSuccess() ? 0 : Fail(error);
}

} // namespace

int main(int argc, char** argv)
{
    signal(SIGPIPE, SIG_IGN); // a reader that went away shows as a write error instead
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
