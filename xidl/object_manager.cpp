#include "xidl/object_manager.h"

#include "core/common/location.h"
#include "enterprise/common/ipc/method_table_info.h"
#include "enterprise/common/ipc/request_impl.h"
#include "enterprise/common/ipc/unit_codec.h"

namespace {

using Binding::Detail::BuildRequest;
using Binding::Detail::UnitPointer;

constexpr Common::SourceFile kSource("enterprise/management_server/test/connectivity/xidl/dml_object_registry_common",
                                     0x8AB05459BB0B68F0ull - 40);

constexpr int kComponentId = 274;
constexpr uint64_t kInterfaceVersion = 1;
constexpr uint64_t kMethodTable[] = {Binding::Detail::kMethodInfoWord, Binding::Detail::kMethodInfoWord,
                                     Binding::Detail::kMethodInfoWord};

Binding::MethodIdentity Identity(int32_t index, const char* method)
{
    return Binding::MethodIdentity(kComponentId, index, "ObjectManager", method, kInterfaceVersion, 1);
}

template <int ComponentId>
class ComponentInfoImpl;

template <>
class ComponentInfoImpl<274> final : public Binding::Detail::MethodTableInfo
{
public:
    ComponentInfoImpl()
        : MethodTableInfo(kComponentId, static_cast<int>(kInterfaceVersion), kMethodTable, std::size(kMethodTable),
                          kSource.At("GetMethodInfo", 40))
    {
    }
};

[[maybe_unused]] const bool g_registered = (Core::RegisterComponentInfo(GetObjectManagerComponentInfo()), true);

} // namespace

namespace Dml {

std::unique_ptr<Binding::Request> MakeRegisterObjectRequest(std::shared_ptr<const Por::View::Unit> object)
{
    return BuildRequest<void(UnitPointer)>(Identity(1, "RegisterObject"), {"object"}, object);
}

std::unique_ptr<Binding::Request> MakeUpdateObjectRequest(std::shared_ptr<const Por::View::Unit> objectId,
                                                          std::shared_ptr<const Por::View::Unit> patch)
{
    return BuildRequest<void(UnitPointer, UnitPointer)>(Identity(2, "UpdateObject"), {"objectId", "patch"}, objectId,
                                                        patch);
}

std::unique_ptr<Binding::Request> MakeUnregisterObjectRequest(std::shared_ptr<const Por::View::Unit> objectId)
{
    return BuildRequest<void(UnitPointer)>(Identity(3, "UnregisterObject"), {"objectId"}, objectId);
}

} // namespace Dml

Core::ComponentInfo& GetObjectManagerComponentInfo()
{
    static ComponentInfoImpl<274> info;
    return info;
}
