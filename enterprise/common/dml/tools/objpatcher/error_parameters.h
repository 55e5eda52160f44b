// Named text parameters added to the first record of an error, so that the
// tool can say more about a failure without changing what it is: the new
// first record keeps the code, text, location, parameters and causes of the
// old one and answers the added parameters after its own (as wide texts).
//
// The new record holds a reference to the old first record and asks it for
// everything but the added parameters; its causes are the old record's causes.
// A success stays a success. When memory runs out, the error comes back
// unchanged.
//
// Threading: any thread; the error's records are shared and only read.
#pragma once

#include <initializer_list>
#include <string>

#include "platform/objrep/common_error.h"

namespace Objpatcher {

struct ErrorParameter
{
    const char* name; // static text without ','
    std::u16string value;
};

inline constexpr size_t kMaxAddedParameters = 2;

// At most kMaxAddedParameters parameters; later ones are left out.
Common::Error AddErrorParameters(const Common::Error& error, std::initializer_list<ErrorParameter> parameters);

} // namespace Objpatcher
