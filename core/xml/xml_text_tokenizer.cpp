#include "core/xml/xml_text_tokenizer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <typeinfo>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/file/buf_ifile.h"
#include "core/include/file/file.h"

namespace {

constexpr size_t kFirstReadSize = 4;
constexpr size_t kChunkSize = 0x8000;
// The buffer of the last load on this thread, kept for the next one up to
// kKeptBufferLimit bytes of room.
constexpr size_t kKeptBufferLimit = size_t{8} << 20;
thread_local std::string t_keptBuffer;

// Byte classes.
constexpr uint8_t kWhite = 0x01;      // 09 0A 0D 20
constexpr uint8_t kNameStart = 0x02;  // : A-Z _ a-z
constexpr uint8_t kNameChar = 0x04;   // name start, - . 0-9
constexpr uint8_t kContentRun = 0x08; // 21-25 27-3B 3D-FF
constexpr uint8_t kMarkupSkip = 0x10; // 09 0A 0D 20-FF: comment, PI and DOCTYPE bodies
constexpr uint8_t kCdataRun = 0x20;   // 20-FF

constexpr std::array<uint8_t, 256> MakeByteClasses()
{
    std::array<uint8_t, 256> table{};
    for (unsigned b = 0; b < 256; ++b) {
        uint8_t flags = 0;
        const bool white = b == 0x09 || b == 0x0A || b == 0x0D || b == 0x20;
        const bool nameStart = b == ':' || b == '_' || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
        if (white)
            flags |= kWhite;
        if (nameStart)
            flags |= kNameStart | kNameChar;
        if (b == '-' || b == '.' || (b >= '0' && b <= '9'))
            flags |= kNameChar;
        if (b > 0x20 && b != '&' && b != '<')
            flags |= kContentRun;
        if (white || b >= 0x20)
            flags |= kMarkupSkip;
        if (b >= 0x20)
            flags |= kCdataRun;
        table[b] = flags;
    }
    return table;
}

constexpr std::array<uint8_t, 256> kByteClass = MakeByteClasses();

// Every byte value, for texts of one character.
constexpr std::array<char, 256> MakeLatin1()
{
    std::array<char, 256> table{};
    for (unsigned b = 0; b < 256; ++b)
        table[b] = static_cast<char>(b);
    return table;
}

constexpr std::array<char, 256> kLatin1 = MakeLatin1();

inline bool Is(unsigned char byte, uint8_t mask)
{
    return (kByteClass[byte] & mask) != 0;
}

inline bool IsContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// Digit value of `byte` in base 10 or 16, or -1.
inline int DigitValue(unsigned char byte, unsigned base)
{
    if (byte >= '0' && byte <= '9')
        return byte - '0';
    if (base == 16) {
        if (byte >= 'a' && byte <= 'f')
            return byte - 'a' + 10;
        if (byte >= 'A' && byte <= 'F')
            return byte - 'A' + 10;
    }
    return -1;
}

#if defined(__SSE2__)
// Bit i set where byte i of the block ends a run of content: at or below a
// blank, '<' or '&'.
inline unsigned ContentStops(__m128i block)
{
    const __m128i low = _mm_cmpeq_epi8(_mm_max_epu8(block, _mm_set1_epi8(0x20)), _mm_set1_epi8(0x20));
    const __m128i markup = _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('<')),
                                        _mm_cmpeq_epi8(block, _mm_set1_epi8('&')));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(low, markup)));
}

// Stores the sixteen bytes of the block as sixteen units.
inline void WidenSixteen(__m128i block, char16_t* out)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(block, _mm_setzero_si128()));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(block, _mm_setzero_si128()));
}
#endif

} // namespace

xml_text_tokenizer::xml_text_tokenizer()
{
    m_buffer.swap(t_keptBuffer);
}

xml_text_tokenizer::~xml_text_tokenizer()
{
    m_buffer.clear();
    if (m_buffer.capacity() <= kKeptBufferLimit && m_buffer.capacity() > t_keptBuffer.capacity())
        m_buffer.swap(t_keptBuffer);
}

