#include "enterprise/common/ipc/method_table_info.h"

#include "core/common/component_info_errors.h"
#include "core/common/error.h"

namespace Binding::Detail {

Common::Error MethodTableInfo::GetMethodInfo(unsigned index, uint64_t* info)
{
    if (index < 1 || index > m_methodCount)
        return Common::Error(ComponentInfoErrors::kInvalidMethodIndex, m_outOfRange);
    *info = m_table[index - 1];
    return Common::Success;
}

} // namespace Binding::Detail
