// The binary unit form: the byte encoding of one unit, a wire format shared
// with the remote services (units travel in it as the "value" element of the
// XML packets).
//
// The form is a sequence of items, each starting with one byte: 'U' (0x55) a
// unit begins, 'E' (0x45) it ends, 'A' (0x41) its value is an Array (elements
// follow, each a complete unit), 'C' (0x43) a Composite (properties follow),
// 'P' (0x50) / 'T' (0x54) a property / trait followed by its name (written as
// a String item) and its value unit; or a value tag 0..14 (the kind index)
// followed by the payload: 1, 1, 1, 2, 2, 4, 4, 8, 8, 8 bytes for Boolean ..
// Double, a u32 byte count and the bytes for Blob, String (UTF-16) and Error
// (the error blob), 16 bytes for Guid. Little-endian throughout; no header.
// A unit is written U, value, traits (in the trait set's order), E.
//
// The writer refuses what the reader could not read back (0x9C0005 "The value
// is too large to be written into a packet."): a Blob or error blob of 2^32
// bytes or more, a String or name of 2^31 UTF-16 units or more, a form of
// 2^32 bytes or more; the output vector is then left as it was.
//
// The reader never reads past the end: an unknown item byte, a name header, a
// count or a payload cut by the end, input of 2^32 bytes or more, and units
// nested deeper than kMaxUnitDepth raise a Common::Error 0xFA0021 "POR: Unit
// object '{0}' is corrupted at position '{1}'." ({0} the form in lower-case hex,
// cut after kMaxCorruptedFormBytes bytes with "..."; {1} the position of the
// item). A Boolean payload byte reads as byte != 0.
//
// Declaration order of BinaryDataConsumer is the binary order; never insert
// or reorder.
// Threading: the caller's thread, over bytes and units no one changes.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/common/non_copyable.h"
#include "enterprise/common/por/hierarchy_walk.h"
#include "enterprise/common/por/unit_factory.h"
#include "enterprise/serialize/byte_source.h"

namespace Por::Util {

inline constexpr uint32_t kMaxUnitDepth = 1000;
inline constexpr uint32_t kMaxCorruptedFormBytes = 256;

// The byte sink of the writer.
class BinaryDataConsumer : private Common::NonCopyable
{
public:
    virtual ~BinaryDataConsumer() = default;
    virtual void Write(const void* bytes, uint32_t length) = 0;
};

// A walker that writes every walk event as its item.
class BinaryDataProvider final : public UnitWalker
{
public:
    explicit BinaryDataProvider(BinaryDataConsumer& consumer) noexcept : m_consumer(consumer) {}

    void BeginUnit() override;
    void EndUnit() override;
    void Property(const Name& name) override;
    void Trait(const Name& name) override;
    void Nil() override;
#define POR_PROVIDER_SCALAR(Kind, Type) void Kind(Type value) override;
    POR_SCALAR_KINDS(POR_PROVIDER_SCALAR)
#undef POR_PROVIDER_SCALAR
#define POR_PROVIDER_COMPLEX(Kind, Type) void Kind(const Type& value) override;
    POR_COMPLEX_KINDS(POR_PROVIDER_COMPLEX)
#undef POR_PROVIDER_COMPLEX
    void Array(const View::ArrayValue& value) override;
    void Composite(const View::CompositeValue& value) override;

private:
    void WriteByte(unsigned char byte);
    template <typename T>
    void Item(unsigned char tag, T value);
    void Counted(unsigned char tag, const void* bytes, uint64_t length);
    void NameItem(unsigned char letter, const Name& name);

    BinaryDataConsumer& m_consumer;
};

// Appends the form of `unit` to `out` (earlier content stays in front); the
// vector grows once, to the form's size.
void WriteBinaryUnit(const View::Unit& unit, std::vector<unsigned char>& out);
// The number of bytes of the form of `unit`, with the same refusals as
// WriteBinaryUnit; nothing is written.
uint64_t MeasureBinaryUnit(const View::Unit& unit);
// Hands the form of `unit` to `consumer` piece by piece, without the check of
// the form's total size (MeasureBinaryUnit makes it).
void WriteBinaryUnit(const View::Unit& unit, BinaryDataConsumer& consumer);

// The unit the bytes describe, built with the factory through a unit
// accumulator; null for no bytes, or when no root unit was completed (the
// bytes end before the root's 'E', or a lone 'E' closes an empty root). Errors
// of the bytes and of the building pass through, and what was built is
// released.
std::unique_ptr<Construction::Unit> ReadBinaryUnit(const std::vector<unsigned char>& bytes,
                                                   const Construction::UnitFactory& factory);
// The same over a form that `source` hands over piece by piece: the form is
// never held whole, a String's text goes from the source into its unit.
std::unique_ptr<Construction::Unit> ReadBinaryUnit(::Serialization::ByteSource& source,
                                                   const Construction::UnitFactory& factory);

// The reader: drives a walker with the events the bytes describe.
class BlobWalkingRoute
{
public:
    BlobWalkingRoute(const unsigned char* data, uint64_t size) noexcept : m_data(data), m_size(size) {}

    void Follow(UnitWalker& walker) const;

private:
    const unsigned char* m_data;
    uint64_t m_size;
};

} // namespace Por::Util
