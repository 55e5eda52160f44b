#include "enterprise/common/por/blob_walking_route.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/common/error_blob.h"
#include "core/common/location.h"
#include "core/common/text_conversion.h"
#include "enterprise/common/por/array_value_holder.h"
#include "enterprise/common/por/building_depth.h"
#include "enterprise/common/por/composite_value_holder.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/por_errors.h"
#include "enterprise/common/por/unit_accumulator.h"
#include "enterprise/common/por/unit_building_walker.h"
#include "enterprise/serialize/serialization_errors.h"

namespace Por::Util {

static_assert(std::endian::native == std::endian::little, "the form's numbers are stored as in memory");

namespace {

constexpr Common::SourceFile kSource("enterprise/common/por/blob_walking_route", 0x351351f36518c665 - 251);

constexpr unsigned char kUnitBegin = 'U';
constexpr unsigned char kUnitEnd = 'E';
constexpr unsigned char kArray = 'A';
constexpr unsigned char kComposite = 'C';
constexpr unsigned char kProperty = 'P';
constexpr unsigned char kTrait = 'T';
constexpr unsigned char kStringTag = 13;
constexpr uint64_t kFormLimit = uint64_t(1) << 32;

[[noreturn]] void TooLarge(const char* function, uint32_t line)
{
    ThrowError(MakePorError(SerializationErrors::kValueTooLarge, SerializationErrors::kValueTooLargeText,
                            kSource.At(function, line)));
}

// Counts the bytes of one form; refuses to let it reach 2^32 bytes.
class FormSize
{
public:
    void Add(uint32_t length)
    {
        if (m_written + length >= kFormLimit)
            TooLarge("Write", __LINE__);
        m_written += length;
    }
    uint64_t Written() const noexcept { return m_written; }

private:
    uint64_t m_written = 0;
};

// Appends to a vector.
class BlobWriter final : public BinaryDataConsumer
{
public:
    explicit BlobWriter(std::vector<unsigned char>& out) noexcept : m_out(out) {}

