#include "platform/ipc/ipc_errors.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "core/common/message_catalogue.h"
#include "core/common/message_format.h"
#include "core/common/text_conversion.h"

namespace Ipc {

namespace {

// Header of the address kind; the inline texts follow.
struct AddressErrorRecord
{
    Common::TextErrorRecord text;
    uint64_t host;
    uint64_t port;
};

const AddressErrorRecord* AsAddressRecord(const Common::ErrorRecord* record)
{
    return reinterpret_cast<const AddressErrorRecord*>(record);
}

void FreeAddressRecord(Common::ErrorRecord* record)
{
    Common::Detail::FreeRecordBlock(record);
}

Common::ErrorRecord* CloneAddressRecord(const Common::ErrorRecord* record)
{
    return Common::Detail::CloneRecordBytes(record, record->size);
}

std::u16string AddressRecordText(const Common::ErrorRecord* record)
{
    auto text = static_cast<const char16_t*>(
        Common::Detail::ResolveTextReference(record, AsAddressRecord(record)->text.text));
    return text ? std::u16string(text) : std::u16string();
}

uint64_t NoInteger(const Common::ErrorRecord*, const char*)
{
    return 0;
}

const char16_t* NoWideText(const Common::ErrorRecord*, const char*)
{
    return nullptr;
}

const char* AddressParameter(const Common::ErrorRecord* record, const char* name)
{
    const AddressErrorRecord* address = AsAddressRecord(record);
    if (std::strcmp(name, "host") == 0)
        return static_cast<const char*>(Common::Detail::ResolveTextReference(record, address->host));
    if (std::strcmp(name, "port") == 0)
        return static_cast<const char*>(Common::Detail::ResolveTextReference(record, address->port));
    return Common::Detail::GetModuleParameter(name);
}

const char* AddressNames(const Common::ErrorRecord*)
{
    return "host,port,$module";
}

const Common::ErrorRecordKind kAddressErrorKind{FreeAddressRecord, CloneAddressRecord, AddressRecordText, NoInteger,
                                                AddressParameter,  NoWideText,         AddressNames};

// An error of the address kind with `text` (a catalogue text is held by reference, any other copied).
Common::Error AddressError(unsigned code, const char16_t* text, const std::string& host, unsigned port,
                           Common::Location location) noexcept
{
    static_assert(sizeof(AddressErrorRecord) == sizeof(Common::ErrorRecord) + 3 * sizeof(uint64_t));
    char portText[16];
    std::snprintf(portText, sizeof portText, "%u", port);
    const Common::Detail::RecordText texts[] = {{text, sizeof(char16_t)}, {host.c_str(), 1}, {portText, 1}};
    return Common::Error(Common::Detail::BuildTextsRecord(code, &kAddressErrorKind, location, texts, 3));
}

// "30" for 30000, "0.25" for 250: whole seconds without a fraction, others with what they have.
std::string SecondsText(int milliseconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%d.%03d", milliseconds / 1000, milliseconds % 1000);
    std::string seconds(text);
    seconds.erase(seconds.find_last_not_of('0') + 1);
    if (seconds.back() == '.')
        seconds.pop_back();
    return seconds;
}

} // namespace

Common::Error MakeIpcError(unsigned code, unsigned messageKey, Common::Location location) noexcept
{
    return Common::Error(code, Common::GetMessageText(messageKey), location);
}

Common::Error MakeIpcAddressError(unsigned code, unsigned messageKey, const std::string& host, unsigned port,
                                  Common::Location location) noexcept
{
    return AddressError(code, Common::GetMessageText(messageKey), host, port, location);
}

Common::Error MakeLoginUnansweredError(const std::string& host, unsigned port, int milliseconds,
                                       Common::Location location)
{
    // An IPv6 address in brackets, as the host argument writes it before a port.
    const std::string shownHost = host.find(':') == std::string::npos ? host : "[" + host + "]";
    const std::u16string text = Common::FormatMessage(Common::GetMessageText(kLoginUnansweredText),
                                                      {Common::FromUtf8(shownHost.c_str()),
                                                       Common::FromUtf8(std::to_string(port).c_str()),
                                                       Common::FromUtf8(SecondsText(milliseconds).c_str())});
    return AddressError(kConnectFailed, text.c_str(), host, port, location);
}

Common::Error MakeFrameTooLargeError(unsigned messageKey, size_t size, size_t limit, Common::Location location)
{
    const std::u16string text = Common::FormatMessage(
        Common::GetMessageText(messageKey),
        {Common::FromUtf8(std::to_string(size).c_str()), Common::FromUtf8(std::to_string(limit).c_str())});
    return Common::Error(kFrameTooLarge, text.c_str(), location);
}

Common::Error MakeSessionLimitError(size_t limit, Common::Location location)
{
    const std::u16string text = Common::FormatMessage(Common::GetMessageText(kSessionLimitText),
                                                      {Common::FromUtf8(std::to_string(limit).c_str())});
    return Common::Error(kSessionLimit, text.c_str(), location);
}

} // namespace Ipc
