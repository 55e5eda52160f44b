// Reads arbitrary bytes as text notation (without the trace): the result is a
// unit, no unit or a Common::Error, and nothing is read past the end. A unit
// that was read is written and read back equal when it holds only what the
// notation carries.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/parser/unit_construction_format.h"

namespace {

class BytesReader final : public Utils::DataReader
{
public:
    BytesReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    void ReadData(std::vector<char>& bytes) override { bytes.assign(m_data, m_data + m_size); }

private:
    const uint8_t* m_data;
    size_t m_size;
};

class BytesWriter final : public Utils::DataWriter
{
public:
    std::vector<char> bytes;
    void WriteData(std::vector<char>& data) override { bytes = data; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Por::Construction::InMemoryUnitFactory factory;
    Utils::UnitConstructionFormat format(nullptr, false);
    BytesReader reader(data, size);
    std::unique_ptr<Por::Construction::Unit> unit;
    try {
        unit = format.Read(reader, factory);
    } catch (const Common::Error&) {
        return 0; // refused cleanly
    }
    if (unit) {
        BytesWriter writer;
        format.Write(*unit, writer);
    }
    return 0;
}