void xml_text_tokenizer::start(i_file* source, const char* copy)
{
    auto* memory = static_cast<buf_ifile<char>*>(source);
    const uint64_t rest = memory->Remaining();
    reset(source);
    m_data = copy;
    m_size = static_cast<size_t>(rest);
    m_end = true;
    m_inPlace = true;
    memory->Move(static_cast<int64_t>(rest));
    scan();
}

void xml_text_tokenizer::reset(i_file* source)
{
    m_condition = cond_start;
    m_blank = blank_suppressed;
    m_source = source;
    m_end = false;
    m_line = 1;
    m_column = 0;
    m_preserve = false;
    m_buffer.clear();
    m_data = m_buffer.data();
    m_size = 0;
    m_lexeme = 0;
    m_cursor = 0;
    m_counted = 0;
    m_token = token_error;
    m_inPlace = false;
}

void xml_text_tokenizer::start(i_file* source)
{
    reset(source);
    // Input that is one block in memory already (a packet always is) is read
    // where it lies. The source is left where reading it through would have
    // left it: behind the binary signature, or at the end. A class derived
    // from the memory file may read otherwise: it is read through.
    if (source != nullptr && typeid(*source) == typeid(buf_ifile<char>)) {
        auto* memory = static_cast<buf_ifile<char>*>(source);
        const uint64_t rest = memory->Remaining();
        if (rest <= std::numeric_limits<size_t>::max()) {
            m_data = memory->Rest();
            m_size = static_cast<size_t>(rest);
            m_end = true;
            m_inPlace = true;
            const bool binary = m_size >= kFirstReadSize && std::memcmp(m_data, "BXML", kFirstReadSize) == 0;
            memory->Move(static_cast<int64_t>(binary ? kFirstReadSize : rest));
        }
    }
    scan();
}

void xml_text_tokenizer::refill()
{
    if (m_end)
        return;
    if (m_lexeme > 0) {
        count_to(m_lexeme);
        m_buffer.erase(0, m_lexeme);
        m_cursor -= m_lexeme;
        m_counted = 0;
        m_lexeme = 0;
    }
    // Until the first four bytes are in, ask only for what is still missing of
    // them: the binary reader takes over right behind "BXML", whatever sizes
    // the source delivers.
    const size_t kept = m_buffer.size();
    const size_t want = m_condition == cond_start && kept < kFirstReadSize ? kFirstReadSize - kept : kChunkSize;
    uint64_t count = 0;
    if (m_source != nullptr) {
        m_buffer.resize(kept + want);
        m_source->Read(m_buffer.data() + kept, want, &count);
        if (count > want)
            count = want;
    }
    m_buffer.resize(kept + static_cast<size_t>(count));
    m_end = count == 0;
    m_data = m_buffer.data();
    m_size = m_buffer.size();
}

unsigned char xml_text_tokenizer::peek_beyond(size_t offset)
{
    while (m_cursor + offset >= m_size) {
        if (m_end)
            return 0;
        refill();
    }
    return static_cast<unsigned char>(m_data[m_cursor + offset]);
}

void xml_text_tokenizer::count_to(size_t position) noexcept
{
    // TAB moves the column to the next multiple of 8, LF starts a new line,
    // every other byte is one column.
    const unsigned char* p = reinterpret_cast<const unsigned char*>(m_data) + m_counted;
    const unsigned char* const end = reinterpret_cast<const unsigned char*>(m_data) + position;
    m_counted = position;
    uint32_t line = m_line;
    uint32_t column = m_column;
    while (p < end) {
        const void* newline = std::memchr(p, '\n', static_cast<size_t>(end - p));
        const unsigned char* const lineEnd = newline != nullptr ? static_cast<const unsigned char*>(newline) : end;
        while (const void* tab = std::memchr(p, '\t', static_cast<size_t>(lineEnd - p))) {
            column += static_cast<uint32_t>(static_cast<const unsigned char*>(tab) - p);
            column = (column | 7) + 1;
            p = static_cast<const unsigned char*>(tab) + 1;
        }
        column += static_cast<uint32_t>(lineEnd - p);
        p = lineEnd;
        if (p < end) {
            ++line;
            column = 0;
            ++p;
        }
    }
    m_line = line;
    m_column = column;
}

