// The process-wide component-information registry.

#include "core/common/component_info.h"

#include <cstdlib>

#include "core/common/immortal.h"
#include "core/common/static_recursive_lock.h"

namespace Core {

namespace {

// Zero-filled, so usable by start-up code of any translation unit.
Common::StaticRecursiveLock g_instanceLock;
constinit Common::Immortal<ComponentInfoRegistry> g_instance COMMON_GUARDED_BY(g_instanceLock);

void DestroyInstanceLock()
{
    g_instanceLock.Destroy();
}

[[maybe_unused]] const bool g_lockDestructionRegistered = (std::atexit(&DestroyInstanceLock), true);

} // namespace

ComponentInfoRegistry& ComponentInfoRegistry::Instance()
{
    Common::LockGuard guard(g_instanceLock);
    if (!g_instance.Get()) {
        g_instance.Emplace();
        std::atexit(&ComponentInfoRegistry::DestroyInstance);
    }
    return *g_instance;
}

void ComponentInfoRegistry::DestroyInstance()
{
    Common::LockGuard guard(g_instanceLock);
    g_instance.Destroy();
}

void ComponentInfoRegistry::Register(ComponentInfo* info)
{
    if (!info)
        return;
    Common::LockGuard guard(m_mutex);
    m_infos[info->GetComponentId()] = info;
}

ComponentInfo* ComponentInfoRegistry::Find(int componentId)
{
    Common::LockGuard guard(m_mutex);
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
