#include "platform/ipc/ipc_errors.h"

#include "core/common/message_catalogue.h"

namespace Ipc {

Common::Error MakeIpcError(unsigned code, unsigned messageKey, Common::Location location) noexcept
{
    return Common::Error(code, Common::GetMessageText(messageKey), location);
}

} // namespace Ipc
