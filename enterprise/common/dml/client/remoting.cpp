#include "enterprise/common/dml/client/remoting.h"

#include "core/common/error.h"
#include "core/common/location.h"
#include "core/common/message_catalogue.h"
#include "enterprise/common/dml/client/post_office.h"
#include "enterprise/common/dml/client/remote_object_registry.h"
#include "enterprise/common/dml/dml_errors.h"

namespace Dml::Client {
namespace {

constexpr Common::SourceFile kSource("enterprise/common/dml/client/remoting", 0x507a66d9dcb06c27ull - 56);

[[noreturn]] void ThrowDisposed(const Common::Location& location)
{
    Common::ThrowError(Common::Error(DML_ERROR_DISPOSED, Common::GetMessageText(kDisposedText), location));
}

} // namespace

std::unique_ptr<ObjectRegistry> CreateRemoteObjectRegistry(const std::shared_ptr<Binding::AccessPoint>& accessPoint,
                                                           Por::Construction::UnitFactory* unitFactory)
{
    if (!accessPoint)
        ThrowDisposed(kSource.At("CreateRemoteObjectRegistry", 56));
    return std::make_unique<RemoteObjectRegistry>(accessPoint, unitFactory);
}

std::unique_ptr<PostOffice> CreateRemoteViewProvider(const std::shared_ptr<Binding::AccessPoint>& accessPoint)
{
    if (!accessPoint)
        ThrowDisposed(kSource.At("CreateRemoteViewProvider", 41));
    constexpr int kViewManagerComponent = 271;
    uint32_t version = 0;
    uint32_t reserved = 0;
    const Common::Error queried = accessPoint->GetInterfaceVersion(kViewManagerComponent, &version, &reserved);
    if (!queried.IsSuccess())
        Common::ThrowError(queried);
    if (version == 1)
        return std::make_unique<RemotePostOffice>(accessPoint);
    return std::make_unique<ChanneledRemotePostOffice>(accessPoint);
}

} // namespace Dml::Client
