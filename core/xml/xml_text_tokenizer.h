// Streaming tokenizer of text XML in UTF-8 (with or without a byte-order
// mark). It pulls bytes from an i_file in chunks, keeps only the unconsumed
// tail, and hands out one token at a time: tag names, attribute names and
// values, character data (validated UTF-8, white space normalised unless the
// preserve flag is set), and the "BXML" signature of binary XML at the very
// start. Comments, processing instructions, CDATA markup and a DOCTYPE
// without internal subset are consumed here. Character data comes out as its
// bytes where they lie when it is plain ASCII (or one character up to
// U+00FF), and converted to UTF-16 otherwise.
//
// Line and column always point at the start of the lexeme being scanned
// (column 0-based; TAB moves to the next multiple of 8); a UTF-8 failure
// advances the column to the offending byte.
//
// Input that is one block in memory already (a buf_ifile, or a copy of its
// bytes the caller keeps) is scanned where it lies. From other sources, until the first 4 bytes have arrived, a read
// asks only for what is still missing of them, so that after the binary
// signature the source stands right behind it however few bytes each read
// delivers; later reads ask for 32768 bytes. A read that delivers fewer bytes
// than asked, but more than none, is taken as a partial delivery, and a read
// of none as the end.
//
// Threading: one tokenizer serves one load on one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class i_file;

class xml_text_tokenizer
{
public:
    enum token_kind : int32_t
    {
        token_end = 0,
        token_error = 1,
        token_start_tag = 2,
        token_tag_close = 3,
        token_empty_close = 4,
        token_end_tag = 5,
        token_attribute_name = 6,
        token_value_open = 7,
        token_text = 8,
        token_binary_magic = 9,
    };

    enum closing_kind : uint32_t
    {
        closing_none = 0,
        closing_content = 1, // ">"
        closing_empty = 2,   // "/>" (start tags only)
    };

    enum condition : uint32_t
    {
        cond_start = 0,
        cond_content = 1,
        cond_cdata = 2,
        cond_tag = 3,
        cond_value_dq = 4,
        cond_value_sq = 5,
        cond_comment = 6,
        cond_pi = 7,
        cond_doctype = 8,
    };

    enum blank_state : uint32_t
    {
        blank_none = 0,
        blank_pending = 1,
        blank_suppressed = 2,
    };

    // A tokenizer takes over the buffer its thread's last one left behind.
    xml_text_tokenizer();
    ~xml_text_tokenizer();
    xml_text_tokenizer(const xml_text_tokenizer&) = delete;
    xml_text_tokenizer& operator=(const xml_text_tokenizer&) = delete;

    // Resets the state over `source` (not owned; must outlive the scan) and
    // scans the first token.
    void start(i_file* source);
    // The same over `copy`, a copy of the bytes that the memory file
    // `source` holds from its position on, which is scanned where it lies;
    // the source is left at its end.
    void start(i_file* source, const char* copy);
    // The input is scanned where it lies: names, and narrow texts that are
    // stable, stay valid for the rest of the load.
    bool in_place() const noexcept { return m_inPlace; }
    // Scans the next token. token_end stays once reached, and so does
    // token_binary_magic: the rest of the input then belongs to the binary reader.
    void advance()
    {
        if (m_token != token_end && m_token != token_binary_magic)
            scan();
    }
    // The same, where the end tag of the element named `name` is likely to
    // come next: when it stands right at the cursor it is taken at once,
    // exactly as scanning it would take it, and the answer is true (the token
    // is then that end tag, closed by ">"). `name` is one that this tokenizer
    // took as a name (a name start and name characters only).
    bool advance_expecting_end(std::string_view name)
    {
        if (m_token == token_end || m_token == token_binary_magic)
            return false;
        if (take_end_tag(name))
            return true;
        scan();
        return false;
    }

    int32_t token() const noexcept { return m_token; }
    // Name of token_start_tag, token_end_tag and token_attribute_name; valid
    // up to the next advance.
    std::string_view name() const noexcept { return std::string_view(m_data + m_lexeme + m_nameBegin, m_nameLength); }
    // How a start or end tag closed right behind its name, when it did: the
    // closing was consumed with the name and makes no token of its own.
    // Otherwise (attributes follow, or white space) closing_none.
    closing_kind closing() const noexcept { return m_closing; }
    // Text of token_text: either UTF-16 units (wide), or a blank when
    // text_leading_blank() followed by bytes each taken as one unit (narrow:
    // runs of ASCII, and single characters up to U+00FF). Valid up to the
    // next advance; narrow bytes of a stable text stay valid for the rest of
    // the load.
    bool text_is_wide() const noexcept { return m_textWide; }
    bool text_leading_blank() const noexcept { return m_leadingBlank; }
    std::string_view narrow_text() const noexcept { return std::string_view(m_narrowData, m_narrowLength); }
    std::u16string_view wide_text() const noexcept { return std::u16string_view(m_text.data(), m_textLength); }
    bool text_stable() const noexcept { return m_textStable; }

    // White space in content becomes text while set.
    bool preserve() const noexcept { return m_preserve; }
    void set_preserve(bool preserve) noexcept { m_preserve = preserve; }