bool xml_text_tokenizer::error()
{
    // The end of the input ends the document; any byte that matches no rule
    // is an error.
    m_token = m_end && m_lexeme >= m_size ? token_end : token_error;
    return true;
}

inline bool xml_text_tokenizer::scan_tag_fast()
{
    // A start or end tag right at the cursor in content, its name and its
    // closing within the buffer: the token and state that scan_content,
    // scan_name and take_tag_close would leave. Anything else is left to
    // them, with nothing changed.
    const unsigned char* const data = reinterpret_cast<const unsigned char*>(m_data);
    const unsigned char* const end = data + m_size;
    const unsigned char* p = data + m_cursor;
    if (end - p < 4 || p[0] != '<')
        return false;
    const bool endTag = p[1] == '/';
    const size_t nameOffset = endTag ? 2 : 1;
    if (!Is(p[nameOffset], kNameStart) || (!endTag && m_blank == blank_pending))
        return false;
    const unsigned char* q = p + nameOffset + 1;
    while (q < end && Is(*q, kNameChar))
        ++q;
    if (end - q < 2)
        return false;
    m_lexeme = m_cursor;
    m_nameBegin = nameOffset;
    m_nameLength = static_cast<size_t>(q - p) - nameOffset;
    m_token = endTag ? token_end_tag : token_start_tag;
    m_blank = endTag ? blank_none : blank_suppressed;
    if (q[0] == '>') {
        ++q;
        m_condition = cond_content;
        m_closing = closing_content;
    } else if (!endTag && q[0] == '/' && q[1] == '>') {
        q += 2;
        m_condition = cond_content;
        m_blank = blank_none;
        m_closing = closing_empty;
    } else {
        m_condition = cond_tag;
    }
    m_cursor = static_cast<size_t>(q - data);
    return true;
}

void xml_text_tokenizer::scan()
{
    // Each token sets what it carries: a name, a closing, a text.
    m_closing = closing_none;
    // Tags and plain text runs in content, the usual tokens, first.
    if (m_condition == cond_content) {
        m_lexeme = m_cursor;
        if (scan_tag_fast())
            return;
        if (m_cursor < m_size && Is(static_cast<unsigned char>(m_data[m_cursor]), kContentRun)) {
            switch (fast_text_run()) {
            case run_plain:
                (void)text_token(true);
                return;
            case run_converted:
                (void)text_token(convert_joined_run());
                return;
            case run_none:
                break;
            }
        }
    }
    for (;;) {
        // Line and column of this lexeme are those of its first byte.
        m_lexeme = m_cursor;
        // Content comes up far more often than anything else.
        if (m_condition == cond_content) {
            if (scan_content())
                return;
            continue;
        }
        bool produced = false;
        switch (m_condition) {
        case cond_start:
            produced = scan_start();
            break;
        case cond_content:
            produced = scan_content();
            break;
        case cond_cdata:
            produced = scan_cdata();
            break;
        case cond_tag:
            produced = scan_tag();
            break;
        case cond_value_dq:
            produced = scan_value('"');
            break;
        case cond_value_sq:
            produced = scan_value('\'');
            break;
        case cond_comment:
            produced = scan_markup("-->");
            break;
        case cond_pi:
            produced = scan_markup("?>");
            break;
        case cond_doctype:
            produced = scan_markup(">", '[');
            break;
        default:
            produced = error();
            break;
        }
        if (produced)
            return;
    }
}

template <typename Accept>
void xml_text_tokenizer::skip_while(Accept accept)
{
    for (;;) {
        const unsigned char* data = reinterpret_cast<const unsigned char*>(m_data);
        const unsigned char* p = data + m_cursor;
        const unsigned char* end = data + m_size;
        while (p < end && accept(*p))
            ++p;
        m_cursor = static_cast<size_t>(p - data);
        if (p < end || m_end)
            return;
        refill();
    }
}

