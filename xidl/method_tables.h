// The method tables of the remote interfaces "ObjectManager" and
// "ViewManager": each interface's name, component and version, and one row per
// method (its position, name, the interface version that introduced it and
// its parameter names in declaration order). The request builders name their
// requests and argument elements from these rows, and a service finds the
// methods it answers and reads their parameters by the same rows; a request
// element is "request_<Interface>_<Method>" with one child per parameter.
//
// Threading: constant data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace Dml::Methods {

inline constexpr size_t kMaxParameters = 3;

struct Row
{
    int32_t index; // position in the interface, from 1
    const char* name;
    uint64_t since;                                     // the interface version that introduced the method
    std::array<const char*, kMaxParameters> parameters; // in declaration order; null after the last

    constexpr size_t ParameterCount() const
    {
        size_t count = 0;
        while (count < parameters.size() && parameters[count])
            ++count;
        return count;
    }
};

struct Interface
{
    const char* name;
    int32_t componentId;
    uint64_t version;             // the interface version the stubs implement
    std::span<const Row> methods; // by index
};

namespace ObjectManager {

inline constexpr Row kRegisterObject{1, "RegisterObject", 1, {"object"}};
inline constexpr Row kUpdateObject{2, "UpdateObject", 1, {"objectId", "patch"}};
inline constexpr Row kUnregisterObject{3, "UnregisterObject", 1, {"objectId"}};

inline constexpr Row kMethods[] = {kRegisterObject, kUpdateObject, kUnregisterObject};
inline constexpr Interface kInterface{"ObjectManager", 274, 1, kMethods};

} // namespace ObjectManager

namespace ViewManager {

inline constexpr Row kOpenDynamicView{1, "OpenDynamicView", 1, {"specification", "viewID", "snapshot"}};
inline constexpr Row kOpenStaticView{2, "OpenStaticView", 1, {"specification", "snapshot"}};
inline constexpr Row kAcquireUpdates{3, "AcquireUpdates", 1, {"viewID", "updates"}};
inline constexpr Row kCloseView{4, "CloseView", 1, {"viewID"}};
inline constexpr Row kSubscribe{5, "Subscribe", 2, {"spec", "subscription"}};
inline constexpr Row kAddInterest{6, "AddInterest", 2, {"spec", "topic"}};
inline constexpr Row kReadSubscription{7, "ReadSubscription", 2, {"subscriber", "updates"}};
inline constexpr Row kRemoveInterest{8, "RemoveInterest", 2, {"topic"}};
inline constexpr Row kUnsubscribe{9, "Unsubscribe", 2, {"subscriber"}};

inline constexpr Row kMethods[] = {kOpenDynamicView, kOpenStaticView,   kAcquireUpdates, kCloseView,  kSubscribe,
                                   kAddInterest,     kReadSubscription, kRemoveInterest, kUnsubscribe};
inline constexpr Interface kInterface{"ViewManager", 271, 2, kMethods};

} // namespace ViewManager

// The rows of a table hold their index at their place.
constexpr bool IsIndexedByPlace(const Interface& table)
{
    for (size_t i = 0; i < table.methods.size(); ++i) {
        if (table.methods[i].index != static_cast<int32_t>(i + 1))
            return false;
    }
    return true;
}
static_assert(IsIndexedByPlace(ObjectManager::kInterface));
static_assert(IsIndexedByPlace(ViewManager::kInterface));

} // namespace Dml::Methods
