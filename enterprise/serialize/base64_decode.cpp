#include "enterprise/serialize/base64_decode.h"

namespace Serialization {

namespace {

// Class of one character: codes above 127 are invalid.
inline uint8_t ClassOf(char16_t c, const uint8_t* table)
{
    return c < 128 ? table[c] : kBase64Invalid;
}

inline uint8_t ClassOf(char c, const uint8_t* table)
{
    return ClassOf(static_cast<char16_t>(static_cast<unsigned char>(c)), table);
}

// Where DecodeBase64 writes its bytes.
struct ToMemory
{
    uint8_t* out;
    void Put(uint8_t byte) { *out++ = byte; }
};

// What MeasureBase64 makes of them: a count.
struct Counting
{
    uint64_t count = 0;
    void Put(uint8_t) { ++count; }
};

// Decodes [begin, end) into `result`; false for a text that is not Base64.
// The sink is worked on as a local, which no byte written can alias.
template <typename Unit, typename Out>
bool Decode(Out& result, const Unit* begin, const Unit* end, const uint8_t* table)
{
    Out out = result;
    uint32_t group = 0;
    unsigned count = 0;
    const Unit* p = begin;
    while (p < end) {
        const uint8_t value = ClassOf(*p++, table);
        if (value == kBase64Skip)
            continue;
        if (value < 64) {
            group = group << 6 | value;
            if (++count == 4) {
                out.Put(static_cast<uint8_t>(group >> 16));
                out.Put(static_cast<uint8_t>(group >> 8));
                out.Put(static_cast<uint8_t>(group));
                group = 0;
                count = 0;
            }
            continue;
        }
        if (value != kBase64Fill)
            return false;
        // The fill ends the data.
        if (count < 2)
            return false;
        if (count == 2) {
            while (p < end && ClassOf(*p, table) == kBase64Skip)
                ++p;
            if (p == end || ClassOf(*p, table) != kBase64Fill)
                return false;
            ++p;
            out.Put(static_cast<uint8_t>(group >> 4));
        } else {
            out.Put(static_cast<uint8_t>(group >> 10));
            out.Put(static_cast<uint8_t>(group >> 2));
        }
        while (p < end)
            if (ClassOf(*p++, table) != kBase64Skip)
                return false;
        result = out;
        return true;
    }
    result = out;
    return count == 0;
}

} // namespace

uint8_t* DecodeBase64(uint8_t* out, const char16_t* begin, const char16_t* end, const uint8_t* table)
{
    ToMemory memory{out};
    return Decode(memory, begin, end, table) ? memory.out : nullptr;
}

uint8_t* DecodeBase64(uint8_t* out, const char* begin, const char* end, const uint8_t* table)
{
    ToMemory memory{out};
    return Decode(memory, begin, end, table) ? memory.out : nullptr;
}

bool MeasureBase64(const char16_t* begin, const char16_t* end, const uint8_t* table, uint64_t& size)
{
    Counting counting;
    const bool valid = Decode(counting, begin, end, table);
    size = counting.count;
    return valid;
}

bool MeasureBase64(const char* begin, const char* end, const uint8_t* table, uint64_t& size)
{
    Counting counting;
    const bool valid = Decode(counting, begin, end, table);
    size = counting.count;
    return valid;
}

template <typename Unit>
size_t Base64Stream<Unit>::Read(uint8_t* out, size_t count)
{
    const size_t wanted = count;
    while (count > 0 && m_held < m_heldCount) {
        *out++ = m_pending[m_held++];
        --count;
    }
    // Whole groups straight into `out`.
    while (count >= 3) {
        const unsigned produced = NextGroup(out);
        if (produced == 0)
            return wanted - count;
        out += produced;
        count -= produced;
    }
    while (count > 0) {
        if (m_held == m_heldCount) {
            m_heldCount = NextGroup(m_pending);
            m_held = 0;
            if (m_heldCount == 0)
                break;
        }
        *out++ = m_pending[m_held++];
        --count;
    }
    return wanted - count;
}

template <typename Unit>
unsigned Base64Stream<Unit>::NextGroup(uint8_t* out)
{
    // The text was measured: only alphabet, white space and the final fill are left in it.
    uint32_t group = 0;
    unsigned count = 0;
    while (count < 4 && m_next < m_end) {
        const uint8_t value = ClassOf(*m_next, m_table);
        if (value == kBase64Fill)
            break;
        ++m_next;
        if (value == kBase64Skip)
            continue;
        group = group << 6 | value;
        ++count;
    }
    if (count == 4) {
        out[0] = static_cast<uint8_t>(group >> 16);
        out[1] = static_cast<uint8_t>(group >> 8);
        out[2] = static_cast<uint8_t>(group);
        return 3;
    }
    if (count == 3) {
        out[0] = static_cast<uint8_t>(group >> 10);
        out[1] = static_cast<uint8_t>(group >> 2);
        return 2;
    }
    if (count == 2) {
        out[0] = static_cast<uint8_t>(group >> 4);
        return 1;
    }
    return 0; // the end of the data
}

template class Base64Stream<char>;
template class Base64Stream<char16_t>;

} // namespace Serialization