void xml_text_tokenizer::skip_run(uint8_t mask)
{
    skip_while([mask](unsigned char byte) { return Is(byte, mask); });
}

void xml_text_tokenizer::skip_run(uint8_t mask, unsigned char stop, unsigned char stop2)
{
    skip_while([=](unsigned char byte) { return Is(byte, mask) && byte != stop && byte != stop2; });
}

void xml_text_tokenizer::scan_name(size_t offset)
{
    // The byte at `offset` is a name start; the name runs to the first byte
    // that is no name character.
    m_cursor += offset;
    const size_t begin = m_cursor - m_lexeme;
    const unsigned char* const data = reinterpret_cast<const unsigned char*>(m_data);
    const unsigned char* p = data + m_cursor;
    const unsigned char* const end = data + m_size;
    while (p < end && Is(*p, kNameChar))
        ++p;
    m_cursor = static_cast<size_t>(p - data);
    if (p == end)
        skip_run(kNameChar);
    m_nameBegin = begin;
    m_nameLength = m_cursor - m_lexeme - begin;
}

bool xml_text_tokenizer::scan_start()
{
    const unsigned char b0 = peek(0), b1 = peek(1), b2 = peek(2), b3 = peek(3);
    if (b0 == 'B' && b1 == 'X' && b2 == 'M' && b3 == 'L') {
        m_cursor += 4;
        m_token = token_binary_magic;
        return true;
    }
    if (b0 == 0xEF && b1 == 0xBB && b2 == 0xBF)
        m_cursor += 3;
    m_condition = cond_content;
    return false;
}

bool xml_text_tokenizer::scan_content()
{
    const unsigned char c = peek(0);
    if (Is(c, kWhite)) {
        // Mostly one blank between words.
        if (m_cursor + 1 < m_size && !Is(static_cast<unsigned char>(m_data[m_cursor + 1]), kWhite))
            ++m_cursor;
        else
            skip_run(kWhite);
        if (m_preserve)
            return text_token(convert_text(m_lexeme, m_cursor));
        if (m_blank == blank_none)
            m_blank = blank_pending;
        return false;
    }
    if (c == '<') {
        const unsigned char c1 = peek(1);
        if (c1 == '!') {
            if (peek(2) == '-' && peek(3) == '-') {
                m_cursor += 4;
                m_condition = cond_comment;
                return false;
            }
            static const char kDoctype[] = "DOCTYPE";
            static const char kCdata[] = "[CDATA[";
            bool doctype = true;
            bool cdata = true;
            for (size_t i = 0; i < 7; ++i) {
                const unsigned char b = peek(2 + i);
                doctype = doctype && b == static_cast<unsigned char>(kDoctype[i]);
                cdata = cdata && b == static_cast<unsigned char>(kCdata[i]);
            }
            if (doctype && Is(peek(9), kWhite)) {
                m_cursor += 10;
                m_condition = cond_doctype;
                return false;
            }
            if (cdata) {
                if (m_blank == blank_pending)
                    return blank_token();
                m_cursor += 9;
                m_condition = cond_cdata;
                m_blank = blank_none;
                return false;
            }
            return error();
        }
        if (c1 == '/') {
            if (!Is(peek(2), kNameStart))
                return error();
            scan_name(2);
            m_token = token_end_tag;
            m_condition = cond_tag;
            m_blank = blank_none;
            take_tag_close();
            return true;
        }
        if (c1 == '?') {
            m_cursor += 2;
            m_condition = cond_pi;
            return false;
        }
        if (Is(c1, kNameStart)) {
            if (m_blank == blank_pending)
                return blank_token();
            scan_name(1);
            m_token = token_start_tag;
            m_condition = cond_tag;
            m_blank = blank_suppressed;
            take_tag_close();
            return true;
        }
        return error();
    }
    if (c == '&')
        return scan_reference();
    if (Is(c, kContentRun)) {
        switch (fast_text_run()) {
        case run_plain:
            return text_token(true);
        case run_converted:
            return text_token(convert_joined_run());
        case run_none:
            break;
        }
        skip_text_run();
        return text_token(convert_joined_run());
    }
    return error();
}

