// Reads arbitrary bytes as the text of a users file and checks that every
// parsed entry has a user that can log in and a non-empty hash of one line.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "service/user_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Service::UserTable users;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> warnings;
    if (!Service::ParseUsers(text, "fuzz", users, &warnings).IsSuccess())
        return 0;
    // A warning is one line, about one of the users read.
    if (warnings.size() > users.size())
        std::abort();
    for (const std::string& warning : warnings) {
        if (warning.find_first_of("\r\n") != std::string::npos)
            std::abort();
    }
    for (const auto& [user, hash] : users) {
        if (!Service::WhyUserNameIsUnusable(user).empty() || hash.empty() ||
            hash.find_first_of("\r\n") != std::string::npos)
            std::abort();
    }
    (void)Service::CheckPassword(users, "alice", "secret");
    return 0;
}
