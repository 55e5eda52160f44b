// Reads arbitrary bytes as a binary unit form, both as bare events and into a
// unit through the accumulator: either works or raises a Common::Error, and
// nothing reads outside the bytes. A unit that was built is written again and
// read back to the same form, and is no deeper than the reader's limit.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "core/common/error.h"
#include "enterprise/common/por/blob_walking_route.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/unit_building_walker.h"

namespace {

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
    // Every value counts by its bytes: a Double of any bits, a NaN or one
    // beyond the range of size_t included.
#define POR_FUZZ_SCALAR(Kind, Type)                  \
    void Kind(Type value) override                   \
    {                                                \
        unsigned char bytes[sizeof value];           \
        std::memcpy(bytes, &value, sizeof value);    \
        m_sum += bytes[0] + bytes[sizeof value - 1]; \
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
