// Testing::ScopedEnvironmentVariable: sets or unsets one environment variable
// while it lives, then puts back what was there before: the old value, or no
// variable at all.
//
//     Testing::ScopedEnvironmentVariable policy("QUORVAN_SAFE_ASSERT", "log");
//     Testing::ScopedEnvironmentVariable home("HOME", Testing::kUnset);
//     home.Set("/home/someone"); // changed again; still put back at the end
//
// A death test's child that re-runs the test body sets the variable again
// itself, so the scoped variable serves both processes.
//
// A variable that cannot be set (a name with '=', no memory) throws
// std::system_error.
//
// Threading: the environment is the process's: use it on the test's thread
// while no other thread reads the environment.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

namespace Testing {

// The value that unsets the variable.
inline constexpr const char* kUnset = nullptr;

class ScopedEnvironmentVariable
{
public:
    ScopedEnvironmentVariable(std::string name, const char* value) : m_name(std::move(name))
    {
        if (const char* previous = std::getenv(m_name.c_str()))
            m_previous = previous;
        Set(value);
    }

    ~ScopedEnvironmentVariable()
    {
        if (m_previous)
            (void)setenv(m_name.c_str(), m_previous->c_str(), 1); // it held this value before
        else
            (void)unsetenv(m_name.c_str());
    }

    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

    // Sets the variable to `value`, or unsets it for kUnset.
    void Set(const char* value)
    {
        const int result = value ? setenv(m_name.c_str(), value, 1) : unsetenv(m_name.c_str());
        if (result != 0)
            throw std::system_error(errno, std::generic_category(), "cannot set the environment variable " + m_name);
    }

private:
    std::string m_name;
    std::optional<std::string> m_previous;
};

} // namespace Testing
