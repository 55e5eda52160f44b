// Fuzz target: random chunk streams restored into a scratch directory. The
// restore must never crash, read or allocate out of bounds, or leak; a failed
// restore leaves no item behind unless it made a directory.
//
// Input: one byte of "RSTR" flags, then chunks, each a type byte, a 16-bit
// little-endian payload length and the payload (a last chunk may be short).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>

#include "core/file/unix/posix_dir.h"
#include "core/file/unix/posix_restore.h"
#include "core/include/file/file.h"

namespace {

// A chunk's payload, read in place.
class PayloadStream : public i_file
{
public:
    PayloadStream(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    using i_file::Read;
    void Read(void* buffer, uint64_t size, uint64_t* bytesRead) override
    {
        const uint64_t count = size < m_size - m_at ? size : m_size - m_at;
        if (count)
            std::memcpy(buffer, m_data + m_at, count);
        m_at += count;
        *bytesRead = count;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

class FuzzSource : public restore_chunk_source
{
public:
    FuzzSource(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    i_file* GetNextChunk(uint8_t& type) override
    {
        if (m_at >= m_size)
            return nullptr;
        type = m_data[m_at++];
        size_t length = 0;
        if (m_at + 2 <= m_size) {
            length = m_data[m_at] | size_t{m_data[m_at + 1]} << 8;
            m_at += 2;
        } else {
            m_at = m_size;
        }
        if (length > m_size - m_at)
            length = m_size - m_at;
        auto* stream = new PayloadStream(m_data + m_at, length);
        m_at += length;
        return stream;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

struct Scratch
{
    Scratch()
    {
        char pattern[] = "/tmp/posix_restore_fuzz.XXXXXX";
        if (!mkdtemp(pattern))
            std::abort();
        path = pattern;
    }
    ~Scratch()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > 1 << 20)
        return 0;
    static Scratch scratch;
    posix_dir directory(scratch.path);
    FuzzSource source(data + 1, size - 1);
    rstr_request request{MakeControlCode("RSTR"), {&source, nullptr, data[0]}, u"item"};
    directory.IOCTL(&request);
    const bool failed = directory.IsFailed();
    (void)directory.TakeError(); // any outcome is fine; what matters is what it leaves

    const std::string item = scratch.path + "/item";
    struct stat status;
    const bool exists = lstat(item.c_str(), &status) == 0;
    if (failed && exists && !S_ISDIR(status.st_mode))
        std::abort(); // a failed restore removes what it made
    std::error_code ignored;
    std::filesystem::remove_all(item, ignored);
    return 0;
}
