#include "enterprise/common/por/blob_walking_route.h"

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

std::unique_ptr<Construction::Unit> ReadBinaryUnit(const std::vector<unsigned char>& bytes,
                                                   const Construction::UnitFactory& factory)
{
    if (bytes.empty())
        return nullptr;
    UnitAccumulator accumulator(factory);
    UnitBuildingWalker walker(&accumulator);
    BlobWalkingRoute(bytes.data(), bytes.size()).Follow(walker);
    return accumulator.TakeUnit();
}

void BlobWalkingRoute::Corrupted(uint64_t position) const
{
    const uint64_t shown = m_size < kMaxCorruptedFormBytes ? m_size : kMaxCorruptedFormBytes;
    std::u16string form;
    form.reserve(shown * 2 + 3);
    static const char16_t kDigits[] = u"0123456789abcdef";
    for (uint64_t i = 0; i < shown; ++i) {
        form += kDigits[m_data[i] >> 4];
        form += kDigits[m_data[i] & 0xF];
    }
    if (shown < m_size)
        form += u"...";
    ThrowError(MakePorError(PorErrors::kCorruptedUnit, PorErrors::kCorruptedUnitText, kSource.At("Follow", 251),
                            {form, Common::FromUtf8(std::to_string(position).c_str())}));
}

void BlobWalkingRoute::Follow(UnitWalker& walker) const
{
    if (m_size >= kFormLimit)
        Corrupted(0);
    BuildingDepth depth(kMaxUnitDepth);
    uint64_t position = 0;
    // The `count` bytes at `offset` from the item start, or a corrupted form.
    auto take = [&](uint64_t itemStart, uint64_t offset, uint64_t count) -> const unsigned char* {
        if (offset + count > m_size - itemStart)
            Corrupted(itemStart);
        return m_data + itemStart + offset;
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
    while (position < m_size) {
        const uint64_t item = position;
        const unsigned char byte = m_data[item];
        const bool isValue = byte <= static_cast<unsigned char>(ValueKind::Error) || byte == kArray ||
            byte == kComposite;
        if (isValue && !depth.Value())
            Corrupted(item);
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
            const unsigned char* text = take(item, 6, length);
            std::u16string units(length / 2, u'\0');
            std::memcpy(units.data(), text, units.size() * 2);
            const Name name(std::u16string_view(units.c_str()));
            position = item + 6 + length;
            if (!depth.OpenNamed())
                Corrupted(item);
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
            walker.Boolean(readNumber.operator()<unsigned char>(item) != 0);
            break;
        case 2:
            walker.Byte(readNumber.operator()<unsigned char>(item));
            break;
        case 3:
            walker.SByte(readNumber.operator()<signed char>(item));
            break;
        case 4:
            walker.Word(readNumber.operator()<unsigned short>(item));
            break;
        case 5:
            walker.SWord(readNumber.operator()<short>(item));
            break;
        case 6:
            walker.DWord(readNumber.operator()<unsigned int>(item));
            break;
        case 7:
            walker.SDWord(readNumber.operator()<int>(item));
            break;
        case 8:
            walker.QWord(readNumber.operator()<unsigned long long>(item));
            break;
        case 9:
            walker.SQWord(readNumber.operator()<long long>(item));
            break;
        case 10:
            walker.Double(readNumber.operator()<double>(item));
            break;
        case 11: {
            const uint32_t length = readCount(item, 1);
            const unsigned char* bytes = take(item, 5, length);
            position = item + 5 + length;
            walker.Blob(BlobType(bytes, bytes + length));
            break;
        }
        case 12:
            walker.Guid(readNumber.operator()<GuidType>(item));
            break;
        case 13: {
            const uint32_t length = readCount(item, 1);
            const unsigned char* bytes = take(item, 5, length);
            std::u16string text(length / 2, u'\0');
            std::memcpy(text.data(), bytes, text.size() * 2);
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
            Corrupted(item);
        }
    }
}

} // namespace Por::Util
