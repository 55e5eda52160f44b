// Drives a UnitBuilder from a short script, for tests and fuzzing of unit
// building. Tokens, separated by spaces:
//   N  Nil            b0 b1  Boolean          B<n> Byte <n>     W<n> Word <n>
//   D<n> DWord <n>    Q<n> SQWord <n>         F<n> Double <n>   S<text> String
//   A  Array          C  Composite            P<name> Property  T<name> Trait
//   E  End
//
// Threading: none.
#pragma once

#include <sstream>
#include <stdexcept>
#include <string>

#include "enterprise/common/por/unit_builder.h"

namespace PorTesting {

inline void RunScript(Por::Util::UnitBuilder& builder, const std::string& script)
{
    std::istringstream tokens(script);
    std::string token;
    while (tokens >> token) {
        const std::string rest = token.substr(1);
        switch (token[0]) {
        case 'N':
            builder.Nil();
            break;
        case 'b':
            builder.Boolean(rest == "1");
            break;
        case 'B':
            builder.Byte(static_cast<unsigned char>(std::stoul(rest)));
            break;
        case 'W':
            builder.Word(static_cast<unsigned short>(std::stoul(rest)));
            break;
        case 'D':
            builder.DWord(static_cast<unsigned int>(std::stoul(rest)));
            break;
        case 'Q':
            builder.SQWord(std::stoll(rest));
            break;
        case 'F':
            builder.Double(std::stod(rest));
            break;
        case 'S':
            builder.String(std::u16string(rest.begin(), rest.end()));
            break;
        case 'A':
            builder.Array();
            break;
        case 'C':
            builder.Composite();
            break;
        case 'P':
            builder.Property(Por::Name(rest));
            break;
        case 'T':
            builder.Trait(Por::Name(rest));
            break;
        case 'E':
            builder.End();
            break;
        default:
            throw std::invalid_argument("unknown script token " + token);
        }
    }
}

} // namespace PorTesting
