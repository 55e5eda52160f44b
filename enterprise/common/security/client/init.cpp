#include "enterprise/common/security/client/init.h"

#include <cstdint>
#include <memory>

#include "core/common/error.h"
#include "core/common/error_blob.h"
#include "core/common/message_catalogue.h"
#include "enterprise/common/security/client/security_errors.h"
#include "platform/security/security_core.h"

namespace Security {

namespace {

constexpr Common::SourceFile kSource("enterprise/common/security/client/init", 0x1e27b907e4f1f52aull - 34);

} // namespace

Common::Error Initialize(const Common::Location& caller)
{
    if (Security_Initialize(caller.LineTag, 0, 0) == 0)
        return Common::Success;
    return MakeSecurityCoreError(kSource.At("Initialize", 34));
}

Common::Error MakeSecurityCoreError(const Common::Location& location)
{
    unsigned char* raw = nullptr;
    uint32_t size = 0;
    Security_GetLastError(&raw, &size);
    const std::unique_ptr<unsigned char[]> block(raw);
    if (block) {
        Common::Error decoded = Common::DeserializeError(block.get(), size);
        // A block without a readable failure record must not turn a failed
        // start-up into success.
        if (!decoded.IsSuccess())
            return decoded;
    }
    return Common::Error(SecurityErrors::kInvalidOperationResult,
                         Common::GetMessageText(SecurityErrors::kInvalidOperationResultText), location);
}

} // namespace Security