inline xml_text_tokenizer::run_kind xml_text_tokenizer::fast_text_run()
{
#if defined(__SSE2__)
    // Scans a run of words joined by single blanks, sixteen bytes at a time,
    // while the buffer holds them. A run of ASCII is its own units; a run
    // with a byte from 80 is left to convert_joined_run. The end of the
    // buffer near leaves the run to the general scan from its start.
    const unsigned char* const data = reinterpret_cast<const unsigned char*>(m_data);
    const unsigned char* p = data + m_cursor;
    const unsigned char* const end = data + m_size;
    unsigned high = 0;
    while (end - p >= 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const unsigned stops = ContentStops(chunk);
        const unsigned blanks = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_set1_epi8(' '))));
        const unsigned chunkHigh = static_cast<unsigned>(_mm_movemask_epi8(chunk));
        for (unsigned pending = stops; pending != 0; pending &= pending - 1) {
            const unsigned at = static_cast<unsigned>(__builtin_ctz(pending));
            const unsigned bit = 1u << at;
            if ((blanks & bit) != 0) {
                // A blank joins the words around it when a content byte
                // (any byte from 80 among them) follows it.
                const unsigned char* next = p + at + 1;
                if (next == end)
                    return run_none;
                if (at < 15 ? (stops & (bit << 1)) == 0 : Is(*next, kContentRun))
                    continue;
            }
            m_cursor = static_cast<size_t>(p + at - data);
            if ((high | (chunkHigh & (bit - 1))) != 0)
                return run_converted;
            narrow_token(m_lexeme, m_cursor);
            return run_plain;
        }
        high |= chunkHigh;
        p += 16;
    }
#endif
    return run_none;
}

bool xml_text_tokenizer::convert_joined_run()
{
    const uint32_t line = m_line;
    const uint32_t column = m_column;
    const size_t counted = m_counted;
    if (convert_text(m_lexeme, m_cursor))
        return true;
    // A fault in a later word: the words before it make the text, as they
    // would without the joining, and the scan stops at the blank before the
    // fault, so that the fault is met again on its own with its position.
    size_t blank = m_failedAt;
    while (blank > m_lexeme && m_data[blank - 1] != ' ')
        --blank;
    if (blank == m_lexeme)
        return false;
    --blank;
    m_line = line;
    m_column = column;
    m_counted = counted;
    m_textLength = 0;
    m_textWide = false;
    m_cursor = blank;
    return convert_text(m_lexeme, blank);
}

void xml_text_tokenizer::skip_text_run()
{
    // Words joined by single blanks are one text: a lone blank between two
    // content bytes comes out as itself whether or not white space is kept.
    for (;;) {
        skip_content_run();
        if (m_cursor + 1 < m_size) {
            const unsigned char* next = reinterpret_cast<const unsigned char*>(m_data) + m_cursor;
            if (next[0] != ' ' || !Is(next[1], kContentRun))
                return;
        } else if (peek(0) != ' ' || !Is(peek(1), kContentRun)) {
            return;
        }
        m_cursor += 1;
    }
}

void xml_text_tokenizer::skip_content_run()
{
#if defined(__SSE2__)
    // Sixteen bytes at a time up to the first byte at or below a blank, '&'
    // or '<'; the rest, near the end of the buffer, byte by byte.
    for (;;) {
        const unsigned char* data = reinterpret_cast<const unsigned char*>(m_data);
        while (m_size - m_cursor >= 16) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + m_cursor));
            const unsigned stop = ContentStops(chunk);
            if (stop != 0) {
                m_cursor += static_cast<size_t>(__builtin_ctz(stop));
                return;
            }
            m_cursor += 16;
        }
        const unsigned char* p = data + m_cursor;
        const unsigned char* end = data + m_size;
        while (p < end && Is(*p, kContentRun))
            ++p;
        m_cursor = static_cast<size_t>(p - data);
        if (p < end || m_end)
            return;
        refill();
    }
#else
    skip_run(kContentRun);
#endif
}

