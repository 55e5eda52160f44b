#include "service/service_options.h"

#include <charconv>
#include <cstring>

#include "platform/ipc/host_address.h"

namespace Service {

namespace {

bool ParsePortNumber(const std::string& text, uint16_t& port)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long value = std::stoul(text);
    if (value > 65535)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

} // namespace

bool ParseServiceOptions(const std::vector<std::string>& arguments, ServiceOptions& options, std::string& problem)
{
    ServiceOptions parsed;
    parsed.port = Ipc::kDefaultServicePort;
    for (const std::string& argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            parsed.command = ServiceOptions::Command::Help;
            options = parsed;
            return true;
        }
    }
    if (!arguments.empty() && arguments[0] == "adduser") {
        if (arguments.size() != 3) {
            problem = "adduser takes USERS_FILE and USER";
            return false;
        }
        parsed.command = ServiceOptions::Command::AddUser;
        parsed.usersFile = arguments[1];
        parsed.user = arguments[2];
        options = parsed;
        return true;
    }
    std::vector<std::string> operands;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool takesValue = argument == "--listen" || argument == "--port" || argument == "--port-file" ||
            argument == "--store";
        if (!takesValue) {
            if (argument.starts_with("--")) {
                problem = "unknown option " + argument;
                return false;
            }
            operands.push_back(argument);
            continue;
        }
        if (i + 1 == arguments.size()) {
            problem = argument + " needs a value";
            return false;
        }
        const std::string& value = arguments[++i];
        if (argument == "--listen") {
            parsed.address = value;
        } else if (argument == "--port-file") {
            parsed.portFile = value;
        } else if (argument == "--store") {
            parsed.storePath = value;
        } else if (!ParsePortNumber(value, parsed.port)) {
            problem = "the port must be a number from 0 to 65535";
            return false;
        }
    }
    if (operands.size() != 1) {
        problem = "one USERS_FILE is needed";
        return false;
    }
    parsed.usersFile = operands[0];
    options = parsed;
    return true;
}

size_t ResolveReplyBudget(const char* value)
{
    size_t megabytes = 0;
    const char* const end = value ? value + std::strlen(value) : nullptr;
    const bool whole = value && *value >= '0' && *value <= '9' && std::from_chars(value, end, megabytes).ptr == end &&
        megabytes >= 1 && megabytes <= kMaxReplyBudgetMegabytes;
    return (whole ? megabytes : kDefaultReplyBudgetMegabytes) << 20;
}

} // namespace Service
