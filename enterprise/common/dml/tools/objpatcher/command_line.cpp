#include "enterprise/common/dml/tools/objpatcher/command_line.h"

#include <cstring>
#include <sstream>

namespace Objpatcher {

std::string UsageText()
{
    std::ostringstream text;
    text << "Usage: objpatcher <hostname> <user> <password> <service> <command> <command_args>\n"
         << "Where: <service> - HUB | VLT | AGT | DML\n"
         << "       <command> - create | update | delete\n"
         << "       <command_args> - path/to/file/with/por\n"
         << "                      | from_text <por>\n"
         << "Notes: command_args - por that contains update data in this form:\n"
         << "         For create: ('State').\n"
         << "         For update: (composite of two properties: 'ID'|'Pattern' and 'Diff'|'State').\n"
         << "         For delete: ('Pattern').\n";
    return text.str();
}

void PrintUsage(std::ostream& out)
{
    out << UsageText() << std::endl;
}

int GetServiceCode(std::string& word)
{
    for (char& byte : word) {
        const unsigned char value = static_cast<unsigned char>(byte);
        if (value >= 'a' && value <= 'z')
            byte = static_cast<char>(value - 'a' + 'A');
    }
    if (word == "AGT")
        return kServiceAgent;
    if (word == "VLT")
        return kServiceVault;
    if (word == "DML")
        return kServiceLocalDml;
    if (word == "TLIB")
        return kServiceTapeLibrary;
    return kServiceHub;
}

bool IsLocalRoad(int serviceCode, const std::string& host)
{
    return serviceCode == kServiceLocalDml || host == kLocalHostName;
}

InputChoice ChooseInput(int argc, const char* const* argv)
{
    const char* sixth = argv[kMinimumArguments];
    if (argc > kMinimumArguments + 1 && std::strcmp(sixth, "from_text") == 0)
        return {true, argv[kMinimumArguments + 1]};
    return {false, sixth};
}

} // namespace Objpatcher
