#include "enterprise/common/por/name.h"

#include <utility>

#include "core/common/text_conversion.h"

namespace Por {

Name::Name(std::string_view utf8) : m_owned(utf8), m_text(m_owned.c_str())
{
}

Name::Name(std::u16string_view utf16) : m_text(nullptr)
{
    (void)Common::ConvertUtf16ToUtf8(m_owned, utf16.data(), utf16.size()); // always succeeds
    m_text = m_owned.c_str();
}

Name::Name(const Name& other) : m_hash(other.m_hash)
{
    if (other.OwnsText()) {
        m_owned = other.m_owned;
        m_text = m_owned.c_str();
    } else {
        m_text = other.m_text;
    }
}

Name::Name(Name&& other) noexcept : m_text(nullptr)
{
    *this = std::move(other);
}

Name& Name::operator=(const Name& other)
{
    if (this == &other)
        return *this;
    if (other.OwnsText()) {
        m_owned.assign(other.m_owned); // reuses the room this name already has
        m_text = m_owned.c_str();
    } else {
        m_text = other.m_text;
        m_owned.clear();
    }
    m_hash = other.m_hash;
    return *this;
}

Name& Name::operator=(Name&& other) noexcept
{
    if (this == &other)
        return *this;
    m_hash = other.m_hash;
    if (other.OwnsText()) {
        m_owned = std::move(other.m_owned);
        m_text = m_owned.c_str();
        other.m_owned.clear();
        other.m_text = other.m_owned.c_str();
        other.m_hash = 0;
    } else {
        m_owned.clear();
        m_text = other.m_text;
    }
    return *this;
}

std::u16string Name::ToUtf16() const
{
    return Common::FromUtf8(m_text);
}

} // namespace Por
