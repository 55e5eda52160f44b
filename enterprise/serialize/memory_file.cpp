#include "enterprise/serialize/memory_file.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "enterprise/serialize/base64_decode.h"

namespace Serialization {

namespace {

// A random-access input file over a byte buffer that it owns.
class MemoryFile : public ri_file
{
public:
    MemoryFile(std::unique_ptr<uint8_t[]> buffer, int64_t size) : m_buffer(std::move(buffer)), m_size(size) {}

    using i_file::Read;

    void Read(void* buffer, uint64_t length, uint64_t* bytesRead) override
    {
        *bytesRead = 0;
        if (IsFailed() || length == 0 || m_position < 0 || m_position >= m_size)
            return;
        const uint64_t available = static_cast<uint64_t>(m_size - m_position);
        const uint64_t count = length < available ? length : available;
        std::memcpy(buffer, m_buffer.get() + m_position, static_cast<size_t>(count));
        m_position += static_cast<int64_t>(count);
        *bytesRead = count;
    }

    uint64_t Seek(uint64_t position) override
    {
        m_position = static_cast<int64_t>(position);
        return position;
    }

    uint64_t Move(int64_t delta) override
    {
        m_position = static_cast<int64_t>(static_cast<uint64_t>(m_position) + static_cast<uint64_t>(delta));
        return static_cast<uint64_t>(m_position);
    }

    uint64_t SeekEnd(int64_t delta) override
    {
        m_position = static_cast<int64_t>(static_cast<uint64_t>(m_size) + static_cast<uint64_t>(delta));
        return static_cast<uint64_t>(m_position);
    }

    uint64_t GetSize() override { return static_cast<uint64_t>(m_size); }

private:
    std::unique_ptr<uint8_t[]> m_buffer;
    int64_t m_size;
    int64_t m_position = 0;
};

} // namespace

std::unique_ptr<ri_file> CreateMemoryFile(const xml_tag& element)
{
    static const std::u16string kEmpty;
    const std::u16string& text = element.Text.empty() ? kEmpty : element.Text.front();
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[Base64DecodedCapacity(text.size())]);
    const uint8_t* end =
        DecodeBase64(buffer.get(), text.data(), text.data() + text.size(), kBase64ClassTable.data());
    if (end == nullptr)
        return nullptr;
    const int64_t size = end - buffer.get();
    return std::make_unique<MemoryFile>(std::move(buffer), size);
}

} // namespace Serialization
