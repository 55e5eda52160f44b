#include "service/service_errors.h"

#include "core/common/message_catalogue.h"
#include "core/common/message_format.h"
#include "core/common/text_conversion.h"

namespace ServiceErrors {

Common::Error MakeReasonError(unsigned code, unsigned messageKey, const std::string& reason, Common::Location location)
{
    const std::u16string text = Common::FormatCatalogueMessage(Common::GetMessageText(messageKey),
                                                               Common::FromUtf8(reason.c_str()));
    return Common::Error(code, text.c_str(), location);
}

} // namespace ServiceErrors
