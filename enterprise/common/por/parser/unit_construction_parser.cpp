#include "enterprise/common/por/parser/unit_construction_parser.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/common/error.h"
#include "core/common/location.h"
#include "core/common/message_format.h"
#include "core/common/number_text.h"

namespace Utils {

namespace {

constexpr Common::SourceFile kSource("enterprise/common/por/parser/unit_construction_parser", 0x2f3d73d87c074b14);

const std::u16string kQwordTemplate = u"Cannot convert '{0}' to qword.";
const std::u16string kGuidTemplate = u"Cannot convert '{0}' to Common::Guid.";
const std::u16string kSQwordTemplate = u"Cannot convert '{0}' to sqword.";

[[noreturn]] void CannotConvert(unsigned code, const std::u16string& messageTemplate, std::string_view token,
                                const char* function, uint32_t line)
{
    const std::u16string text = Common::FormatMessageWithArgument(messageTemplate, WidenBytes(token));
    Common::ThrowError(Common::Error(code, text.c_str(), kSource.At(function, line)));
}

// Common::ParseUInt64 in base 10 over the characters of a token (name
// characters only, so it holds no U+0000).
bool ParseToken(uint64_t& value, std::string_view token)
{
    // Up to 19 decimal digits always fit: their value is the parser's.
    if (!token.empty() && token.size() <= 19) {
        uint64_t decimal = 0;
        size_t i = 0;
        for (; i < token.size() && token[i] >= '0' && token[i] <= '9'; ++i)
            decimal = decimal * 10 + static_cast<uint64_t>(token[i] - '0');
        if (i == token.size()) {
            value = decimal;
            return true;
        }
    }
    char16_t small[64];
    if (token.size() < std::size(small)) {
        for (size_t i = 0; i < token.size(); ++i)
            small[i] = static_cast<unsigned char>(token[i]);
        small[token.size()] = u'\0';
        return Common::ParseUInt64(value, small, 10);
    }
    return Common::ParseUInt64(value, WidenBytes(token).c_str(), 10);
}

// The position of the first quote (either) in [from, end), or `end`.
size_t FindQuote(const unsigned char* text, size_t from, size_t end) noexcept
{
    size_t position = from;
#if defined(__SSE2__)
    // Sixteen characters at a time while they last.
    const __m128i doubleQuote = _mm_set1_epi8('"');
    const __m128i singleQuote = _mm_set1_epi8('\'');
    for (; end - position >= 16; position += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + position));
        const unsigned quotes = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, doubleQuote), _mm_cmpeq_epi8(block, singleQuote))));
        if (quotes != 0)
            return position + static_cast<size_t>(__builtin_ctz(quotes));
    }
#endif
    for (; position < end; ++position) {
        if (text[position] == '"' || text[position] == '\'')
            return position;
    }
    return end;
}

} // namespace

std::u16string WidenBytes(std::string_view text)
{
    std::u16string wide;
    WidenBytes(text, wide);
    return wide;
}

void WidenBytes(std::string_view text, std::u16string& out)
{
    out.resize(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    char16_t* units = out.data();
    for (size_t i = 0; i < text.size(); ++i)
        units[i] = bytes[i];
}

void UnitConstructionParser::ThrowNotFound()
{
    Common::ThrowError(Common::Error(2, "Expected symbol is not found!", kSource.At("GetNext", 134)));
}

void UnitConstructionParser::ThrowInputOver()
{
    Common::ThrowError(Common::Error(1, "Input is over!", kSource.At("GetInput", 102)));
}

std::string_view UnitConstructionParser::TakeToken()
{
    if (GetInput() == ')')
        return std::string_view();
    size_t end = m_position;
    while (end < m_end && IsNameCharacter(m_text[end]))
        ++end;
    if (end == m_end) // the text ends inside the token
        ThrowNotFound();
    const std::string_view token = View(m_position, end);
    m_position = end;
    return token;
}

std::string_view UnitConstructionParser::TakeQuotedText()
{
    if (GetInput() == ')')
        return std::string_view();
    ++m_position; // the opening quote, whatever it is
    const size_t end = FindQuote(m_text, m_position, m_end);
    if (end == m_end)
        ThrowNotFound();
    const std::string_view text = View(m_position, end);
    m_position = end + 1;
    return text;
}

uint64_t UnitConstructionParser::TakeQwordValue()
{
    std::string_view token = TakeToken();
    if (token.empty())
        return 0;
    const bool negative = token[0] == '-';
    if (negative)
        token.remove_prefix(1);
    uint64_t value = 0;
    if (!ParseToken(value, token))
        CannotConvert(3, kQwordTemplate, token, "TakeQwordValue", 204);
    return negative ? 0 - value : value;
}

uint64_t UnitConstructionParser::TakeSQwordValue()
{
    const std::string_view token = TakeToken();
    if (token.empty())
        return 0;
    const bool negative = token[0] == '-';
    uint64_t value = 0;
    if (!ParseToken(value, token.substr(negative ? 1 : 0)))
        CannotConvert(8, kSQwordTemplate, token, "TakeSQwordValue", 220);
    return negative ? 0 - value : value;
}

Common::Guid UnitConstructionParser::TakeGuid()
{
    const std::string_view token = TakeToken();
    Common::Guid guid{};
    if (token.empty())
        return guid;
    const std::string narrow(token); // name characters only: no U+0000 to stop at
    if (!Common::ParseGuid(guid, narrow.c_str()))
        CannotConvert(7, kGuidTemplate, token, "TakeGuid", 184);
    return guid;
}

} // namespace Utils
