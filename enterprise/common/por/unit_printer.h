// A diagnostic dump of a unit as an indented text tree on a narrow (UTF-8)
// stream: one line per unit ("<prefix><label><name> (<kind>) = <value>"), then
// its traits, then its properties or elements, two blanks deeper per level.
// A trait's value, with everything below it, stays on one line between "["
// and "]". Without newlines the whole dump is one line.
//
// Threading: the caller's thread; the unit is only read.
#pragma once

#include <ostream>
#include <string>

#include "enterprise/common/por/unit.h"

namespace Por::Util {

// The unit under the name "Root".
void PrintUnit(const View::Unit& unit, const std::string& prefix, std::ostream& stream, bool newlines);
void PrintNamedUnit(const View::Unit& unit, const std::u16string& name, const std::string& prefix,
                    const std::string& label, bool newlines, std::ostream& stream);

} // namespace Por::Util
