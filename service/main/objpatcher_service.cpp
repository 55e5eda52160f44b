// objpatcher-service: the service process of the remote road. Serves the
// service core over its object store to authenticated users over TCP until SIGTERM or SIGINT,
// or adds a user to a users file (see service/service_options.h).

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
#include "service/service_core.h"
#include "service/service_options.h"
#include "service/store_location.h"
#include "service/user_file.h"

namespace {

int Fail(const Common::Error& error)
{
    std::cerr << "objpatcher-service: " << Common::ErrorToUtf8Text(error) << std::endl;
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

int Serve(const Service::ServiceOptions& options)
{
    // Stop requests are taken by sigwait below; every thread started later inherits the mask.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);

    Service::UserTable users;
    Common::Error error = Service::LoadUsers(options.usersFile, users);
    if (!error.IsSuccess())
        return Fail(error);
    std::unique_ptr<Service::Store> store;
    error = options.storePath.empty() ? Service::OpenLocalStore(store) : Service::Store::Open(options.storePath, store);
    if (!error.IsSuccess())
        return Fail(error);
    Service::ServiceCore core(std::move(store));
    std::unique_ptr<Ipc::Server> server;
    error = Ipc::Server::Start(
        Ipc::ServerOptions{options.address, options.port},
        [&users](const Ipc::HelloRecord& hello) { return Service::CheckPassword(users, hello.user, hello.password); },
        core, server);
    if (!error.IsSuccess())
        return Fail(error);
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
    return options.command == Service::ServiceOptions::Command::AddUser ? AddUser(options) : Serve(options);
}
