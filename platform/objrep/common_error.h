// The error value class `Common::Error`, as the object-representation library
// defines it: two machine words, the virtual-table pointer and a pointer to the
// first record of a reference-counted chain. Its only virtual operation is
// DummyVirtualMethod, defined out of line in this library alone, so the class's
// virtual table and type information (used to throw and catch) live here.
// The operations other than DummyVirtualMethod are built by the core runtime
// (core/common/error.h documents them).
//
// Threading: one value must not be changed by two threads at once; the record
// chains behind values are shared freely (their counts are atomic).
#pragma once

#include <cstdint>
#include <string>

namespace Common {

// Where an error was raised. All fields zero/null stands for no location.
struct Location
{
    uint64_t LineTag;     // per-file base + line, modulo 2^64
    const char* file;     // source path without extension, static text
    const char* function; // static text
    uint32_t line;
};

struct ErrorRecord;

class [[nodiscard]] Error
{
public:
    // Success: no record.
    constexpr Error() noexcept : m_record(nullptr) {}
    Error(unsigned code, Location location) noexcept;
    Error(unsigned code, const char* text, Location location) noexcept;
    Error(unsigned code, const char16_t* text, Location location) noexcept;
    // Holds `record` (may be null) and takes one reference to it.
    explicit Error(ErrorRecord* record) noexcept;

    Error(const Error& other) noexcept;
    Error(Error&& other) noexcept : m_record(other.m_record) { other.m_record = nullptr; }
    Error& operator=(const Error& other) noexcept;
    Error& operator=(Error&& other) noexcept;
    ~Error();

    virtual void DummyVirtualMethod();

    // Readers. A value without a record reads as code 0, empty text, no cause.
    const ErrorRecord* GetRecord() const noexcept { return m_record; }
    unsigned GetCode() const noexcept;
    bool IsSuccess() const noexcept { return GetCode() == 0; }
    std::u16string GetText() const;
    Error GetCause() const noexcept;
    Location GetLocation() const noexcept;
    uint64_t GetIntegerParameter(const char* name) const noexcept;
    const char* GetTextParameter(const char* name) const noexcept;
    const char16_t* GetWideTextParameter(const char* name) const noexcept;
    const char* GetParameterNames() const noexcept;

    // Chains `cause` (its whole chain) behind the first record, replacing the
    // previous causes. A shared first record is cloned first so that other
    // holders keep their chain; a failed clone leaves the value unchanged.
    // A value without a record takes the cause's chain as its own. A success
    // cause adds nothing.
    Error& AddCause(const Error& cause) noexcept;
    // Adds a POSIX cause (code 0xFFF1, "code" = errno) by the rule of AddCause.
    Error& AddPosixError(int errnoValue) noexcept;
    Error& AddPosixErrorAt(int errnoValue, Location location) noexcept;

private:
    ErrorRecord* m_record;
};

static_assert(sizeof(Error) == 16, "Common::Error is two machine words");

} // namespace Common
