// Binding::Detail::MethodTableInfo: the component-information record of a
// remote interface stub, answered from its method-information table (one
// 64-bit word per method, by method index from 1). The reserved operations
// answer 1.
//
// Threading: immutable after construction; any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/common/component_info.h"
#include "platform/objrep/common_error.h"

namespace Binding::Detail {

class MethodTableInfo : public Core::ComponentInfo
{
public:
    // `table` holds `methodCount` words and lives until exit; an index outside
    // 1..methodCount gives kInvalidMethodIndex located at `outOfRange`.
    MethodTableInfo(int componentId, int interfaceVersion, const uint64_t* table, size_t methodCount,
                    Common::Location outOfRange)
        : m_componentId(componentId), m_interfaceVersion(interfaceVersion), m_table(table), m_methodCount(methodCount),
          m_outOfRange(outOfRange)
    {
    }

    int GetComponentId() override { return m_componentId; }
    int GetReserved1() override { return 1; }
    // Stores the word of method `index` in `*info`; out of range, `*info` is
    // left as it is.
    Common::Error GetMethodInfo(unsigned index, uint64_t* info) override;
    int GetInterfaceVersion() override { return m_interfaceVersion; }
    int GetReserved2() override { return 1; }
    int GetReserved3() override { return 1; }

private:
    int m_componentId;
    int m_interfaceVersion;
    const uint64_t* m_table;
    size_t m_methodCount;
    Common::Location m_outOfRange;
};

// The word every method of the stubs of this system carries.
inline constexpr uint64_t kMethodInfoWord = 0x0000000200000000ull;

} // namespace Binding::Detail
