// The component-information registry: a process-wide map from component
// identifier to the Core::ComponentInfo that describes a remote interface.
// The interface stubs fill it at start-up; the infos are not owned and must
// live until exit.
//
// Binary contract (ComponentInfo): declaration order is the binary order; never insert or reorder.
//
// Threading: Instance is safe from any thread, also before main; Register is
// serialized by the registry's mutex.
#pragma once

#include <cstdint>
#include <map>

#include "core/common/immortal.h"
#include "core/common/mutex.h"
#include "platform/objrep/common_error.h"

namespace Core {

// The description of one remote interface.
class ComponentInfo
{
public:
    virtual int GetComponentId() = 0;
    // The second, fifth and sixth operations are not used by this system;
    // every interface answers 1.
    virtual int GetReserved1() = 0;
    virtual Common::Error GetMethodInfo(unsigned index, uint64_t* info) = 0;
    virtual int GetInterfaceVersion() = 0;
    virtual int GetReserved2() = 0;
    virtual int GetReserved3() = 0;
    virtual ~ComponentInfo() = default;
};

class ComponentInfoRegistry
{
public:
    // The registry, created on first use and destroyed at exit.
    static ComponentInfoRegistry& Instance();

    // Enters `info` under its component identifier, replacing an earlier one.
    void Register(ComponentInfo* info);
    // The info registered under `componentId`, or null.
    ComponentInfo* Find(int componentId);

    ComponentInfoRegistry(const ComponentInfoRegistry&) = delete;
    ComponentInfoRegistry& operator=(const ComponentInfoRegistry&) = delete;

private:
    template <typename>
    friend class Common::Immortal;

    ComponentInfoRegistry() = default;
    ~ComponentInfoRegistry() = default;
    static void DestroyInstance();

    Common::Mutex m_mutex;
    std::map<int, ComponentInfo*> m_infos COMMON_GUARDED_BY(m_mutex);
};

// Instance, then Register.
void RegisterComponentInfo(ComponentInfo* info);
void RegisterComponentInfo(ComponentInfo& info);

} // namespace Core
