#include "service/store_errors.h"

#include <string>

#include "core/common/message_catalogue.h"

namespace Service {

Common::Error MakeStoreError(unsigned code, Common::Location location) noexcept
{
    return Common::Error(code, Common::GetMessageText(code == kObjectExists ? kObjectExistsText : kObjectNotFoundText),
                         location);
}

Common::Error MakeStoreFailure(const char* detail, Common::Location location)
{
    return Common::Error(kStoreFailed, (std::string("DML store: ") + detail).c_str(), location);
}

} // namespace Service
