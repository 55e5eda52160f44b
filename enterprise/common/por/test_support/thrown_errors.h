// The error a call throws, for tests: ErrorOf gives any Common::Error (a test
// failure when nothing is thrown); IsModuleError tells the class it was thrown as.
//
// Threading: the test's thread.
#pragma once

#include <gtest/gtest.h>

#include "enterprise/common/por/module_error.h"

namespace PorTesting {

struct Thrown
{
    Common::Error error;
    bool isModuleError = false;
};

template <typename Call>
Thrown ThrownBy(Call call)
{
    try {
        call();
    } catch (const Por::ModuleError& error) {
        return {error, true};
    } catch (const Common::Error& error) {
        return {error, false};
    }
    ADD_FAILURE() << "nothing was thrown";
    return {};
}

template <typename Call>
Common::Error ErrorOf(Call call)
{
    return ThrownBy(call).error;
}

} // namespace PorTesting