void xml_text_tokenizer::take_tag_close()
{
    // The same moves as scanning the closing token on its own would make;
    // the lexeme stays at the start of the tag.
    const unsigned char c = peek(0);
    if (c == '>') {
        m_cursor += 1;
        m_condition = cond_content;
        m_closing = closing_content;
    } else if (c == '/' && m_token == token_start_tag && peek(1) == '>') {
        m_cursor += 2;
        m_condition = cond_content;
        m_blank = blank_none;
        m_closing = closing_empty;
    }
}

bool xml_text_tokenizer::scan_tag()
{
    const unsigned char c = peek(0);
    if (Is(c, kWhite)) {
        skip_run(kWhite);
        return false;
    }
    if (c == '/') {
        if (peek(1) != '>')
            return error();
        m_cursor += 2;
        m_token = token_empty_close;
        m_condition = cond_content;
        m_blank = blank_none;
        return true;
    }
    if (Is(c, kNameStart)) {
        scan_name(0);
        m_token = token_attribute_name;
        return true;
    }
    if (c == '=') {
        size_t offset = 1;
        while (Is(peek(offset), kWhite))
            ++offset;
        const unsigned char quote = peek(offset);
        if (quote != '"' && quote != '\'')
            return error();
        m_cursor += offset + 1;
        m_token = token_value_open;
        m_condition = quote == '"' ? cond_value_dq : cond_value_sq;
        m_blank = blank_suppressed;
        return true;
    }
    if (c == '>') {
        m_cursor += 1;
        m_token = token_tag_close;
        m_condition = cond_content;
        return true;
    }
    return error();
}

bool xml_text_tokenizer::scan_value(unsigned char quote)
{
    const unsigned char c = peek(0);
    if (Is(c, kWhite)) {
        m_cursor += 1;
        if (m_blank == blank_none)
            m_blank = blank_pending;
        return false;
    }
    if (c == quote) {
        m_cursor += 1;
        m_condition = cond_tag;
        m_blank = blank_suppressed;
        return false;
    }
    if (c == '&')
        return scan_reference();
    if (!Is(c, kContentRun))
        return error();
    skip_run(kContentRun, quote);
    return text_token(convert_text(m_lexeme, m_cursor));
}

bool xml_text_tokenizer::scan_cdata()
{
    const unsigned char c = peek(0);
    if (c == '\t' || c == '\n') {
        m_cursor += 1;
        return char_token(c);
    }
    if (c == '\r') {
        m_cursor += 1;
        return false;
    }
    if (c == ']') {
        if (peek(1) == ']' && peek(2) == '>') {
            m_cursor += 3;
            m_condition = cond_content;
            narrow_token(m_cursor, m_cursor); // no text, but a pending blank
            return text_token(true);
        }
        m_cursor += 1;
        return char_token(']');
    }
    if (!Is(c, kCdataRun))
        return error();
    skip_run(kCdataRun, ']');
    return text_token(convert_text(m_lexeme, m_cursor));
}

bool xml_text_tokenizer::scan_markup(const char* terminator, unsigned char forbidden)
{
    // Comment, PI and DOCTYPE bodies are skipped up to their terminator; a
    // lone first byte of the terminator is part of the body.
    const unsigned char c = peek(0);
    if (c == static_cast<unsigned char>(terminator[0])) {
        size_t length = 1;
        while (terminator[length] != '\0' && peek(length) == static_cast<unsigned char>(terminator[length]))
            ++length;
        if (terminator[length] == '\0') {
            m_cursor += length;
            m_condition = cond_content;
        } else {
            m_cursor += 1;
        }
        return false;
    }
    if (c == forbidden || !Is(c, kMarkupSkip))
        return error();
    skip_run(kMarkupSkip, static_cast<unsigned char>(terminator[0]), forbidden);
    return false;
}

