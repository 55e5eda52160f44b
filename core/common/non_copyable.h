// Common::NonCopyable: the base of classes that must never be copied or
// assigned (derive privately or publicly; it adds no data).
//
// Threading: no state.
#pragma once

namespace Common {

class NonCopyable
{
public:
    NonCopyable(const NonCopyable&) = delete;
    NonCopyable& operator=(const NonCopyable&) = delete;

protected:
    constexpr NonCopyable() = default;
    ~NonCopyable() = default;
};

} // namespace Common
