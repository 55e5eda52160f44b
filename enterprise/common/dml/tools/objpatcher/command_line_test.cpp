// The tool's command line: usage text, service words, roads and the choice of
// the input.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "enterprise/common/dml/tools/objpatcher/command_line.h"

namespace {

using namespace Objpatcher;

TEST(Usage, IsPrintedByteForByteAndEndsWithAnEmptyLine)
{
    std::ostringstream out;
    PrintUsage(out);
    EXPECT_EQ(out.str(),
              "Usage: objpatcher <hostname> <user> <password> <service> <command> <command_args>\n"
              "Where: <service> - HUB | VLT | AGT | DML\n"
              "       <command> - create | update | delete\n"
              "       <command_args> - path/to/file/with/por\n"
              "                      | from_text <por>\n"
              "Notes: command_args - por that contains update data in this form:\n"
              "         For create: ('State').\n"
              "         For update: (composite of two properties: 'ID'|'Pattern' and 'Diff'|'State').\n"
              "         For delete: ('Pattern').\n"
              "\n");
}

TEST(ServiceCode, WordsAreUpperCasedInPlaceThenLookedUp)
{
    struct Case
    {
        std::string word;
        std::string upper;
        int code;
    };
    const std::vector<Case> cases = {
        {"AGT", "AGT", 35},         {"vlt", "VLT", 34},       {"dml", "DML", 46}, {"Tlib", "TLIB", 45},
        {"HUB", "HUB", 33},         {"hub", "HUB", 33},       {"", "", 33},       {"DMLX", "DMLX", 33},
        {"d-ml", "D-ML", 33},       {"\xe9gt", "\xe9GT", 33}, // a high byte is left alone, not folded or sign-extended
        {"agt\xff", "AGT\xff", 33},
    };
    for (const Case& c : cases) {
        std::string word = c.word;
        EXPECT_EQ(GetServiceCode(word), c.code) << c.word;
        EXPECT_EQ(word, c.upper) << c.word;
    }
}

TEST(Road, LocalForTheLocalDataLayerOrExactlyTheLocalHostName)
{
    struct Case
    {
        int code;
        const char* host;
        bool local;
    };
    const std::vector<Case> cases = {
        {46, "server.example", true}, {46, "", true},
        {33, "localhost", true},      {34, "localhost", true},
        {33, "LOCALHOST", false},     {33, "localhost.", false},
        {33, "127.0.0.1", false},     {33, "localhost:47806", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsLocalRoad(c.code, c.host), c.local) << c.code << " " << c.host;
}

TEST(Input, FromTextNeedsASeventhArgumentElseItIsAFileName)
{
    struct Case
    {
        std::vector<const char*> arguments; // after the first five
        bool isText;
        std::string value;
    };
    const std::vector<Case> cases = {
        {{"from_text"}, false, "from_text"},
        {{"from_text", ".Nil()"}, true, ".Nil()"},
        {{"from_text", ".Nil()", "ignored"}, true, ".Nil()"},
        {{"from_text", ""}, true, ""},
        {{"object.por"}, false, "object.por"},
        {{"object.por", ".Nil()"}, false, "object.por"},
        {{"FROM_TEXT", ".Nil()"}, false, "FROM_TEXT"},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv = {"objpatcher", "host", "user", "password", "HUB", "create"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        const InputChoice choice = ChooseInput(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(choice.isText, c.isText) << argv.size();
        EXPECT_EQ(std::string(choice.value), c.value) << argv.size();
    }
}

} // namespace