bool xml_text_tokenizer::scan_reference()
{
    // The cursor stands on '&'.
    if (peek(1) == '#') {
        unsigned base = 10;
        size_t offset = 2;
        if (peek(2) == 'x') {
            base = 16;
            offset = 3;
        }
        // Values beyond the last code point stay beyond it, without overflow.
        uint32_t value = 0;
        size_t digits = 0;
        for (;; ++offset, ++digits) {
            const int digit = DigitValue(peek(offset), base);
            if (digit < 0)
                break;
            if (value <= 0x10FFFF)
                value = value * base + static_cast<uint32_t>(digit);
        }
        if (digits == 0 || peek(offset) != ';' || value > 0x10FFFF)
            return error();
        m_cursor += offset + 1;
        if (value <= 0xFF)
            return char_token(static_cast<unsigned char>(value));
        open_text();
        append_code_point(value);
        return text_token(true);
    }
    struct Entity
    {
        std::string_view name; // without '&', with ';'
        char value;
    };
    static constexpr Entity kEntities[] = {
        {"amp;", '&'}, {"apos;", '\''}, {"gt;", '>'}, {"lt;", '<'}, {"quot;", '"'},
    };
    for (const Entity& entity : kEntities) {
        size_t i = 0;
        while (i < entity.name.size() && peek(1 + i) == static_cast<unsigned char>(entity.name[i]))
            ++i;
        if (i == entity.name.size()) {
            m_cursor += 1 + entity.name.size();
            return char_token(static_cast<unsigned char>(entity.value));
        }
    }
    return error();
}

void xml_text_tokenizer::append_code_point(uint32_t value)
{
    if (value > 0xFFFF) {
        push_text(static_cast<char16_t>(0xD800 | ((value - 0x10000) >> 10)));
        push_text(static_cast<char16_t>(0xDC00 | (value & 0x3FF)));
    } else {
        push_text(static_cast<char16_t>(value));
    }
}

void xml_text_tokenizer::grow_text(size_t units)
{
    // The string only grows: its size is the room, m_textLength the text.
    m_text.resize(std::max(m_textLength + units, m_text.size() * 2));
}

void xml_text_tokenizer::push_text(char16_t unit)
{
    *text_room(1) = unit;
    ++m_textLength;
}

void xml_text_tokenizer::open_text()
{
    // Every text token carries a pending blank in front of its text.
    m_textWide = true;
    m_textLength = 0;
    if (m_blank == blank_pending)
        push_text(u' ');
}

void xml_text_tokenizer::narrow_token(size_t begin, size_t end)
{
    m_textWide = false;
    m_leadingBlank = m_blank == blank_pending;
    m_narrowData = m_data + begin;
    m_narrowLength = end - begin;
    m_textStable = m_inPlace;
}

bool xml_text_tokenizer::char_token(unsigned char c)
{
    m_textWide = false;
    m_leadingBlank = m_blank == blank_pending;
    m_narrowData = &kLatin1[c];
    m_narrowLength = 1;
    m_textStable = true;
    return text_token(true);
}

bool xml_text_tokenizer::blank_token()
{
    // A pending blank comes out on its own; the markup behind it is scanned
    // again on the next call.
    m_cursor = m_lexeme;
    m_blank = blank_none;
    return char_token(' ');
}

bool xml_text_tokenizer::text_token(bool converted)
{
    if (!converted) {
        m_token = token_error;
        return true;
    }
    m_blank = blank_none;
    m_token = token_text;
    return true;
}

bool xml_text_tokenizer::convert_text(size_t begin, size_t end)
{
    // ASCII without control characters but TAB, LF and CR: its bytes are its
    // units, handed out where they lie.
    size_t plain = 0;
    {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(m_data) + begin;
        const unsigned char* const last = reinterpret_cast<const unsigned char*>(m_data) + end;
#if defined(__SSE2__)
        for (; last - p >= 16; p += 16) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            // Below 0x20 as signed bytes: controls and every byte from 80.
            const __m128i low = _mm_cmplt_epi8(chunk, _mm_set1_epi8(0x20));
            const __m128i allowed = _mm_or_si128(
                _mm_or_si128(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('\t')), _mm_cmpeq_epi8(chunk, _mm_set1_epi8('\n'))),
                _mm_cmpeq_epi8(chunk, _mm_set1_epi8('\r')));
            if (_mm_movemask_epi8(_mm_andnot_si128(allowed, low)) != 0)
                break;
        }
