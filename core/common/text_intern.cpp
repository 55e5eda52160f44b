// The interned-string set: private copies of 8-bit texts, kept until exit.

#include "core/common/text_intern.h"

#include <cstring>
#include <set>

#include "core/common/mutex.h"
#include "core/common/non_copyable.h"

namespace Common {

namespace {

struct TextLess
{
    bool operator()(const char* left, const char* right) const { return std::strcmp(left, right) < 0; }
};

class InternedTexts : private NonCopyable
{
public:
    InternedTexts() = default;

    ~InternedTexts()
    {
        for (const char* text : m_texts)
            delete[] text;
    }

    const char* Intern(const char* text)
    {
        LockGuard guard(m_mutex);
        auto found = m_texts.find(text);
        if (found != m_texts.end())
            return *found;
        const size_t length = std::strlen(text);
        char* copy = new char[length + 1];
        std::memcpy(copy, text, length + 1);
        try {
            m_texts.insert(copy);
        } catch (...) {
            delete[] copy;
            throw;
        }
        return copy;
    }

private:
    Mutex m_mutex;
    std::set<const char*, TextLess> m_texts;
};

// Built at its first use, at the latest during start-up, so that it outlives
// every static that interned a text while it was being built.
InternedTexts& GetInternedTexts()
{
    static InternedTexts texts;
    return texts;
}

[[maybe_unused]] const bool g_builtAtStartUp = (GetInternedTexts(), true);

} // namespace

const char* InternString(const char* text)
{
    return GetInternedTexts().Intern(text);
}

} // namespace Common
