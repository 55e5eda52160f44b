// Common::Immortal<T>: storage for one object that static destruction never
// ends. The object lives from its making to Destroy, when its owner calls it
// (at a time of its own choosing, such as an exit action it registered), or
// else to the end of the process, outliving every exit action and every
// static destructor that might still use it.
//
//     std::mutex& LoaderLock()
//     {
//         static Common::Immortal<std::mutex> lock{std::in_place}; // made on first use, never ended
//         return *lock;
//     }
//
// An Immortal made empty is constant-initialized, so start-up code of any
// translation unit may use it; its owner makes the object with Emplace:
//
//     constinit Common::Immortal<Registry> g_registry; // empty until Emplace
//
// Threading: none of its own; the owner serializes Emplace, Destroy and the
// first use (a function-local static's guard, or a lock).
#pragma once

#include <new>
#include <utility>

namespace Common {

template <typename T>
class Immortal
{
public:
    // Empty storage.
    constexpr Immortal() noexcept = default;

    // Makes the object at once.
    template <typename... Args>
    explicit Immortal(std::in_place_t, Args&&... args)
    {
        Emplace(std::forward<Args>(args)...);
    }

    Immortal(const Immortal&) = delete;
    Immortal& operator=(const Immortal&) = delete;
    // No destructor: an Immortal is trivially destructible, so a static one
    // registers no exit action.

    // Makes the object (ending an earlier one first).
    template <typename... Args>
    T& Emplace(Args&&... args)
    {
        Destroy();
        m_object = ::new (static_cast<void*>(m_storage)) T(std::forward<Args>(args)...);
        return *m_object;
    }

    // Ends the object, if there is one; the storage is empty again.
    void Destroy() noexcept
    {
        if (m_object) {
            m_object->~T();
            m_object = nullptr;
        }
    }

    // The object, or null while the storage is empty.
    T* Get() const noexcept { return m_object; }
    T& operator*() const noexcept { return *m_object; }
    T* operator->() const noexcept { return m_object; }

private:
    alignas(T) unsigned char m_storage[sizeof(T)]{};
    T* m_object = nullptr;
};

} // namespace Common
