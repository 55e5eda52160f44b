// Por::ModuleError: the exception class of the object model's own checks, and
// the one maker of the object model's located errors.
//
// A ModuleError is a Common::Error with the same record chain; it adds no field
// and no virtual operation and is caught as Common::Error. Each operation says
// whether it throws a ModuleError or a plain Common::Error.
//
// MakePorError builds the error of a check: the catalogue message `messageKey`
// with its placeholders filled from `arguments` (a message without arguments is
// held by reference to the catalogue), the location, and the record kind: the
// trace-level kind at level 1 (the object model's usual kind) or the plain
// UTF-16 text kind. A record that cannot be allocated gives the out-of-memory
// record; making the error never throws anything but std::bad_alloc of the
// message formatting.
//
// Threading: free functions without state.
#pragma once

#include <initializer_list>
#include <string>

#include "core/common/error.h"

namespace Por {

class ModuleError : public Common::Error
{
public:
    explicit ModuleError(const Common::Error& error) noexcept : Common::Error(error) {}
};

static_assert(sizeof(ModuleError) == sizeof(Common::Error), "ModuleError adds no field");

enum class RecordKind
{
    TraceLevel, // "TraceLevel,$module", level 1
    WideText,   // "$module"
};

Common::Error MakePorError(unsigned code, unsigned messageKey, Common::Location location,
                           std::initializer_list<std::u16string> arguments = {},
                           RecordKind kind = RecordKind::TraceLevel);

// Throws MakePorError(...) as a Por::ModuleError.
[[noreturn]] void ThrowModuleError(unsigned code, unsigned messageKey, Common::Location location,
                                   std::initializer_list<std::u16string> arguments = {},
                                   RecordKind kind = RecordKind::TraceLevel);

} // namespace Por
