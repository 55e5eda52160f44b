// Conversions between the file layer's times (signed 64-bit milliseconds
// since 1970-01-01 UTC) and the system's timeval/timespec. Milliseconds to
// system times use floor division, so a time before 1970 gives a negative
// second count with 0 <= microseconds < 1,000,000 (a valid value for the
// system calls). System times to milliseconds: seconds * 1000 plus
// nanoseconds / 1,000,000, saturated at the limits of the 64-bit range.
//
// Threading: pure functions.
#pragma once

#include <sys/time.h>

#include <cstdint>
#include <ctime>
#include <limits>

namespace FileTime {

// Floor division and its non-negative remainder.
constexpr int64_t FloorDiv(int64_t value, int64_t divisor)
{
    int64_t quotient = value / divisor;
    if (value % divisor < 0)
        --quotient;
    return quotient;
}

constexpr int64_t FloorMod(int64_t value, int64_t divisor)
{
    int64_t remainder = value % divisor;
    return remainder < 0 ? remainder + divisor : remainder;
}

inline timeval MillisecondsToTimeval(int64_t milliseconds)
{
    timeval result{};
    result.tv_sec = static_cast<time_t>(FloorDiv(milliseconds, 1000));
    result.tv_usec = static_cast<suseconds_t>(FloorMod(milliseconds, 1000) * 1000);
    return result;
}

inline timespec MillisecondsToTimespec(int64_t milliseconds)
{
    timespec result{};
    result.tv_sec = static_cast<time_t>(FloorDiv(milliseconds, 1000));
    result.tv_nsec = static_cast<long>(FloorMod(milliseconds, 1000) * 1000000);
    return result;
}

constexpr int64_t SecondsAndNanosecondsToMilliseconds(int64_t seconds, int64_t nanoseconds)
{
    int64_t milliseconds = 0;
    if (__builtin_mul_overflow(seconds, int64_t{1000}, &milliseconds))
        return seconds < 0 ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
    int64_t result = 0;
    if (__builtin_add_overflow(milliseconds, nanoseconds / 1000000, &result))
        return nanoseconds < 0 ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
    return result;
}

inline int64_t TimespecToMilliseconds(const timespec& time)
{
    return SecondsAndNanosecondsToMilliseconds(time.tv_sec, time.tv_nsec);
}

inline int64_t TimevalToMilliseconds(const timeval& time)
{
    return SecondsAndNanosecondsToMilliseconds(time.tv_sec, static_cast<int64_t>(time.tv_usec) * 1000);
}

} // namespace FileTime
