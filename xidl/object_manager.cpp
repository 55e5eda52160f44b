#include "xidl/object_manager.h"

#include "core/common/location.h"
#include "enterprise/common/ipc/method_table_info.h"
#include "enterprise/common/ipc/unit_codec.h"
#include "xidl/method_request.h"

namespace {

using Binding::Detail::UnitPointer;
namespace Table = Dml::Methods::ObjectManager;

constexpr Common::SourceFile kSource("enterprise/management_server/test/connectivity/xidl/dml_object_registry_common",
                                     0x8AB05459BB0B68F0ull - 40);

constexpr auto kMethodTable = Dml::Methods::MethodInfoWords<std::size(Table::kMethods)>();

template <int ComponentId>
class ComponentInfoImpl;

template <>
class ComponentInfoImpl<Table::kInterface.componentId> final : public Binding::Detail::MethodTableInfo
{
public:
    ComponentInfoImpl()
        : MethodTableInfo(Table::kInterface.componentId, static_cast<int>(Table::kInterface.version),
                          kMethodTable.data(), kMethodTable.size(), kSource.At("GetMethodInfo", 40))
    {
    }
};

using ObjectManagerInfo = ComponentInfoImpl<Table::kInterface.componentId>;

[[maybe_unused]] const bool g_registered = (Core::RegisterComponentInfo(GetObjectManagerComponentInfo()), true);

} // namespace

namespace Dml {

std::unique_ptr<Binding::Request> MakeRegisterObjectRequest(std::shared_ptr<const Por::View::Unit> object)
{
    return Methods::BuildRequest<Table::kRegisterObject, void(UnitPointer)>(Table::kInterface, object);
}

std::unique_ptr<Binding::Request> MakeUpdateObjectRequest(std::shared_ptr<const Por::View::Unit> objectId,
                                                          std::shared_ptr<const Por::View::Unit> patch)
{
    return Methods::BuildRequest<Table::kUpdateObject, void(UnitPointer, UnitPointer)>(Table::kInterface, objectId,
                                                                                       patch);
}

std::unique_ptr<Binding::Request> MakeUnregisterObjectRequest(std::shared_ptr<const Por::View::Unit> objectId)
{
    return Methods::BuildRequest<Table::kUnregisterObject, void(UnitPointer)>(Table::kInterface, objectId);
}

} // namespace Dml

Core::ComponentInfo& GetObjectManagerComponentInfo()
{
    static ObjectManagerInfo info;
    return info;
}
