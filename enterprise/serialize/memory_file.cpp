#include "enterprise/serialize/memory_file.h"

#include <cstdint>
#include <utility>

#include "core/file/byte_range_cursor.h"
#include "enterprise/serialize/base64_decode.h"

namespace Serialization {

namespace {

// A random-access input file over a byte buffer that it owns.
class MemoryFile : public ri_file
{
public:
    MemoryFile(std::unique_ptr<uint8_t[]> buffer, int64_t size)
        : m_buffer(std::move(buffer)), m_cursor{m_buffer.get(), static_cast<uint64_t>(size)}
    {
    }

    using i_file::Read;

    void Read(void* buffer, uint64_t length, uint64_t* bytesRead) override
    {
        *bytesRead = 0;
        if (IsFailed())
            return;
        *bytesRead = m_cursor.Read(buffer, length);
    }

    uint64_t Seek(uint64_t position) override { return m_cursor.Seek(position); }
    uint64_t Move(int64_t delta) override { return m_cursor.Move(delta); }
    uint64_t SeekEnd(int64_t delta) override { return m_cursor.SeekEnd(delta); }
    uint64_t GetSize() override { return m_cursor.size; }

private:
    std::unique_ptr<uint8_t[]> m_buffer;
    byte_range_cursor m_cursor;
};

} // namespace

std::unique_ptr<ri_file> CreateMemoryFile(const xml_tag& element)
{
    static const xml_text kNoText;
    const xml_text& text = element.Text.empty() ? kNoText : element.Text.front();
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[Base64DecodedCapacity(text.size())]);
    const uint8_t* end = text.visit([&buffer](auto units) {
        return DecodeBase64(buffer.get(), units.data(), units.data() + units.size(), kBase64ClassTable.data());
    });
    if (end == nullptr)
        return nullptr;
    const int64_t size = end - buffer.get();
    return std::make_unique<MemoryFile>(std::move(buffer), size);
}

} // namespace Serialization
