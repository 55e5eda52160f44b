#include "enterprise/common/por/name.h"

#include <cstring>
#include <string>
#include <utility>

#include "core/common/text_conversion.h"

namespace Por {

Name::Name(std::string_view utf8) : m_text(m_storage)
{
    Own(utf8.data(), utf8.size());
}

Name::Name(std::u16string_view utf16) : m_text(m_storage)
{
    std::string utf8;
    (void)Common::ConvertUtf16ToUtf8(utf8, utf16.data(), utf16.size()); // always succeeds
    Own(utf8.data(), utf8.size());
}

Name& Name::operator=(const Name& other)
{
    if (this == &other)
        return *this;
    if (other.GetKind() == kHeap) {
        // The new copy first: a failed allocation leaves this name as it was.
        Name copy(other);
        return *this = std::move(copy);
    }
    if (GetKind() == kHeap)
        delete[] m_text;
    m_text = other.m_text;
    std::memcpy(m_storage, other.m_storage, sizeof m_storage);
    if (GetKind() == kInline)
        m_text = m_storage;
    return *this;
}

Name& Name::operator=(Name&& other) noexcept
{
    if (this == &other)
        return *this;
    if (GetKind() == kHeap)
        delete[] m_text;
    m_text = other.m_text;
    std::memcpy(m_storage, other.m_storage, sizeof m_storage);
    TakeOver(other);
    return *this;
}

void Name::Own(const char* text, size_t length)
{
    if (length <= kInlineLength) {
        if (length != 0) // an empty view may carry a null pointer
            std::memcpy(m_storage, text, length);
        m_storage[length] = 0;
        m_storage[kKindByte] = kInline;
        m_text = m_storage;
        return;
    }
    char* copy = new char[length + 1];
    std::memcpy(copy, text, length);
    copy[length] = 0;
    m_text = copy;
    m_storage[kKindByte] = kHeap;
}

std::u16string Name::ToUtf16() const
{
    return Common::FromUtf8(m_text);
}

} // namespace Por
