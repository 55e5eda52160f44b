// The binary error blob: writer, reader and the record kind of parsed chains.
//
// A parsed record is one block:
//   TextErrorRecord header (text reference = offset of the UTF-16 text)
//   u32 names offset
//   u32 value offset per ordinary parameter, in the order of the names list
//   UTF-16 text, 0-ended
//   names list: ordinary parameter names joined by ',', 0-ended
//   values: type byte, then 'A' 8-bit text 0-ended | 'W' UTF-16 0-ended |
//           'N' u64 (unaligned). A 'W' value is preceded by a pad byte when
//           needed so that its text starts at an even offset.
// Every reference is an offset from the block's start, so a byte copy of the
// block is a complete record.

#include "core/common/error_blob.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "core/common/non_copyable.h"
#include "core/common/text_conversion.h"
#include "core/common/text_intern.h"

namespace Common {

namespace {

constexpr unsigned char kBlobVersion = 1;
constexpr size_t kRecordHeadBytes = 12; // code + LineTag
constexpr size_t kMaxBlockSize = std::numeric_limits<uint32_t>::max();

constexpr size_t kNamesOffsetAt = sizeof(TextErrorRecord);
constexpr size_t kValueOffsetsAt = kNamesOffsetAt + sizeof(uint32_t);
static_assert(kNamesOffsetAt % alignof(uint32_t) == 0);

constexpr char kFileName[] = "$file";
constexpr char kFunctionName[] = "$func";
constexpr char kLineName[] = "$line";

// ---- byte sinks ---------------------------------------------------------------

class Buffer
{
public:
    // Appends `size` bytes from `source`, or zero bytes when it is null.
    virtual bool Append(const void* source, size_t size) = 0;
    // Overwrites already written bytes.
    virtual void WriteAt(size_t offset, const void* source, size_t size) = 0;
    virtual size_t GetSize() const = 0;
    virtual ~Buffer() = default;
};

// A growable byte array (new[]), limited to 2^32 - 1 bytes. Growth throws
// std::bad_alloc when memory runs out.
class DynamicBuffer final : public Buffer, private Common::NonCopyable
{
public:
    explicit DynamicBuffer(size_t capacity = 0)
        : m_data(capacity ? new unsigned char[capacity] : nullptr), m_size(0), m_capacity(capacity)
    {
    }

    ~DynamicBuffer() override { delete[] m_data; }

    bool Append(const void* source, size_t size) override
    {
        if (size > kMaxBlockSize - m_size)
            return false;
        if (m_size + size > m_capacity)
            Grow(std::max(m_size + size, m_capacity + m_capacity / 2));
        if (size == 0)
            return true;
        if (source)
            std::memcpy(m_data + m_size, source, size);
        else
            std::memset(m_data + m_size, 0, size);
        m_size += size;
        return true;
    }

    void WriteAt(size_t offset, const void* source, size_t size) override
    {
        if (offset <= m_size && size <= m_size - offset && size != 0)
            std::memcpy(m_data + offset, source, size);
    }

    size_t GetSize() const override { return m_size; }

    // Hands the array over to the caller (new[]; release with delete[]).
    unsigned char* Release()
    {
        unsigned char* data = m_data;
        m_data = nullptr;
        m_size = 0;
        m_capacity = 0;
        return data;
    }

private:
    void Grow(size_t capacity)
    {
        auto* data = new unsigned char[capacity];
        if (m_size)
            std::memcpy(data, m_data, m_size);
        delete[] m_data;
        m_data = data;
        m_capacity = capacity;
    }

