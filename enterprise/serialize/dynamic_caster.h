// Name-keyed lookup of optional extra interfaces.
//
// An object that offers an interface T beyond its class registers its own T
// pointer under the key of T: the run-time type name of T* in the Itanium ABI
// mangling (typeid(T*).name() with g++), for example
// "PN7Binding6Detail11RequestBaseE" for Binding::Detail::RequestBase*.
// A caller asks with Cast(key) and falls back to a generic path on null.
//
// Binary contract (DynamicCaster, DynamicCasterImpl): declaration order is the binary order; never insert or reorder.
//
// Threading: entries are added only while the owning object is built; Cast
// only reads and may then run from any thread.
#pragma once

#include <map>
#include <string>
#include <typeinfo>

namespace Common {

class DynamicCaster
{
public:
    virtual ~DynamicCaster() = default;

    // The interface registered under `key`; null for a null or unknown key.
    virtual void* Cast(const char* key) = 0;
};

// The lookup key of interface T.
template <typename T>
const char* InterfaceKey() noexcept
{
    return typeid(T*).name();
}

class DynamicCasterImpl : public virtual DynamicCaster
{
public:
    void* Cast(const char* key) override;

protected:
    DynamicCasterImpl() = default;
    DynamicCasterImpl(const DynamicCasterImpl&) = default;
    DynamicCasterImpl& operator=(const DynamicCasterImpl&) = default;

    // Offers `object` as interface T, replacing an earlier entry for T.
    template <typename T>
    void RegisterInterface(T* object)
    {
        m_interfaces[InterfaceKey<T>()] = static_cast<void*>(object);
    }

private:
    std::map<std::string, void*> m_interfaces;
};

// Typed lookup: the interface T that `caster` offers, or null.
template <typename T>
T* DynamicCast(DynamicCaster& caster)
{
    return static_cast<T*>(caster.Cast(InterfaceKey<T>()));
}

} // namespace Common
