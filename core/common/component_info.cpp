// The process-wide component-information registry.

#include "core/common/component_info.h"

#include <cstdlib>
#include <new>

#include "core/common/static_recursive_lock.h"

namespace Core {

namespace {

// Zero-filled, so usable by start-up code of any translation unit.
Common::StaticRecursiveLock g_instanceLock;
alignas(ComponentInfoRegistry) unsigned char g_storage[sizeof(ComponentInfoRegistry)];
ComponentInfoRegistry* g_instance = nullptr; // guarded by g_instanceLock

void DestroyInstanceLock()
{
    g_instanceLock.Destroy();
}

[[maybe_unused]] const bool g_lockDestructionRegistered = (std::atexit(&DestroyInstanceLock), true);

class MutexGuard
{
public:
    explicit MutexGuard(Common::Mutex& mutex) : m_mutex(mutex) { m_mutex.Lock(); }
    ~MutexGuard() { m_mutex.Unlock(); }
    MutexGuard(const MutexGuard&) = delete;
    MutexGuard& operator=(const MutexGuard&) = delete;

private:
    Common::Mutex& m_mutex;
};

} // namespace

ComponentInfoRegistry& ComponentInfoRegistry::Instance()
{
    g_instanceLock.Lock();
    if (!g_instance) {
        g_instance = new (g_storage) ComponentInfoRegistry;
        std::atexit(&ComponentInfoRegistry::DestroyInstance);
    }
    ComponentInfoRegistry& registry = *g_instance;
    g_instanceLock.Unlock();
    return registry;
}

void ComponentInfoRegistry::DestroyInstance()
{
    g_instanceLock.Lock();
    if (g_instance) {
        g_instance->~ComponentInfoRegistry();
        g_instance = nullptr;
    }
    g_instanceLock.Unlock();
}

void ComponentInfoRegistry::Register(ComponentInfo* info)
{
    if (!info)
        return;
    MutexGuard guard(m_mutex);
    m_infos[info->GetComponentId()] = info;
}

ComponentInfo* ComponentInfoRegistry::Find(int componentId)
{
    MutexGuard guard(m_mutex);
    const auto found = m_infos.find(componentId);
    return found == m_infos.end() ? nullptr : found->second;
}

void RegisterComponentInfo(ComponentInfo* info)
{
    ComponentInfoRegistry::Instance().Register(info);
}

void RegisterComponentInfo(ComponentInfo& info)
{
    RegisterComponentInfo(&info);
}

} // namespace Core