    unsigned char* m_data;
    size_t m_size;
    size_t m_capacity;
};

// ---- little-endian numbers -------------------------------------------------------

uint32_t LoadLittleEndian32(const unsigned char* bytes)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | bytes[i];
    return value;
}

uint64_t LoadLittleEndian64(const unsigned char* bytes)
{
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | bytes[i];
    return value;
}

bool AppendLittleEndian(Buffer& buffer, uint64_t value, size_t size)
{
    unsigned char bytes[8];
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    return buffer.Append(bytes, size);
}

bool AppendText(Buffer& buffer, const char* text, size_t length)
{
    return buffer.Append(text, length) && buffer.Append(nullptr, 1);
}

bool AppendByte(Buffer& buffer, unsigned char byte)
{
    return buffer.Append(&byte, 1);
}

// ---- writer ----------------------------------------------------------------------

bool WriteParameter(Buffer& buffer, const ErrorRecord* record, const std::string& name)
{
    const ErrorRecordKind* kind = record->kind;
    if (!AppendText(buffer, name.c_str(), name.size()))
        return false;
    if (const char* text = kind->GetTextParameter ? kind->GetTextParameter(record, name.c_str()) : nullptr)
        return AppendByte(buffer, 'A') && AppendText(buffer, text, std::strlen(text));
    if (const char16_t* wide = kind->GetWideTextParameter ? kind->GetWideTextParameter(record, name.c_str())
                                                          : nullptr) {
        const std::string utf8 = ToUtf8(wide);
        return AppendByte(buffer, 'W') && AppendText(buffer, utf8.c_str(), utf8.size());
    }
    const uint64_t value = kind->GetIntegerParameter ? kind->GetIntegerParameter(record, name.c_str()) : 0;
    return AppendByte(buffer, 'N') && AppendLittleEndian(buffer, value, 8);
}

bool WriteRecord(Buffer& buffer, const ErrorRecord* record)
{
    const ErrorRecordKind* kind = record->kind;
    if (!AppendLittleEndian(buffer, record->code, 4) || !AppendLittleEndian(buffer, record->location.LineTag, 8))
        return false;

    const std::u16string text = kind->GetText ? kind->GetText(record) : std::u16string();
    std::string utf8;
    ConvertUtf16ToUtf8(utf8, text.c_str(), text.size());
    if (!AppendText(buffer, utf8.c_str(), utf8.size()))
        return false;

    const char* names = kind->GetParameterNames ? kind->GetParameterNames(record) : nullptr;
    for (const char* piece = names ? names : ""; *piece;) {
        const char* comma = std::strchr(piece, ',');
        const size_t length = comma ? static_cast<size_t>(comma - piece) : std::strlen(piece);
        if (length != 0 && !WriteParameter(buffer, record, std::string(piece, length)))
            return false;
        piece += length;
        if (*piece == ',')
            ++piece;
    }

    const Location& location = record->location;
    if (location.file &&
        !(AppendText(buffer, kFileName, sizeof kFileName - 1) && AppendByte(buffer, 'A') &&
          AppendText(buffer, location.file, std::strlen(location.file))))
        return false;
    if (location.function &&
        !(AppendText(buffer, kFunctionName, sizeof kFunctionName - 1) && AppendByte(buffer, 'A') &&
          AppendText(buffer, location.function, std::strlen(location.function))))
        return false;
    if (location.line != 0 &&
        !(AppendText(buffer, kLineName, sizeof kLineName - 1) && AppendByte(buffer, 'N') &&
          AppendLittleEndian(buffer, location.line, 8)))
        return false;
    return AppendByte(buffer, 0);
}

} // namespace

// Writes the version byte and the chain from `record` (null allowed); stops at
// the first failed append.
bool WriteErrorRecords(Buffer& buffer, const ErrorRecord* record)
{
    if (!AppendByte(buffer, kBlobVersion))
        return false;
    for (; record; record = record->next)
        if (!WriteRecord(buffer, record))
            return false;
    return true;
}

unsigned char* SerializeError(const Error& error, uint32_t& size)
{
    DynamicBuffer buffer(64);
    WriteErrorRecords(buffer, error.GetRecord());
    size = static_cast<uint32_t>(buffer.GetSize());
    return buffer.Release();
}

// ---- the parsed-blob kind -----------------------------------------------------------

