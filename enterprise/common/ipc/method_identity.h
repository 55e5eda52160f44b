// Binding::MethodIdentity: the record that names one method of a remote
// interface. Every request keeps a copy.
//
// Threading: a plain value.
#pragma once

#include <cstdint>
#include <string>

namespace Binding {

struct MethodIdentity
{
    int32_t componentId;
    // Position of the method in its interface, counted from 1.
    int32_t methodIndex;
    std::string interfaceName;
    std::string methodName;
    // The version of the interface that the stub implements.
    uint64_t interfaceVersion;
    // The interface version that introduced the method.
    uint64_t sinceVersion;
    // Always -1: no particular peer version.
    int64_t targetVersion;

    MethodIdentity(int32_t component, int32_t index, std::string interface, std::string method, uint64_t version,
                   uint64_t since)
        : componentId(component), methodIndex(index), interfaceName(std::move(interface)),
          methodName(std::move(method)), interfaceVersion(version), sinceVersion(since), targetVersion(-1)
    {
    }
};

} // namespace Binding
