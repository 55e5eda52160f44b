// Por::Util::StaticInstance<T>: a lazily created process-wide instance of a
// class with a virtual destructor (the DML operation classes keep their
// default units in one).
//
// The constructor stores the creator and publishes nothing (constexpr, so a
// static one is ready before any initializer runs). Get returns the published
// instance, or runs the creator and publishes its result with a
// compare-and-swap from null; a caller that loses the race deletes its own
// instance and returns the winner's. Get answers null only when the creator
// made nothing. The StaticInstance owns the instance and deletes it when it is
// destroyed (at exit, for static ones).
//
// Threading: Get is lock-free and may race on first use; the creator may then
// run more than once, but exactly one instance is ever published.
#pragma once

#include <atomic>
#include <memory>

#include "core/common/non_copyable.h"

namespace Por::Util {

template <typename T>
class StaticInstance : private Common::NonCopyable
{
public:
    // Makes a new instance (or none) into `out`.
    using Creator = void (*)(std::unique_ptr<T>& out);

    constexpr explicit StaticInstance(Creator creator) noexcept : m_creator(creator) {}
    virtual ~StaticInstance() { delete m_instance.load(std::memory_order_acquire); }

    T* Get()
    {
        for (;;) {
            if (T* published = m_instance.load(std::memory_order_acquire))
                return published;
            std::unique_ptr<T> made;
            m_creator(made);
            T* expected = nullptr;
            if (m_instance.compare_exchange_strong(expected, made.get(), std::memory_order_acq_rel,
                                                   std::memory_order_acquire))
                return made.release();
            // Another thread published first: `made` is deleted, and the next
            // turn returns the winner's instance.
        }
    }

private:
    Creator m_creator;
    std::atomic<T*> m_instance{nullptr};
};

} // namespace Por::Util