namespace {

const unsigned char* BlockOf(const ErrorRecord* record)
{
    return reinterpret_cast<const unsigned char*>(record);
}

uint32_t LoadOffset(const ErrorRecord* record, size_t at)
{
    uint32_t value;
    std::memcpy(&value, BlockOf(record) + at, sizeof value);
    return value;
}

const char* ParsedNames(const ErrorRecord* record)
{
    return reinterpret_cast<const char*>(BlockOf(record) + LoadOffset(record, kNamesOffsetAt));
}

// The block offset of the named value (at its type byte), or 0.
uint32_t FindValue(const ErrorRecord* record, const char* name)
{
    const size_t nameLength = std::strlen(name);
    size_t index = 0;
    for (const char* piece = ParsedNames(record); *piece; ++index) {
        const char* comma = std::strchr(piece, ',');
        const size_t length = comma ? static_cast<size_t>(comma - piece) : std::strlen(piece);
        if (length == nameLength && std::memcmp(piece, name, length) == 0)
            return LoadOffset(record, kValueOffsetsAt + index * sizeof(uint32_t));
        piece += length;
        if (*piece == ',')
            ++piece;
    }
    return 0;
}

void FreeParsed(ErrorRecord* record)
{
    Detail::FreeRecordBlock(record);
}

ErrorRecord* CloneParsed(const ErrorRecord* record)
{
    return Detail::CloneRecordBytes(record, record->size);
}

std::u16string ParsedText(const ErrorRecord* record)
{
    auto text = static_cast<const char16_t*>(
        Detail::ResolveTextReference(record, reinterpret_cast<const TextErrorRecord*>(record)->text));
    return text ? std::u16string(text) : std::u16string();
}

uint64_t ParsedInteger(const ErrorRecord* record, const char* name)
{
    const uint32_t at = FindValue(record, name);
    if (at == 0 || BlockOf(record)[at] != 'N')
        return 0;
    uint64_t value;
    std::memcpy(&value, BlockOf(record) + at + 1, sizeof value);
    return value;
}

const char* ParsedTextParameter(const ErrorRecord* record, const char* name)
{
    const uint32_t at = FindValue(record, name);
    if (at == 0 || BlockOf(record)[at] != 'A')
        return nullptr;
    return reinterpret_cast<const char*>(BlockOf(record) + at + 1);
}

const char16_t* ParsedWideTextParameter(const ErrorRecord* record, const char* name)
{
    const uint32_t at = FindValue(record, name);
    if (at == 0 || BlockOf(record)[at] != 'W')
        return nullptr;
    return reinterpret_cast<const char16_t*>(BlockOf(record) + at + 1);
}

// ---- reader -------------------------------------------------------------------------

enum class ParameterRole
{
    Ordinary,
    File,
    Function,
    Line,
};

struct BlobParameter
{
    const char* name;
    size_t nameLength;
    unsigned char type;
    const unsigned char* value; // 'A'/'W': the text (0-ended inside the blob); 'N': 8 bytes
    size_t valueLength;         // 'A'/'W': bytes before the 0; 'N': 8
    ParameterRole role;
    std::u16string wide; // 'W': the converted text
};

ParameterRole RoleOf(const char* name, size_t length, unsigned char type)
{
    auto is = [&](const char* reserved, size_t reservedLength) {
        return length == reservedLength && std::memcmp(name, reserved, length) == 0;
    };
    if (type == 'A' && is(kFileName, sizeof kFileName - 1))
        return ParameterRole::File;
    if (type == 'A' && is(kFunctionName, sizeof kFunctionName - 1))
        return ParameterRole::Function;
    if (type == 'N' && is(kLineName, sizeof kLineName - 1))
        return ParameterRole::Line;
    return ParameterRole::Ordinary;
}

class BlobReader
{
public:
    BlobReader(const unsigned char* data, size_t size) : m_data(data), m_size(size) {}