    void Write(const void* bytes, uint32_t length) override
    {
        m_size.Add(length);
        const auto* first = static_cast<const unsigned char*>(bytes);
        m_out.insert(m_out.end(), first, first + length);
    }

private:
    std::vector<unsigned char>& m_out;
    FormSize m_size;
};

// Counts only.
class FormMeasure final : public BinaryDataConsumer
{
public:
    void Write(const void*, uint32_t length) override { m_size.Add(length); }
    uint64_t Size() const noexcept { return m_size.Written(); }

private:
    FormSize m_size;
};

void Walk(const View::Unit& unit, BinaryDataConsumer& consumer)
{
    BinaryDataProvider provider(consumer);
    WalkValueFirstGuide guide;
    WalkHierarchy(unit, guide, provider);
}

// Empty values handed to the walker with the Array and Composite events of
// the reader, which has no value to give; walkers that build read nothing
// from them.
const ArrayValueHolder kNoElements;
const CompositeValueHolder kNoProperties;

} // namespace

void BinaryDataProvider::WriteByte(unsigned char byte)
{
    m_consumer.Write(&byte, 1);
}

template <typename T>
void BinaryDataProvider::Item(unsigned char tag, T value)
{
    unsigned char item[1 + sizeof(T)];
    item[0] = tag;
    std::memcpy(item + 1, &value, sizeof(T));
    m_consumer.Write(item, sizeof item);
}

void BinaryDataProvider::Counted(unsigned char tag, const void* bytes, uint64_t length)
{
    if (length >= kFormLimit)
        TooLarge("Counted", __LINE__);
    Item(tag, static_cast<uint32_t>(length));
    if (length != 0)
        m_consumer.Write(bytes, static_cast<uint32_t>(length));
}

void BinaryDataProvider::NameItem(unsigned char letter, const Name& name)
{
    std::u16string text;
    (void)Common::ConvertUtf8ToUtf16(text, name.GetText(), Common::kWholeText); // bad bytes become U+FFFD
    if (text.size() >= kFormLimit / 2)
        TooLarge("NameItem", __LINE__);
    WriteByte(letter);
    Counted(kStringTag, text.data(), text.size() * 2);
}

void BinaryDataProvider::BeginUnit()
{
    WriteByte(kUnitBegin);
}

void BinaryDataProvider::EndUnit()
{
    WriteByte(kUnitEnd);
}

void BinaryDataProvider::Property(const Name& name)
{
    NameItem(kProperty, name);
}

void BinaryDataProvider::Trait(const Name& name)
{
    NameItem(kTrait, name);
}

void BinaryDataProvider::Nil()
{
    WriteByte(static_cast<unsigned char>(ValueKind::Nil));
}

void BinaryDataProvider::Boolean(bool value)
{
    Item(static_cast<unsigned char>(ValueKind::Boolean), static_cast<unsigned char>(value ? 1 : 0));
}

#define POR_PROVIDER_NUMBER(Kind, Type)                           \
    void BinaryDataProvider::Kind(Type value)                     \
    {                                                             \
        Item(static_cast<unsigned char>(ValueKind::Kind), value); \
    }
POR_PROVIDER_NUMBER(Byte, unsigned char)
POR_PROVIDER_NUMBER(SByte, signed char)
POR_PROVIDER_NUMBER(Word, unsigned short)
POR_PROVIDER_NUMBER(SWord, short)
POR_PROVIDER_NUMBER(DWord, unsigned int)
POR_PROVIDER_NUMBER(SDWord, int)
POR_PROVIDER_NUMBER(QWord, unsigned long long)
POR_PROVIDER_NUMBER(SQWord, long long)
POR_PROVIDER_NUMBER(Double, double)
#undef POR_PROVIDER_NUMBER

void BinaryDataProvider::Blob(const BlobType& value)
{
    Counted(static_cast<unsigned char>(ValueKind::Blob), value.data(), value.size());
}

void BinaryDataProvider::Guid(const GuidType& value)
{
    Item(static_cast<unsigned char>(ValueKind::Guid), value);
}

void BinaryDataProvider::String(const std::u16string& value)
{
    if (value.size() >= kFormLimit / 2)
        TooLarge("String", __LINE__);
    Counted(kStringTag, value.data(), value.size() * 2);
}

void BinaryDataProvider::Error(const Common::Error& value)
{
    uint32_t size = 0;
    const std::unique_ptr<unsigned char[]> blob(Common::SerializeError(value, size));
    Counted(static_cast<unsigned char>(ValueKind::Error), blob.get(), size);
}

void BinaryDataProvider::Array(const View::ArrayValue&)
{
    WriteByte(kArray);
}

void BinaryDataProvider::Composite(const View::CompositeValue&)
{
    WriteByte(kComposite);
}

void WriteBinaryUnit(const View::Unit& unit, std::vector<unsigned char>& out)
{
    const size_t before = out.size();
    // Measured first, so that the vector takes its room once (growing by
    // doubling would hold up to twice the form, and the old room besides).
    const uint64_t size = MeasureBinaryUnit(unit);
    if (size > out.max_size() - before)
        throw std::length_error("vector::reserve");
    out.reserve(before + static_cast<size_t>(size));
    try {
        BlobWriter writer(out);
        Walk(unit, writer);
    } catch (...) {
        out.resize(before); // nothing half-written
        throw;
    }
}

uint64_t MeasureBinaryUnit(const View::Unit& unit)
{
    FormMeasure measure;
    Walk(unit, measure);
    return measure.Size();
}

void WriteBinaryUnit(const View::Unit& unit, BinaryDataConsumer& consumer)
{
    Walk(unit, consumer);
}

namespace {

// The form held whole in memory.
class MemoryForm
{
public:
    MemoryForm(const unsigned char* data, uint64_t size) noexcept : m_data(data), m_size(size) {}

    uint64_t Size() const noexcept { return m_size; }
    // [at, at + count), inside the form.
    const unsigned char* Take(uint64_t at, uint64_t) noexcept { return m_data + at; }
    void CopyOut(uint64_t at, uint64_t count, void* out) noexcept
    {
        if (count > 0) // an empty value may have no room at all
            std::memcpy(out, m_data + at, count);
    }
    void First(unsigned char* out, size_t count) const noexcept
    {
        if (count > 0)
            std::memcpy(out, m_data, count);
    }

private:
    const unsigned char* m_data;
    uint64_t m_size;
};

// The form as a source hands it over, front to back. A window holds the
// bytes of the item being read; payloads go from the source straight into the
// value they become.
class StreamForm
{
public:
    explicit StreamForm(::Serialization::ByteSource& source) : m_source(source), m_size(source.Size()) {}

    uint64_t Size() const noexcept { return m_size; }

