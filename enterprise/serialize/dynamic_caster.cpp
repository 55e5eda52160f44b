#include "enterprise/serialize/dynamic_caster.h"

namespace Common {

void* DynamicCasterImpl::Cast(const char* key)
{
    if (key == nullptr)
        return nullptr;
    auto found = m_interfaces.find(std::string(key));
    return found == m_interfaces.end() ? nullptr : found->second;
}

} // namespace Common