    // Reads the record at `position` (at least 12 bytes remain). Returns the
    // new record (count as given, next null) and sets `next` past its ending
    // 0 byte; null when the record is malformed.
    ErrorRecord* ReadRecord(size_t position, int64_t count, size_t& next) const
    {
        const uint32_t code = LoadLittleEndian32(m_data + position);
        const uint64_t lineTag = LoadLittleEndian64(m_data + position + 4);

        const size_t textStart = position + kRecordHeadBytes;
        const size_t textEnd = FindZero(textStart);
        if (textEnd == kNotFound)
            return nullptr;
        std::u16string text;
        if (!ConvertUtf8ToUtf16(text, Chars(textStart), textEnd - textStart))
            return nullptr;

        std::vector<BlobParameter> parameters;
        size_t end = 0;
        if (!ReadParameters(textEnd + 1, parameters, end))
            return nullptr;

        ErrorRecord* record = BuildRecord(code, lineTag, count, text, parameters);
        if (record)
            next = end + 1;
        return record;
    }

private:
    static constexpr size_t kNotFound = static_cast<size_t>(-1);

    const char* Chars(size_t at) const { return reinterpret_cast<const char*>(m_data + at); }

    size_t FindZero(size_t from) const
    {
        if (from >= m_size)
            return kNotFound;
        const void* zero = std::memchr(m_data + from, 0, m_size - from);
        return zero ? static_cast<size_t>(static_cast<const unsigned char*>(zero) - m_data) : kNotFound;
    }

    // Checks the parameters from `position` up to the record's ending 0 byte.
    bool ReadParameters(size_t position, std::vector<BlobParameter>& parameters, size_t& end) const
    {
        for (;;) {
            if (position >= m_size)
                return false;
            if (m_data[position] == 0) {
                end = position;
                return true;
            }
            const size_t nameEnd = FindZero(position);
            if (nameEnd == kNotFound || nameEnd + 1 >= m_size)
                return false;
            BlobParameter parameter{
                Chars(position), nameEnd - position, m_data[nameEnd + 1], nullptr, 0, ParameterRole::Ordinary, {}};
            // A comma would split the name in the names list and shift every
            // later lookup onto the wrong value.
            if (std::memchr(parameter.name, ',', parameter.nameLength))
                return false;
            const size_t valueStart = nameEnd + 2;
            switch (parameter.type) {
            case 'N':
                if (valueStart > m_size || m_size - valueStart < 8)
                    return false;
                parameter.valueLength = 8;
                position = valueStart + 8;
                break;
            case 'A':
            case 'W': {
                const size_t valueEnd = FindZero(valueStart);
                if (valueEnd == kNotFound)
                    return false;
                parameter.valueLength = valueEnd - valueStart;
                position = valueEnd + 1;
                break;
            }
            default:
                return false;
            }
            parameter.value = m_data + valueStart;
            parameter.role = RoleOf(parameter.name, parameter.nameLength, parameter.type);
            if (parameter.type == 'W' &&
                !ConvertUtf8ToUtf16(parameter.wide, reinterpret_cast<const char*>(parameter.value),
                                    parameter.valueLength))
                return false;
            parameters.push_back(std::move(parameter));
        }
    }

