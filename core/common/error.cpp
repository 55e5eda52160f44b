// Common::Error values: construction, copying, release, causes, and the record
// kinds of the core runtime (code only, UTF-16 text, narrow text, POSIX cause,
// trace level) with the static out-of-memory record.

#include "core/common/error.h"

#include <atomic>
#include <cstring>
#include <cwchar>
#include <new>
#include <string.h>
#include <vector>

#include "core/common/message_catalogue.h"

namespace Common {

namespace {

constexpr SourceFile kSource("core/common/error");

std::atomic<Detail::RecordAllocator> g_allocator{nullptr};

// ---- shared kind operations -------------------------------------------------

void FreeRecord(ErrorRecord* record)
{
    Detail::FreeRecordBlock(record);
}

ErrorRecord* CloneSized(const ErrorRecord* record)
{
    return Detail::CloneRecordBytes(record, record->size);
}

ErrorRecord* ClonePosix(const ErrorRecord* record)
{
    return Detail::CloneRecordBytes(record, sizeof(ErrorRecord));
}

std::u16string NoText(const ErrorRecord*)
{
    return {};
}

uint64_t NoInteger(const ErrorRecord*, const char*)
{
    return 0;
}

const char* ModuleText(const ErrorRecord*, const char* name)
{
    return Detail::GetModuleParameter(name);
}

const char16_t* NoWideText(const ErrorRecord*, const char*)
{
    return nullptr;
}

const char* ModuleNames(const ErrorRecord*)
{
    return "$module";
}

std::u16string WideText(const ErrorRecord* record)
{
    auto text = static_cast<const char16_t*>(
        Detail::ResolveTextReference(record, reinterpret_cast<const TextErrorRecord*>(record)->text));
    return text ? std::u16string(text) : std::u16string();
}

std::u16string NarrowText(const ErrorRecord* record)
{
    auto text = static_cast<const unsigned char*>(
        Detail::ResolveTextReference(record, reinterpret_cast<const TextErrorRecord*>(record)->text));
    std::u16string result;
    if (text)
        for (; *text; ++text)
            result.push_back(static_cast<char16_t>(*text));
    return result;
}

std::u16string PosixText(const ErrorRecord* record)
{
    char buffer[256];
    const char* message = strerror_r(static_cast<int>(record->size), buffer, sizeof buffer);
    if (!message)
        return {};
    size_t length = std::strlen(message);
    std::vector<wchar_t> wide(length + 1);
    int written = std::swprintf(wide.data(), wide.size(), L"%s", message);
    if (written <= 0)
        return {};
    std::u16string result;
    result.reserve(static_cast<size_t>(written));
    for (int i = 0; i < written; ++i)
        result.push_back(static_cast<char16_t>(static_cast<uint32_t>(wide[i]) & 0xFFFF));
    return result;
}

uint64_t PosixInteger(const ErrorRecord* record, const char* name)
{
    return std::strcmp(name, "code") == 0 ? static_cast<uint64_t>(static_cast<int64_t>(static_cast<int>(record->size)))
                                          : 0;
}

const char* PosixNames(const ErrorRecord*)
{
    return "code,$module";
}

std::u16string TraceLevelText(const ErrorRecord* record)
{
    auto text = static_cast<const char16_t*>(
        Detail::ResolveTextReference(record, reinterpret_cast<const TraceLevelErrorRecord*>(record)->text));
    return text ? std::u16string(text) : std::u16string();
}

uint64_t TraceLevelInteger(const ErrorRecord* record, const char* name)
{
    return std::strcmp(name, "TraceLevel") == 0 ? reinterpret_cast<const TraceLevelErrorRecord*>(record)->level : 0;
}

const char* TraceLevelNames(const ErrorRecord*)
{
    return "TraceLevel,$module";
}

// ---- building records -------------------------------------------------------

ErrorRecord* HoldOrOutOfMemory(unsigned char* block)
{
    return block ? reinterpret_cast<ErrorRecord*>(block) : GetOutOfMemoryErrorRecord();
}

void FillHeader(ErrorRecord* record, unsigned code, const ErrorRecordKind* kind, Location location, uint32_t size)
{
    record->count = 0;
    record->code = code;
    record->next = nullptr;
    record->kind = kind;
    record->location = location;
    record->size = size;
}

template <typename Char>
size_t TextLength(const Char* text)
{
    size_t length = 0;
    while (text[length])
        ++length;
    return length;
}

// Builds a text record whose header type is Header (TextErrorRecord or
// TraceLevelErrorRecord). Catalogue texts and null are held by reference,
// anything else is copied inline behind the header.
template <typename Header, typename Char>
ErrorRecord* BuildTextRecord(unsigned code, const Char* text, const ErrorRecordKind* kind, Location location)
{
    const bool byReference = !text || IsInActiveCatalogue(text);
    const size_t textBytes = byReference ? 0 : (TextLength(text) + 1) * sizeof(Char);
    const size_t size = sizeof(Header) + textBytes;
    if (size > UINT32_MAX)
        return GetOutOfMemoryErrorRecord();
    unsigned char* block = Detail::AllocateRecordBlock(size);
    if (!block)
        return GetOutOfMemoryErrorRecord();
    auto* header = reinterpret_cast<Header*>(block);
    FillHeader(&header->header, code, kind, location, static_cast<uint32_t>(size));
    if (byReference) {
        header->text = reinterpret_cast<uintptr_t>(text);
    } else {
        header->text = sizeof(Header);
        std::memcpy(block + sizeof(Header), text, textBytes);
    }
    return &header->header;
}

constinit ErrorRecord g_outOfMemoryRecord{
    1, kOutOfMemoryErrorCode, nullptr, &kCodeOnlyErrorKind, Location{0, nullptr, nullptr, 0}, sizeof(ErrorRecord)};

} // namespace

const ErrorRecordKind kCodeOnlyErrorKind{FreeRecord, CloneSized, NoText,     NoInteger,
                                         ModuleText, NoWideText, ModuleNames};
const ErrorRecordKind kWideTextErrorKind{FreeRecord, CloneSized, WideText,   NoInteger,
                                         ModuleText, NoWideText, ModuleNames};
const ErrorRecordKind kNarrowTextErrorKind{FreeRecord, CloneSized, NarrowText, NoInteger,
                                           ModuleText, NoWideText, ModuleNames};
const ErrorRecordKind kPosixErrorKind{FreeRecord, ClonePosix, PosixText, PosixInteger,
                                      ModuleText, NoWideText, PosixNames};
const ErrorRecordKind kTraceLevelErrorKind{FreeRecord, CloneSized, TraceLevelText, TraceLevelInteger,
                                           ModuleText, NoWideText, TraceLevelNames};

namespace {

// Storage that static destruction never ends: threads of the libraries may
// still copy the success value while the process exits.
union ImmortalSuccess
{
    Error value;
    constexpr ImmortalSuccess() : value() {}
    ~ImmortalSuccess() {}
};

constinit const ImmortalSuccess g_success;

} // namespace

constinit const Error& Success = g_success.value;

// ---- Detail -----------------------------------------------------------------

namespace Detail {

unsigned char* AllocateRecordBlock(size_t size) noexcept
{
    if (RecordAllocator allocator = g_allocator.load(std::memory_order_acquire))
        return allocator(size);
    return new (std::nothrow) unsigned char[size];
}

void FreeRecordBlock(ErrorRecord* record) noexcept
{
    delete[] reinterpret_cast<unsigned char*>(record);
}

ErrorRecord* CloneRecordBytes(const ErrorRecord* record, size_t size) noexcept
{
    if (size < sizeof(ErrorRecord))
        return nullptr;
    unsigned char* block = AllocateRecordBlock(size);
    if (!block)
        return nullptr;
    // The count is not copied: other holders change it atomically meanwhile.
    constexpr size_t kAfterCount = offsetof(ErrorRecord, code);
    std::memcpy(block + kAfterCount, reinterpret_cast<const unsigned char*>(record) + kAfterCount, size - kAfterCount);
    auto* clone = reinterpret_cast<ErrorRecord*>(block);
    clone->count = 1;
    clone->next = nullptr;
    return clone;
}

const void* ResolveTextReference(const ErrorRecord* record, uint64_t reference) noexcept
{
    if (reference == 0)
        return nullptr;
    if (reference < record->size)
        return reinterpret_cast<const unsigned char*>(record) + reference;
    return reinterpret_cast<const void*>(static_cast<uintptr_t>(reference));
}

const char* GetModuleParameter(const char* name) noexcept
{
    return std::strcmp(name, "$module") == 0 ? kBuildTag : nullptr;
}

ErrorRecord* BuildTextsRecord(unsigned code, const ErrorRecordKind* kind, Location location, const RecordText* texts,
                              size_t count) noexcept
{
    // Bytes a text takes inline: 0 when it is held by address.
    auto inlineBytes = [](const RecordText& text) -> size_t {
        if (!text.text || IsInActiveCatalogue(text.text))
            return 0;
        if (text.unitSize == sizeof(char16_t))
            return (TextLength(static_cast<const char16_t*>(text.text)) + 1) * sizeof(char16_t);
        return TextLength(static_cast<const char*>(text.text)) + 1;
    };
    // Each inline text starts at an even offset, where UTF-16 units may lie.
    auto padded = [](size_t bytes) { return (bytes + 1) & ~size_t{1}; };
    const size_t headerSize = sizeof(ErrorRecord) + count * sizeof(uint64_t);
    size_t size = headerSize;
    for (size_t i = 0; i < count; ++i)
        size += padded(inlineBytes(texts[i]));
    if (size > UINT32_MAX)
        return GetOutOfMemoryErrorRecord();
    unsigned char* block = AllocateRecordBlock(size);
    if (!block)
        return GetOutOfMemoryErrorRecord();
    std::memset(block, 0, size);
    auto* record = reinterpret_cast<ErrorRecord*>(block);
    FillHeader(record, code, kind, location, static_cast<uint32_t>(size));
    auto* references = reinterpret_cast<uint64_t*>(block + sizeof(ErrorRecord));
    size_t offset = headerSize;
    for (size_t i = 0; i < count; ++i) {
        const size_t bytes = inlineBytes(texts[i]);
        if (bytes == 0) {
            references[i] = reinterpret_cast<uintptr_t>(texts[i].text);
            continue;
        }
        std::memcpy(block + offset, texts[i].text, bytes);
        references[i] = offset;
        offset += padded(bytes);
    }
    return record;
}

void SetRecordAllocatorForTesting(RecordAllocator allocator) noexcept
{
    g_allocator.store(allocator, std::memory_order_release);
}

} // namespace Detail

// ---- records ----------------------------------------------------------------

void ErrorRecord::AddReference(ErrorRecord* record) noexcept
{
    if (record)
        std::atomic_ref<int64_t>(record->count).fetch_add(1, std::memory_order_relaxed);
}

void ErrorRecord::Release(ErrorRecord* record) noexcept
{
    while (record) {
        if (std::atomic_ref<int64_t>(record->count).fetch_sub(1, std::memory_order_acq_rel) != 1)
            return;
        ErrorRecord* next = record->next;
        record->kind->Free(record);
        record = next;
    }
}

ErrorRecord* GetOutOfMemoryErrorRecord() noexcept
{
    return &g_outOfMemoryRecord;
}

// ---- Error ------------------------------------------------------------------

Error::Error(unsigned code, Location location) noexcept : m_record(nullptr)
{
    if (code == 0)
        return;
    unsigned char* block = Detail::AllocateRecordBlock(sizeof(ErrorRecord));
    if (block)
        FillHeader(reinterpret_cast<ErrorRecord*>(block), code, &kCodeOnlyErrorKind, location, sizeof(ErrorRecord));
    m_record = HoldOrOutOfMemory(block);
    ErrorRecord::AddReference(m_record);
}

Error::Error(unsigned code, const char* text, Location location) noexcept : m_record(nullptr)
{
    if (code == 0)
        return;
    m_record = BuildTextRecord<TextErrorRecord>(code, text, &kNarrowTextErrorKind, location);
    ErrorRecord::AddReference(m_record);
}

Error::Error(unsigned code, const char16_t* text, Location location) noexcept : m_record(nullptr)
{
    if (code == 0)
        return;
    m_record = BuildTextRecord<TextErrorRecord>(code, text, &kWideTextErrorKind, location);
    ErrorRecord::AddReference(m_record);
}

Error::Error(ErrorRecord* record) noexcept : m_record(record)
{
    ErrorRecord::AddReference(m_record);
}

Error::Error(const Error& other) noexcept : m_record(other.m_record)
{
    ErrorRecord::AddReference(m_record);
}

Error& Error::operator=(const Error& other) noexcept
{
    ErrorRecord* old = m_record;
    ErrorRecord::AddReference(other.m_record);
    m_record = other.m_record;
    ErrorRecord::Release(old);
    return *this;
}

Error& Error::operator=(Error&& other) noexcept
{
    if (this != &other) {
        ErrorRecord* old = m_record;
        m_record = other.m_record;
        other.m_record = nullptr;
        ErrorRecord::Release(old);
    }
    return *this;
}

Error::~Error()
{
    ErrorRecord::Release(m_record);
}

unsigned Error::GetCode() const noexcept
{
    return m_record ? m_record->code : 0;
}

std::u16string Error::GetText() const
{
    return m_record ? m_record->kind->GetText(m_record) : std::u16string();
}

Error Error::GetCause() const noexcept
{
    return Error(m_record ? m_record->next : nullptr);
}

Location Error::GetLocation() const noexcept
{
    return m_record ? m_record->location : NoLocation;
}

uint64_t Error::GetIntegerParameter(const char* name) const noexcept
{
    return m_record ? m_record->kind->GetIntegerParameter(m_record, name) : 0;
}

const char* Error::GetTextParameter(const char* name) const noexcept
{
    return m_record ? m_record->kind->GetTextParameter(m_record, name) : nullptr;
}

const char16_t* Error::GetWideTextParameter(const char* name) const noexcept
{
    return m_record ? m_record->kind->GetWideTextParameter(m_record, name) : nullptr;
}

const char* Error::GetParameterNames() const noexcept
{
    return m_record ? m_record->kind->GetParameterNames(m_record) : "";
}

Error& Error::AddCause(const Error& cause) noexcept
{
    ErrorRecord* causeRecord = cause.m_record;
    if (!causeRecord)
        return *this;
    ErrorRecord::AddReference(causeRecord); // the chain's reference
    if (!m_record) {
        m_record = causeRecord;
        return *this;
    }
    if (std::atomic_ref<int64_t>(m_record->count).load(std::memory_order_acquire) == 1) {
        ErrorRecord::Release(m_record->next);
        m_record->next = causeRecord;
        return *this;
    }
    ErrorRecord* clone = m_record->kind->Clone(m_record);
    if (!clone) {
        ErrorRecord::Release(causeRecord);
        return *this;
    }
    clone->next = causeRecord;
    ErrorRecord::Release(m_record);
    m_record = clone;
    return *this;
}

Error& Error::AddPosixError(int errnoValue) noexcept
{
    return AddPosixErrorAt(errnoValue, kSource.At("AddPosixError", __LINE__));
}

Error& Error::AddPosixErrorAt(int errnoValue, Location location) noexcept
{
    ErrorRecord* posix = GetOutOfMemoryErrorRecord();
    if (unsigned char* block = Detail::AllocateRecordBlock(sizeof(ErrorRecord))) {
        posix = reinterpret_cast<ErrorRecord*>(block);
        FillHeader(posix, kPosixErrorCode, &kPosixErrorKind, location, static_cast<uint32_t>(errnoValue));
    }
    const Error cause(posix); // the reference held until the end of the operation
    return AddCause(cause);
}

// ---- helpers ----------------------------------------------------------------

void ThrowError(const Error& error)
{
    throw Error(error);
}

Error MakeTraceLevelError(unsigned code, const char16_t* text, Location location) noexcept
{
    if (code == 0)
        return Error();
    ErrorRecord* record = BuildTextRecord<TraceLevelErrorRecord>(code, text, &kTraceLevelErrorKind, location);
    if (record != GetOutOfMemoryErrorRecord())
        reinterpret_cast<TraceLevelErrorRecord*>(record)->level = 1;
    return Error(record);
}

} // namespace Common