    const unsigned char* Take(uint64_t at, uint64_t count)
    {
        if (at + count > m_windowEnd) {
            // What the window holds from `at` on moves to its front; the rest is read.
            const uint64_t kept = at < m_windowEnd ? m_windowEnd - at : 0;
            if (kept > 0)
                std::memmove(m_window.data(), m_window.data() + (at - m_windowStart), kept);
            else
                Skip(at);
            m_windowStart = at;
            m_windowEnd = at + kept;
            const uint64_t wanted = std::max<uint64_t>(count, std::min<uint64_t>(kWindow, m_size - at));
            if (m_window.size() < wanted)
                m_window.resize(wanted);
            m_source.Read(m_window.data() + kept, wanted - kept);
            m_windowEnd = at + wanted;
        }
        return m_window.data() + (at - m_windowStart);
    }

    void CopyOut(uint64_t at, uint64_t count, void* out)
    {
        if (count == 0) // an empty value may have no room at all
            return;
        auto* bytes = static_cast<unsigned char*>(out);
        if (at + count <= m_windowEnd) {
            std::memcpy(bytes, m_window.data() + (at - m_windowStart), count);
            return;
        }
        // The window's part, then the rest from the source: the window is then empty.
        if (at < m_windowEnd) {
            const uint64_t held = m_windowEnd - at;
            std::memcpy(bytes, m_window.data() + (at - m_windowStart), held);
            bytes += held;
            at += held;
            count -= held;
        } else {
            Skip(at);
        }
        m_source.Read(bytes, count);
        m_windowStart = m_windowEnd = at + count;
        if (m_window.size() > kWindow) {
            m_window.resize(kWindow);
            m_window.shrink_to_fit();
        }
    }

    void First(unsigned char* out, size_t count) const { m_source.ReadFirst(out, count); }

private:
    static constexpr uint64_t kWindow = 64 * 1024;

    // Reads past the bytes before `at` that no item looked at.
    void Skip(uint64_t at)
    {
        unsigned char unused[64];
        for (uint64_t gap = at - m_windowEnd; gap > 0;) {
            const size_t step = static_cast<size_t>(std::min<uint64_t>(gap, sizeof unused));
            m_source.Read(unused, step);
            gap -= step;
        }
        m_windowStart = m_windowEnd = at;
    }

