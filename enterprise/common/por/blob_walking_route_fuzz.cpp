// Reads arbitrary bytes as a binary unit form, both as bare events and into a
// unit through the accumulator: either works or raises a Common::Error, and
// nothing reads outside the bytes. A unit that was built is written again and
// read back to the same form, and is no deeper than the reader's limit. Read
// from a source that hands the bytes over front to back, the bytes give the
// same unit or the same error.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "enterprise/common/por/blob_walking_route.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/unit_building_walker.h"

namespace {

template <typename T>
size_t Fold(T value)
{
    return static_cast<size_t>(value);
}

// A double by its bits: converting NaN, an infinity or a value beyond the
// integer's range to an integer is undefined.
size_t Fold(double value)
{
    return static_cast<size_t>(std::bit_cast<uint64_t>(value));
}

// Touches every value the reader hands over.
class Sink final : public Por::Util::UnitWalker
{
public:
    void BeginUnit() override
    {
        if (++m_depth > m_deepest)
            m_deepest = m_depth;
    }
    void EndUnit() override { --m_depth; }
    void Property(const Por::Name& name) override { m_sum += name.GetText()[0]; }
    void Trait(const Por::Name& name) override { m_sum += name.GetText()[0]; }
    void Nil() override {}
#define POR_FUZZ_SCALAR(Kind, Type) \
    void Kind(Type value) override  \
    {                               \
        m_sum += Fold(value);       \
    }
    POR_SCALAR_KINDS(POR_FUZZ_SCALAR)
#undef POR_FUZZ_SCALAR
    void Blob(const Por::BlobType& value) override
    {
        m_sum += value.empty() ? 0 : value.back();
    }
    void Guid(const Por::GuidType& value) override
    {
        m_sum += value.last[7];
    }
    void String(const std::u16string& value) override
    {
        m_sum += value.empty() ? 0 : value.back();
    }
    void Error(const Common::Error& value) override
    {
        m_sum += value.GetText().size();
    }
    void Array(const Por::View::ArrayValue& value) override
    {
        m_sum += value.GetSize();
    }
    void Composite(const Por::View::CompositeValue&) override
    {
    }

    size_t Deepest() const
    {
        return m_deepest;
    }

private:
    size_t m_sum = 0;
    size_t m_depth = 0;
    size_t m_deepest = 0;
};

// Hands the bytes over front to back; asking for more than there are aborts.
class Source final : public Serialization::ByteSource
{
public:
    explicit Source(const std::vector<unsigned char>& bytes) : m_bytes(bytes) {}
    uint64_t Size() const override { return m_bytes.size(); }
    void Read(unsigned char* out, size_t count) override
    {
        if (count > m_bytes.size() - m_read)
            std::abort();
        if (count > 0)
            std::memcpy(out, m_bytes.data() + m_read, count);
        m_read += count;
    }
    void ReadFirst(unsigned char* out, size_t count) const override
    {
        if (count > m_bytes.size())
            std::abort();
        if (count > 0)
            std::memcpy(out, m_bytes.data(), count);
    }

private:
    const std::vector<unsigned char>& m_bytes;
    size_t m_read = 0;
};

// The unit's form written again, or the error's code and text.
template <typename Read>
std::u16string Outcome(Read read)
{
    try {
        const std::unique_ptr<Por::Construction::Unit> unit = read();
        if (!unit)
            return u"null";
        std::vector<unsigned char> form;
        Por::Util::WriteBinaryUnit(*unit, form);
        return std::u16string(form.begin(), form.end());
    } catch (const Common::Error& error) {
        return std::u16string(1, static_cast<char16_t>(error.GetCode() & 0xFFFF)) + error.GetText();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Sink sink;
    try {
        Por::Util::BlobWalkingRoute(data, size).Follow(sink);
    } catch (const Common::Error&) {
        // a corrupted form: refused cleanly
    }
    const Por::Construction::InMemoryUnitFactory factory;
    const std::vector<unsigned char> bytes(data, data + size);
    Source source(bytes);
    if (Outcome([&] { return Por::Util::ReadBinaryUnit(bytes, factory); }) !=
        Outcome([&] { return Por::Util::ReadBinaryUnit(source, factory); }))
        std::abort();
    std::unique_ptr<Por::Construction::Unit> unit;
    try {
        unit = Por::Util::ReadBinaryUnit(std::vector<unsigned char>(data, data + size), factory);
    } catch (const Common::Error&) {
        return 0; // refused cleanly
    }
    if (unit) {
        Sink depth;
        Por::Util::WalkValueFirstGuide guide;
        Por::Util::WalkHierarchy(*unit, guide, depth);
        if (depth.Deepest() > Por::Util::kMaxUnitDepth)
            std::abort();
        std::vector<unsigned char> written;
        Por::Util::WriteBinaryUnit(*unit, written);
        std::vector<unsigned char> again;
        Por::Util::WriteBinaryUnit(*Por::Util::ReadBinaryUnit(written, factory), again);
        if (again != written)
            std::abort();
    }
    return 0;
}
