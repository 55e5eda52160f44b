// The interned-string set: private copies of 8-bit texts, kept until exit.

#include "core/common/text_intern.h"

#include <cstring>

namespace Common {

namespace Detail {

bool InternedTexts::TextLess::operator()(const char* left, const char* right) const
{
    return std::strcmp(left, right) < 0;
}

InternedTexts::~InternedTexts()
{
    for (const char* text : m_texts)
        delete[] text;
}

const char* InternedTexts::Intern(const char* text)
{
    LockGuard guard(m_mutex);
    auto found = m_texts.find(text);
    if (found != m_texts.end())
        return *found;
    const size_t length = std::strlen(text);
    if (length > m_maxLength || length + 1 > m_budget - m_stored)
        return kNotInternedText;
    char* copy = new char[length + 1];
    std::memcpy(copy, text, length + 1);
    try {
        m_texts.insert(copy);
    } catch (...) {
        delete[] copy;
        throw;
    }
    m_stored += length + 1;
    return copy;
}

size_t InternedTexts::StoredBytes() const
{
    LockGuard guard(m_mutex);
    return m_stored;
}

} // namespace Detail

namespace {

// Built at its first use, at the latest during start-up, so that it outlives
// every static that interned a text while it was being built.
Detail::InternedTexts& GetInternedTexts()
{
    static Detail::InternedTexts texts(kMaxInternedLength, kInternBudget);
    return texts;
}

[[maybe_unused]] const bool g_builtAtStartUp = (GetInternedTexts(), true);

} // namespace

const char* InternString(const char* text)
{
    return GetInternedTexts().Intern(text);
}

} // namespace Common