    ::Serialization::ByteSource& m_source;
    uint64_t m_size;
    std::vector<unsigned char> m_window;
    uint64_t m_windowStart = 0;
    uint64_t m_windowEnd = 0;
};

template <typename Form>
[[noreturn]] void Corrupted(const Form& form, uint64_t position)
{
    const uint64_t size = form.Size();
    const size_t shown = static_cast<size_t>(size < kMaxCorruptedFormBytes ? size : kMaxCorruptedFormBytes);
    unsigned char first[kMaxCorruptedFormBytes];
    form.First(first, shown);
    std::u16string text;
    text.reserve(shown * 2 + 3);
    static const char16_t kDigits[] = u"0123456789abcdef";
    for (size_t i = 0; i < shown; ++i) {
        text += kDigits[first[i] >> 4];
        text += kDigits[first[i] & 0xF];
    }
    if (shown < size)
        text += u"...";
    ThrowError(MakePorError(PorErrors::kCorruptedUnit, PorErrors::kCorruptedUnitText, kSource.At("Follow", 251),
                            {text, Common::FromUtf8(std::to_string(position).c_str())}));
}

template <typename Form>
void FollowForm(Form& form, UnitWalker& walker)
{
    const uint64_t size = form.Size();
    if (size >= kFormLimit)
        Corrupted(form, 0);
    BuildingDepth depth(kMaxUnitDepth);
    uint64_t position = 0;
    // Checks that the `count` bytes at `offset` from the item start lie in the form.
    auto check = [&](uint64_t itemStart, uint64_t offset, uint64_t count) {
        if (offset + count > size - itemStart)
            Corrupted(form, itemStart);
        return itemStart + offset;
    };
    // The `count` bytes at `offset` from the item start, or a corrupted form.
    auto take = [&](uint64_t itemStart, uint64_t offset, uint64_t count) -> const unsigned char* {
        return form.Take(check(itemStart, offset, count), count);
    };
    auto readCount = [&](uint64_t itemStart, uint64_t offset) {
        uint32_t count;
        std::memcpy(&count, take(itemStart, offset, 4), 4);
        return count;
    };
    auto readNumber = [&]<typename T>(uint64_t itemStart) {
        T value;
        std::memcpy(&value, take(itemStart, 1, sizeof(T)), sizeof(T));
        position = itemStart + 1 + sizeof(T);
        return value;
    };
    // A counted UTF-16 text of `length` bytes at `offset` from the item start
    // (an odd last byte is not part of it).
    auto readText = [&](uint64_t itemStart, uint64_t offset, uint32_t length) {
        const uint64_t at = check(itemStart, offset, length);
        std::u16string text(length / 2, u'\0');
        form.CopyOut(at, text.size() * 2, text.data());
        return text;
    };
    while (position < size) {
        const uint64_t item = position;
        const unsigned char byte = *form.Take(item, 1);
        const bool isValue = byte <= static_cast<unsigned char>(ValueKind::Error) || byte == kArray ||
            byte == kComposite;
        if (isValue && !depth.Value())
            Corrupted(form, item);
        switch (byte) {
        case kUnitBegin:
            walker.BeginUnit();
            position = item + 1;
            break;
        case kUnitEnd:
            depth.Close();
            walker.EndUnit();
            position = item + 1;
            break;
        case kArray:
            walker.Array(kNoElements);
            position = item + 1;
            break;
        case kComposite:
            walker.Composite(kNoProperties);
            position = item + 1;
            break;
        case kProperty:
        case kTrait: {
            // The letter, the String tag (not examined), the byte count, the UTF-16 text.
            const uint32_t length = readCount(item, 2);
            const std::u16string units = readText(item, 6, length);
            const Name name(std::u16string_view(units.c_str()));
            position = item + 6 + length;
            if (!depth.OpenNamed())
                Corrupted(form, item);
            if (byte == kProperty)
                walker.Property(name);
            else
                walker.Trait(name);
            break;
        }
        case 0:
            walker.Nil();
            position = item + 1;
            break;
        case 1:
            walker.Boolean(readNumber.template operator()<unsigned char>(item) != 0);
            break;
        case 2:
            walker.Byte(readNumber.template operator()<unsigned char>(item));
            break;
        case 3:
            walker.SByte(readNumber.template operator()<signed char>(item));
            break;
        case 4:
            walker.Word(readNumber.template operator()<unsigned short>(item));
            break;
        case 5:
            walker.SWord(readNumber.template operator()<short>(item));
            break;
        case 6:
            walker.DWord(readNumber.template operator()<unsigned int>(item));
            break;
        case 7:
            walker.SDWord(readNumber.template operator()<int>(item));
            break;
        case 8:
            walker.QWord(readNumber.template operator()<unsigned long long>(item));
            break;
        case 9:
            walker.SQWord(readNumber.template operator()<long long>(item));
            break;
        case 10:
            walker.Double(readNumber.template operator()<double>(item));
            break;
        case 11: {
            const uint32_t length = readCount(item, 1);
            const uint64_t at = check(item, 5, length);
            BlobType bytes(length);
            form.CopyOut(at, length, bytes.data());
            position = item + 5 + length;
            walker.Blob(bytes);
            break;
        }
        case 12:
            walker.Guid(readNumber.template operator()<GuidType>(item));
            break;
        case 13: {
            const uint32_t length = readCount(item, 1);
            std::u16string text = readText(item, 5, length);
            position = item + 5 + length;
            // A walker that builds units takes the text over; the walker
            // interface is of a fixed binary order, so it is asked by type.
            if (auto* building = dynamic_cast<UnitBuildingWalker*>(&walker))
                building->TakeString(text);
            else
                walker.String(text);
            break;
        }
        case 14: {
            const uint32_t length = readCount(item, 1);
            const unsigned char* bytes = take(item, 5, length);
            position = item + 5 + length;
            walker.Error(Common::DeserializeError(bytes, length));
            break;
        }
        default:
            Corrupted(form, item);
        }
    }
}

template <typename Form>
std::unique_ptr<Construction::Unit> BuildUnit(Form& form, const Construction::UnitFactory& factory)
{
    if (form.Size() == 0)
        return nullptr;
    UnitAccumulator accumulator(factory);
    UnitBuildingWalker walker(&accumulator);
    FollowForm(form, walker);
    return accumulator.TakeUnit();
}

} // namespace

std::unique_ptr<Construction::Unit> ReadBinaryUnit(const std::vector<unsigned char>& bytes,
                                                   const Construction::UnitFactory& factory)
{
    MemoryForm form(bytes.data(), bytes.size());
    return BuildUnit(form, factory);
}

std::unique_ptr<Construction::Unit> ReadBinaryUnit(::Serialization::ByteSource& source,
                                                   const Construction::UnitFactory& factory)
{
    StreamForm form(source);
    return BuildUnit(form, factory);
}

void BlobWalkingRoute::Follow(UnitWalker& walker) const
{
    MemoryForm form(m_data, m_size);
    FollowForm(form, walker);
}

} // namespace Por::Util