    // 1-based line and 0-based column of the current lexeme.
    int32_t line() noexcept
    {
        count_to(m_lexeme);
        return static_cast<int32_t>(m_line);
    }
    uint32_t column() noexcept
    {
        count_to(m_lexeme);
        return m_column;
    }

private:
    // The state of a new scan over `source`, before anything is read.
    void reset(i_file* source);
    void scan();
    // The usual start or end tag, taken faster than scan_content would; false
    // (nothing taken) for anything else.
    bool scan_tag_fast();
    void refill();
    // Counts the bytes from the last counted position up to `position` into
    // line and column. Counting is deferred to refills and to the position
    // queries, where it runs over whole stretches of the buffer.
    void count_to(size_t position) noexcept;
    unsigned char peek(size_t offset)
    {
        if (m_cursor + offset < m_size)
            return static_cast<unsigned char>(m_data[m_cursor + offset]);
        return peek_beyond(offset);
    }
    unsigned char peek_beyond(size_t offset);
    // "</", `name` and ">" right at the cursor, in content: the token and
    // state that scanning them would leave.
    bool take_end_tag(std::string_view name)
    {
        const size_t length = name.size();
        if (m_condition != cond_content || m_size - m_cursor < length + 3)
            return false;
        const char* at = m_data + m_cursor;
        if (at[0] != '<' || at[1] != '/' || at[length + 2] != '>')
            return false;
        for (size_t i = 0; i < length; ++i) {
            if (at[2 + i] != name[i])
                return false;
        }
        m_lexeme = m_cursor;
        m_cursor += length + 3;
        m_nameBegin = 2;
        m_nameLength = length;
        m_closing = closing_content;
        m_token = token_end_tag;
        m_blank = blank_none;
        return true;
    }
    bool error();

    bool scan_start();
    bool scan_content();
    bool scan_tag();
    bool scan_value(unsigned char quote);
    bool scan_cdata();
    // Skips a comment, PI or DOCTYPE body; `forbidden` (if not 0) is an error there.
    bool scan_markup(const char* terminator, unsigned char forbidden = 0);

    bool scan_reference();
    void scan_name(size_t offset);
    // Consumes a ">" (or, after a start-tag name, "/>") right behind the name.
    void take_tag_close();
    // Moves the cursor over the bytes that `accept` takes, refilling the
    // buffer as needed, up to the first other byte or the end of the input.
    template <typename Accept>
    void skip_while(Accept accept);
    // Moves the cursor over bytes of class `mask`, or over such bytes up to
    // the first `stop` or `stop2` (0 is in no class and stops nothing more).
    void skip_run(uint8_t mask);
    // Moves the cursor over content bytes, and over single blanks between
    // them (skip_content_run: content bytes only).
    void skip_text_run();
    void skip_content_run();
    void skip_run(uint8_t mask, unsigned char stop, unsigned char stop2 = 0);
    void open_text();
    bool text_token(bool converted);
    bool blank_token();
    // A text token of one character.
    bool char_token(unsigned char c);
    bool convert_text(size_t begin, size_t end);
    // The bytes [begin, end) of the buffer as the narrow text of the token.
    void narrow_token(size_t begin, size_t end);
    // A run of words as skip_text_run finds it, in one pass: a run of ASCII
    // is taken as the token's narrow text (run_plain); the end of any other
    // run is found, for convert_joined_run (run_converted). Nothing is taken
    // (run_none) where the run nears the end of the buffer.
    enum run_kind
    {
        run_none,
        run_plain,
        run_converted,
    };
    run_kind fast_text_run();
    // Converts the run of words that skip_text_run joined.
    bool convert_joined_run();
    void append_code_point(uint32_t value);
    // Room for `units` more units of text behind the current text.
    char16_t* text_room(size_t units)
    {
        if (m_text.size() - m_textLength < units)
            grow_text(units);
        return m_text.data() + m_textLength;
    }
    void grow_text(size_t units);
    void push_text(char16_t unit);

    uint32_t m_condition = cond_start;
    uint32_t m_blank = blank_suppressed;
    i_file* m_source = nullptr;
    bool m_end = false;
    uint32_t m_line = 1;
    uint32_t m_column = 0;
    bool m_preserve = false;
    // Bytes read from a stream; m_data and m_size are the bytes being
    // scanned: those of m_buffer, or the input itself where it lies.
    std::string m_buffer;
    const char* m_data = nullptr;
    size_t m_size = 0;
    size_t m_lexeme = 0;
    size_t m_cursor = 0;
    // Buffer position up to which line and column have been counted; never
    // beyond the lexeme start.
    size_t m_counted = 0;
    int32_t m_token = token_error;
    // Buffer position of the byte that the last failed conversion stopped at.
    size_t m_failedAt = 0;
    // The name lies in the buffer, from m_nameBegin bytes behind the lexeme.
    size_t m_nameBegin = 0;
    size_t m_nameLength = 0;
    closing_kind m_closing = closing_none;
    // The input is scanned where it lies: views into it stay valid.
    bool m_inPlace = false;
    // A wide text is the first m_textLength units of m_text; the rest is
    // room. A narrow text is m_narrowData, behind a blank when m_leadingBlank.
    bool m_textWide = false;
    bool m_leadingBlank = false;
    bool m_textStable = false;
    const char* m_narrowData = "";
    size_t m_narrowLength = 0;
    std::u16string m_text;
    size_t m_textLength = 0;
};
