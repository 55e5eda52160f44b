// The process-wide set of interned 8-bit strings. Records rebuilt from error
// blobs keep their file and function names here, so the pointers stay valid
// until the process exits (the copies are freed at exit).
//
// The set is bounded, since the names come from outside (a peer's error
// blobs): a text longer than kMaxInternedLength bytes, or a new text that
// would take the stored total past kInternBudget bytes, is not stored, and
// the fixed text kNotInternedText comes back in its place. Texts stored
// before the budget ran out keep being found.
//
// Threading: any thread; the set is guarded by one lock.
#pragma once

#include <cstddef>
#include <set>

#include "core/common/mutex.h"
#include "core/common/non_copyable.h"

namespace Common {

inline constexpr size_t kMaxInternedLength = 4096;
inline constexpr size_t kInternBudget = size_t{4} << 20;
inline constexpr char kNotInternedText[] = "(name not kept)";

// The stored copy equal to `text` (compared with strcmp), added on first use,
// or kNotInternedText past the bounds above. Throws std::bad_alloc when
// memory runs out.
const char* InternString(const char* text);

namespace Detail {

// One interned-string set with its bounds: the process keeps one with the
// bounds above; tests make their own.
class InternedTexts : private NonCopyable
{
public:
    InternedTexts(size_t maxLength, size_t budget) : m_maxLength(maxLength), m_budget(budget) {}
    ~InternedTexts();

    const char* Intern(const char* text);
    // Bytes held by the stored copies, terminators included.
    size_t StoredBytes() const;

private:
    struct TextLess
    {
        bool operator()(const char* left, const char* right) const;
    };

    const size_t m_maxLength;
    const size_t m_budget;
    mutable Mutex m_mutex;
    std::set<const char*, TextLess> m_texts COMMON_GUARDED_BY(m_mutex);
    size_t m_stored COMMON_GUARDED_BY(m_mutex) = 0;
};

} // namespace Detail

} // namespace Common