#endif
        while (p < last && (*p >= 0x20 ? *p < 0x80 : (*p == '\t' || *p == '\n' || *p == '\r')))
            ++p;
        if (p == last) {
            narrow_token(begin, end);
            return true;
        }
        plain = static_cast<size_t>(p - (reinterpret_cast<const unsigned char*>(m_data) + begin));
    }
    // Strict UTF-8: no overlong forms, no surrogates, no U+FFFE/U+FFFF, no
    // control characters but TAB, LF and CR. The text goes in one pass into
    // the token text, behind the pending blank if there is one; the plain
    // bytes in front are widened as they are.
    open_text();
    char16_t* const start = text_room(end - begin); // never more units than bytes
    char16_t* target = start;
    const unsigned char* const first = reinterpret_cast<const unsigned char*>(m_data) + begin;
    for (size_t i = 0; i < plain; ++i)
        target[i] = first[i];
    target += plain;
    const unsigned char* p = first + plain;
    const unsigned char* const last = reinterpret_cast<const unsigned char*>(m_data) + end;
    while (p < last) {
#if defined(__SSE2__)
        // Sixteen printable ASCII bytes (20-7F) at a time: they widen unchanged.
        while (last - p >= 16) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i control = _mm_cmplt_epi8(chunk, _mm_set1_epi8(0x20)); // also every byte from 80
            if (_mm_movemask_epi8(control) != 0)
                break;
            WidenSixteen(chunk, target);
            target += 16;
            p += 16;
        }
#endif
        // Eight printable ASCII bytes (20-7F) at a time: they widen unchanged.
        while (last - p >= 8) {
            uint64_t word;
            std::memcpy(&word, p, sizeof word);
            constexpr uint64_t kHigh = 0x8080808080808080u;
            if (((word | (word - 0x2020202020202020u)) & kHigh) != 0)
                break;
            for (int i = 0; i < 8; ++i)
                target[i] = p[i];
            target += 8;
            p += 8;
        }
        if (p == last)
            break;
        const unsigned char c = *p;
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
                break;
            *target++ = c;
            ++p;
            continue;
        }
        const size_t available = static_cast<size_t>(last - p);
        if (c >= 0xC2 && c <= 0xDF) {
            if (available < 2 || !IsContinuation(p[1]))
                break;
            *target++ = static_cast<char16_t>(((c & 0x1F) << 6) | (p[1] & 0x3F));
            p += 2;
            continue;
        }
        if (c >= 0xE0 && c <= 0xEF) {
            const unsigned char low = c == 0xE0 ? 0xA0 : 0x80;
            const unsigned char high = c == 0xED ? 0x9F : 0xBF;
            if (available < 3 || p[1] < low || p[1] > high || !IsContinuation(p[2]))
                break;
            if (c == 0xEF && p[1] == 0xBF && p[2] >= 0xBE)
                break;
            *target++ = static_cast<char16_t>(((c & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
            p += 3;
            continue;
        }
        if (c >= 0xF0 && c <= 0xF4) {
            const unsigned char low = c == 0xF0 ? 0x90 : 0x80;
            const unsigned char high = c == 0xF4 ? 0x8F : 0xBF;
            if (available < 4 || p[1] < low || p[1] > high || !IsContinuation(p[2]) || !IsContinuation(p[3]))
                break;
            const uint32_t value = (static_cast<uint32_t>(c & 0x07) << 18) | ((p[1] & 0x3F) << 12) |
                ((p[2] & 0x3F) << 6) | (p[3] & 0x3F);
            *target++ = static_cast<char16_t>(0xD800 | ((value - 0x10000) >> 10));
            *target++ = static_cast<char16_t>(0xDC00 | (value & 0x3FF));
            p += 4;
            continue;
        }
        break;
    }
    m_textLength += static_cast<size_t>(target - start);
    if (p == last)
        return true;
    m_failedAt = static_cast<size_t>(p - reinterpret_cast<const unsigned char*>(m_data));
    count_to(m_lexeme);
    m_column += static_cast<uint32_t>(p - first);
    return false;
}