    static ErrorRecord* BuildRecord(uint32_t code, uint64_t lineTag, int64_t count, const std::u16string& text,
                                    const std::vector<BlobParameter>& parameters)
    {
        size_t ordinary = 0;
        size_t namesBytes = 1;
        size_t valuesBytes = 0;
        for (const BlobParameter& parameter : parameters) {
            if (parameter.role != ParameterRole::Ordinary)
                continue;
            namesBytes += parameter.nameLength + (ordinary ? 1 : 0);
            ++ordinary;
            valuesBytes += parameter.type == 'W' ? 2 + (parameter.wide.size() + 1) * sizeof(char16_t)
                                                 : 1 + parameter.valueLength + (parameter.type == 'A' ? 1 : 0);
        }
        const size_t textAt = kValueOffsetsAt + ordinary * sizeof(uint32_t);
        const size_t namesAt = textAt + (text.size() + 1) * sizeof(char16_t);
        const size_t estimate = namesAt + namesBytes + valuesBytes;
        if (estimate > kMaxBlockSize)
            return nullptr;

        Location location{lineTag, nullptr, nullptr, 0};
        for (const BlobParameter& parameter : parameters) {
            switch (parameter.role) {
            case ParameterRole::File:
                location.file = InternString(reinterpret_cast<const char*>(parameter.value));
                break;
            case ParameterRole::Function:
                location.function = InternString(reinterpret_cast<const char*>(parameter.value));
                break;
            case ParameterRole::Line:
                location.line = static_cast<uint32_t>(LoadLittleEndian64(parameter.value));
                break;
            case ParameterRole::Ordinary:
                break;
            }
        }

        DynamicBuffer block(estimate);
        TextErrorRecord header{};
        header.header.count = count;
        header.header.code = code;
        header.header.next = nullptr;
        header.header.kind = &kParsedBlobErrorKind;
        header.header.location = location;
        header.header.size = 0;
        header.text = textAt;
        const uint32_t namesOffset = static_cast<uint32_t>(namesAt);
        bool ok = block.Append(&header, sizeof header) && block.Append(&namesOffset, sizeof namesOffset) &&
            block.Append(nullptr, ordinary * sizeof(uint32_t)) &&
            block.Append(text.c_str(), (text.size() + 1) * sizeof(char16_t));

        bool firstName = true;
        for (const BlobParameter& parameter : parameters) {
            if (!ok || parameter.role != ParameterRole::Ordinary)
                continue;
            ok = (firstName || AppendByte(block, ',')) && block.Append(parameter.name, parameter.nameLength);
            firstName = false;
        }
        ok = ok && AppendByte(block, 0);

        size_t index = 0;
        for (const BlobParameter& parameter : parameters) {
            if (!ok || parameter.role != ParameterRole::Ordinary)
                continue;
            if (parameter.type == 'W' && block.GetSize() % 2 == 0)
                ok = AppendByte(block, 0);
            const uint32_t valueAt = static_cast<uint32_t>(block.GetSize());
            block.WriteAt(kValueOffsetsAt + index++ * sizeof(uint32_t), &valueAt, sizeof valueAt);
            ok = ok && AppendByte(block, parameter.type);
            if (parameter.type == 'W')
                ok = ok && block.Append(parameter.wide.c_str(), (parameter.wide.size() + 1) * sizeof(char16_t));
            else if (parameter.type == 'A')
                ok = ok && AppendText(block, reinterpret_cast<const char*>(parameter.value), parameter.valueLength);
            else {
                const uint64_t value = LoadLittleEndian64(parameter.value);
                ok = ok && block.Append(&value, sizeof value);
            }
        }
        if (!ok)
            return nullptr;
        const uint32_t size = static_cast<uint32_t>(block.GetSize());
        block.WriteAt(offsetof(ErrorRecord, size), &size, sizeof size);
        return reinterpret_cast<ErrorRecord*>(block.Release());
    }

    const unsigned char* m_data;
    size_t m_size;
};

} // namespace

const ErrorRecordKind kParsedBlobErrorKind{
    FreeParsed, CloneParsed, ParsedText, ParsedInteger, ParsedTextParameter, ParsedWideTextParameter, ParsedNames};

Error DeserializeError(const void* data, uint32_t size)
{
    bool whole = false;
    return DeserializeError(data, size, whole);
}

Error DeserializeError(const void* data, uint32_t size, bool& whole)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    whole = false;
    if (!bytes || size == 0 || bytes[0] != kBlobVersion)
        return Error();
    const BlobReader reader(bytes, size);
    Error head;
    ErrorRecord* tail = nullptr;
    size_t position = 1;
    while (size - position >= kRecordHeadBytes && LoadLittleEndian32(bytes + position) != 0) {
        size_t next = 0;
        ErrorRecord* record = reader.ReadRecord(position, tail ? 1 : 0, next);
        if (!record)
            break;
        if (tail)
            tail->next = record;
        else
            head = Error(record);
        tail = record;
        position = next;
    }
    whole = position == size;
    return head;
}

} // namespace Common
