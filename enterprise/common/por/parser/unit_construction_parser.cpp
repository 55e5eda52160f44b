#include "enterprise/common/por/parser/unit_construction_parser.h"

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

[[noreturn]] void CannotConvert(unsigned code, const std::u16string& messageTemplate, const std::u16string& token,
                                const char* function, uint32_t line)
{
    const std::u16string text = Common::FormatMessageWithArgument(messageTemplate, token);
    Common::ThrowError(Common::Error(code, text.c_str(), kSource.At(function, line)));
}

} // namespace

void UnitConstructionParser::ThrowNotFound()
{
    Common::ThrowError(Common::Error(2, "Expected symbol is not found!", kSource.At("GetNext", 134)));
}

void UnitConstructionParser::Skip()
{
    if (AtEnd())
        ThrowNotFound();
    ++m_position;
}

char16_t UnitConstructionParser::GetInput() const
{
    if (AtEnd())
        Common::ThrowError(Common::Error(1, "Input is over!", kSource.At("GetInput", 102)));
    return m_text[m_position];
}

void UnitConstructionParser::SkipBlanks() noexcept
{
    while (m_position < m_end && IsBlank(m_text[m_position]))
        ++m_position;
}

std::u16string UnitConstructionParser::TakeToken()
{
    if (GetInput() == u')')
        return std::u16string();
    const size_t end = GetNext([](char16_t c) { return !IsNameCharacter(c); });
    std::u16string token = Slice(m_position, end);
    m_position = end;
    return token;
}

std::u16string UnitConstructionParser::TakeQuotedText()
{
    if (GetInput() == u')')
        return std::u16string();
    ++m_position; // the opening quote, whatever it is
    const size_t end = GetNext([](char16_t c) { return c == u'\'' || c == u'"'; });
    std::u16string text = Slice(m_position, end);
    m_position = end + 1;
    return text;
}

uint64_t UnitConstructionParser::TakeQwordValue()
{
    std::u16string token = TakeToken();
    if (token.empty())
        return 0;
    const bool negative = token[0] == u'-';
    if (negative)
        token.erase(0, 1);
    uint64_t value = 0;
    if (!Common::ParseUInt64(value, token.c_str(), 10))
        CannotConvert(3, kQwordTemplate, token, "TakeQwordValue", 204);
    return negative ? 0 - value : value;
}

uint64_t UnitConstructionParser::TakeSQwordValue()
{
    const std::u16string token = TakeToken();
    if (token.empty())
        return 0;
    const bool negative = token[0] == u'-';
    uint64_t value = 0;
    if (!Common::ParseUInt64(value, token.c_str() + (negative ? 1 : 0), 10))
        CannotConvert(8, kSQwordTemplate, token, "TakeSQwordValue", 220);
    return negative ? 0 - value : value;
}

Common::Guid UnitConstructionParser::TakeGuid()
{
    const std::u16string token = TakeToken();
    Common::Guid guid{};
    if (token.empty())
        return guid;
    std::string narrow;
    for (char16_t unit : token) {
        if (unit == 0)
            break;
        narrow += static_cast<char>(unit & 0xFF);
    }
    if (!Common::ParseGuid(guid, narrow.c_str()))
        CannotConvert(7, kGuidTemplate, token, "TakeGuid", 184);
    return guid;
}

} // namespace Utils
