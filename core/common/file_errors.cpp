#include "core/common/file_errors.h"

#include "core/common/message_catalogue.h"

namespace FileErrors {

Common::Error MakeFileMessageError(unsigned code, unsigned messageKey, Common::Location location) noexcept
{
    return Common::Error(code, Common::GetMessageText(messageKey), location);
}

} // namespace FileErrors
