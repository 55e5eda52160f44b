#include "enterprise/common/ipc/transfer_flags.h"

#include "core/common/assertion.h"

namespace Binding::Detail {

namespace {

constexpr const char* kUtilsSource = "enterprise/common/ipc/utils";
constexpr const char* kNotEncryptable = "!\"Value is not encryptable but encyption was requested\"";
constexpr uint32_t kNotWritten = 2; // with kNotRead clear
constexpr uint32_t kNotRead = 1;    // with kNotWritten clear
constexpr uint32_t kEncrypted = 4;
constexpr uint32_t kKnownFlags = 7;

bool Transfers(uint32_t flag, uint32_t skipBit, uint32_t otherBit, unsigned assertionLine)
{
    if (flag > kKnownFlags)
        return false;
    if ((flag & skipBit) && !(flag & otherBit))
        return false;
    if (flag & kEncrypted) {
        Common::ReportAssertion(kNotEncryptable, kUtilsSource, assertionLine);
        return false;
    }
    return true;
}

} // namespace

bool IsWrittenWithCall(uint32_t flag)
{
    return Transfers(flag, kNotWritten, kNotRead, 313);
}

bool IsReadFromReply(uint32_t flag)
{
    return Transfers(flag, kNotRead, kNotWritten, 395);
}

} // namespace Binding::Detail
