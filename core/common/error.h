// The error model: Common::Error values (class in platform/objrep/common_error.h)
// and the reference-counted records behind them.
//
// A record is one plain allocated block: header, then kind-specific data. The
// kind table (seven function pointers) gives its behaviour; records are
// immutable once built, except that AddCause may relink `next` of a first
// record held by a single value. Texts from the active message catalogue are
// held by reference, any other text is copied inline and addressed by offset,
// so a byte copy of a record is a complete record.
//
// Every standard kind answers the text parameter "$module" with kBuildTag.
// The location-making helper lives in core/common/location.h.
//
// Threading: records are shared across threads; counts change atomically.
// A single Error value is not synchronized.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/common/location.h"
#include "platform/objrep/common_error.h"

namespace Common {

inline constexpr const char* kBuildTag = "objpatcher_lxa64_43043";

// Record codes of facility 0.
inline constexpr unsigned kPosixErrorCode = 0xFFF1;
inline constexpr unsigned kOutOfMemoryErrorCode = 0xFFF2;

struct ErrorRecordKind
{
    void (*Free)(ErrorRecord* record);
    ErrorRecord* (*Clone)(const ErrorRecord* record);
    std::u16string (*GetText)(const ErrorRecord* record);
    uint64_t (*GetIntegerParameter)(const ErrorRecord* record, const char* name);
    const char* (*GetTextParameter)(const ErrorRecord* record, const char* name);
    const char16_t* (*GetWideTextParameter)(const ErrorRecord* record, const char* name);
    const char* (*GetParameterNames)(const ErrorRecord* record);
};

struct ErrorRecord
{
    int64_t count; // changed only atomically
    uint32_t code;
    ErrorRecord* next;
    const ErrorRecordKind* kind;
    Location location;
    uint32_t size; // whole block in bytes; errno in the POSIX kind

    // Drops one reference from the chain starting at `record` (null allowed).
    static void Release(ErrorRecord* record) noexcept;
    static void AddReference(ErrorRecord* record) noexcept;
};

// Header of the text kinds; the inline text (if any) follows.
struct TextErrorRecord
{
    ErrorRecord header;
    uint64_t text; // 0: none; < size: offset of inline text; else its address
};

// Header of the trace-level kind; the inline text (if any) follows.
struct TraceLevelErrorRecord
{
    ErrorRecord header;
    uint64_t text;
    uint32_t level;
};

extern const ErrorRecordKind kCodeOnlyErrorKind;
extern const ErrorRecordKind kWideTextErrorKind;
extern const ErrorRecordKind kNarrowTextErrorKind;
extern const ErrorRecordKind kPosixErrorKind;
extern const ErrorRecordKind kTraceLevelErrorKind;

// The shared success value: no record. It is never destroyed, so it may be
// used until the process ends.
extern const Error& Success;

// The static out-of-memory record (count 1, never freed), without a new reference.
ErrorRecord* GetOutOfMemoryErrorRecord() noexcept;

// Throws a copy of `error` (sharing its records) as Common::Error.
[[noreturn]] void ThrowError(const Error& error);

// An error of the trace-level kind, level 1 (parameters "TraceLevel,$module").
// The text is held by the rule of the text constructors; code 0 gives success.
Error MakeTraceLevelError(unsigned code, const char16_t* text, Location location) noexcept;

// Shared pieces for record kinds defined elsewhere (the parsed error blob).
namespace Detail {

// Allocates a record block (nothrow; null when memory runs out) and frees one.
unsigned char* AllocateRecordBlock(size_t size) noexcept;
void FreeRecordBlock(ErrorRecord* record) noexcept;
// Byte copy of `size` bytes with count 1 and next null; null when memory runs out.
ErrorRecord* CloneRecordBytes(const ErrorRecord* record, size_t size) noexcept;
// Resolves a text reference of a record: null, inline offset or address.
const void* ResolveTextReference(const ErrorRecord* record, uint64_t reference) noexcept;
// "$module" -> kBuildTag, else null.
const char* GetModuleParameter(const char* name) noexcept;

// One text of a multi-text record: null, or NUL-terminated units of
// `unitSize` bytes (1: narrow, 2: UTF-16).
struct RecordText
{
    const void* text;
    size_t unitSize;
};

// Builds a record of `kind` whose block is the ErrorRecord header followed by
// `count` 64-bit text references (the first is the message of a text kind),
// each text held by the rule of the text constructors: null and catalogue
// texts by address, any other copied behind the references. Returns the
// out-of-memory record (without a new reference) when it cannot be made.
ErrorRecord* BuildTextsRecord(unsigned code, const ErrorRecordKind* kind, Location location, const RecordText* texts,
                              size_t count) noexcept;

// Replaces the record allocator; null restores the default. For tests that
// inject allocation failures.
using RecordAllocator = unsigned char* (*)(size_t size);
void SetRecordAllocatorForTesting(RecordAllocator allocator) noexcept;

} // namespace Detail

} // namespace Common
