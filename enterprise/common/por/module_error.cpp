#include "enterprise/common/por/module_error.h"

#include <vector>

#include "core/common/message_catalogue.h"
#include "core/common/message_format.h"

namespace Por {

Common::Error MakePorError(unsigned code, unsigned messageKey, Common::Location location,
                           std::initializer_list<std::u16string> arguments, RecordKind kind)
{
    const char16_t* catalogueText = Common::GetMessageText(messageKey);
    std::u16string filled;
    const char16_t* text = catalogueText;
    if (arguments.size() != 0) {
        filled = Common::FormatMessage(catalogueText ? catalogueText : u"", std::vector<std::u16string>(arguments));
        text = filled.c_str(); // not in the catalogue: the record copies it
    }
    if (kind == RecordKind::TraceLevel)
        return Common::MakeTraceLevelError(code, text, location);
    return Common::Error(code, text, location);
}

void ThrowModuleError(unsigned code, unsigned messageKey, Common::Location location,
                      std::initializer_list<std::u16string> arguments, RecordKind kind)
{
    throw ModuleError(MakePorError(code, messageKey, location, arguments, kind));
}

} // namespace Por
