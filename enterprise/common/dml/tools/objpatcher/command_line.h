// The tool's command line: the usage text, the service code of the service
// word, the road to the service and where the POR input comes from.
//
//     objpatcher <hostname> <user> <password> <service> <command> <command_args>
//
// Threading: free functions without state.
#pragma once

#include <ostream>
#include <string>

namespace Objpatcher {

// Fewer arguments after the program name print the usage text.
inline constexpr int kMinimumArguments = 6;

// The nine lines of the usage text, each ending with a new line.
std::string UsageText();
// The usage text and one more new line, so the output ends with an empty line.
void PrintUsage(std::ostream& out);

// Service codes of the connection.
inline constexpr int kServiceHub = 33;
inline constexpr int kServiceVault = 34;
inline constexpr int kServiceAgent = 35;
inline constexpr int kServiceTapeLibrary = 45;
inline constexpr int kServiceLocalDml = 46;

// Upper-cases `word` in place, byte by byte in the "C" locale (every byte
// taken as unsigned), and gives its code: "AGT" 35, "VLT" 34, "DML" 46,
// "TLIB" 45; any other word 33.
int GetServiceCode(std::string& word);

// The standard name of the local host, compared byte for byte.
inline constexpr const char* kLocalHostName = "localhost";

// The local road serves the local data layer and the local host; every other
// host is reached remotely with user and password.
bool IsLocalRoad(int serviceCode, const std::string& host);

// Where the POR text comes from.
struct InputChoice
{
    bool isText;       // the text itself, else a file path
    const char* value; // the text or the path, as given (UTF-8)
};

// Exactly six arguments: the sixth is a file path, even when it reads
// "from_text". More: a sixth argument "from_text" selects the seventh as the
// text (later ones are ignored); any other sixth argument is a file path.
// `argc` counts the program name; it is at least kMinimumArguments + 1.
InputChoice ChooseInput(int argc, const char* const* argv);

} // namespace Objpatcher
