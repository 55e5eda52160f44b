// The tool's input: the POR text of a file or of the command line, parsed by
// the text notation reader, which echoes "Interpret trace: " and the
// statements it reads to standard output.
//
// Threading: the main thread.
#pragma once

#include <memory>

#include "enterprise/common/dml/tools/objpatcher/command_line.h"
#include "enterprise/common/por/unit_factory.h"

namespace Objpatcher {

// The parsed unit, built by `factory`. Errors of the file read and of the
// parse are thrown; a text that closes no unit (empty, or a unit without its
// End) throws 0xFA000B saying that the input ends before its unit is complete,
// with the statements read and the units still open (the commands need an
// object).
std::shared_ptr<Por::Construction::Unit> ReadInput(const InputChoice& input,
                                                   const Por::Construction::UnitFactory& factory);

} // namespace Objpatcher
