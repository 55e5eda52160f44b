#include "platform/ipc/frame.h"

#include <string.h>

#include <algorithm>
#include <cstring>

#include "core/common/error_blob.h"
#include "platform/ipc/ipc_errors.h"

namespace Ipc {

namespace {

constexpr Common::SourceFile kSource("platform/ipc/frame");

uint64_t ReadLittleEndian(const uint8_t* bytes, size_t count)
{
    uint64_t value = 0;
    for (size_t i = count; i-- > 0;)
        value = (value << 8) | bytes[i];
    return value;
}

void WriteLittleEndian(uint8_t* bytes, uint64_t value, size_t count)
{
    for (size_t i = 0; i < count; ++i, value >>= 8)
        bytes[i] = static_cast<uint8_t>(value);
}

Common::Error BadFrame(const char* function, uint32_t line)
{
    return MakeIpcError(kMalformedFrame, kBadFrameText, kSource.At(function, line));
}

// Fills `size` bytes; `got` tells how many arrived before the stream ended.
Common::Error ReadUpTo(ByteSource& source, uint8_t* into, size_t size, size_t& got)
{
    got = 0;
    while (got < size) {
        size_t now = 0;
        Common::Error error = source.Read(into + got, size - got, now);
        if (!error.IsSuccess())
            return error;
        if (now == 0)
            break;
        got += now;
    }
    return Common::Success;
}

bool IsKnownKind(uint8_t kind)
{
    return kind >= static_cast<uint8_t>(FrameKind::Hello) && kind <= static_cast<uint8_t>(FrameKind::Busy);
}

// The place of a u16-sized text of the Hello payload at `offset`; false when it runs past the end.
bool FindText(ByteView payload, size_t& offset, size_t& start, size_t& size)
{
    if (payload.size() - offset < 2)
        return false;
    size = ReadLittleEndian(payload.data() + offset, 2);
    start = offset + 2;
    if (payload.size() - start < size)
        return false;
    offset = start + size;
    return true;
}

void PutText(Bytes& payload, const std::string& text)
{
    uint8_t size[2];
    WriteLittleEndian(size, text.size(), 2);
    payload.insert(payload.end(), size, size + 2);
    payload.insert(payload.end(), text.begin(), text.end());
}

} // namespace

void EncodeFrameHeader(const FrameHeader& header, uint8_t (&bytes)[kFrameHeaderSize])
{
    bytes[0] = kFrameVersion;
    bytes[1] = static_cast<uint8_t>(header.kind);
    bytes[2] = 0;
    bytes[3] = 0;
    WriteLittleEndian(bytes + 4, header.payloadSize, 4);
    WriteLittleEndian(bytes + 8, header.callId, 8);
}

Common::Error DecodeFrameHeader(const uint8_t* bytes, uint32_t maxPayload, FrameHeader& header)
{
    if (bytes[0] != kFrameVersion || !IsKnownKind(bytes[1]) || bytes[2] != 0 || bytes[3] != 0)
        return BadFrame("DecodeFrameHeader", __LINE__);
    const uint32_t payloadSize = static_cast<uint32_t>(ReadLittleEndian(bytes + 4, 4));
    if (payloadSize > maxPayload)
        return MakeFrameTooLargeError(kFrameOverLimitText, payloadSize, maxPayload,
                                      kSource.At("DecodeFrameHeader", __LINE__));
    header.kind = static_cast<FrameKind>(bytes[1]);
    header.payloadSize = payloadSize;
    header.callId = ReadLittleEndian(bytes + 8, 8);
    return Common::Success;
}

Common::Error ReadFrameHeader(ByteSource& source, uint32_t maxPayload, FrameHeader& header)
{
    uint8_t bytes[kFrameHeaderSize];
    size_t got = 0;
    Common::Error error = ReadUpTo(source, bytes, sizeof bytes, got);
    if (!error.IsSuccess())
        return error;
    if (got == 0)
        return MakeIpcError(kConnectionLost, kConnectionLostText, kSource.At("ReadFrameHeader", __LINE__));
    if (got < sizeof bytes)
        return BadFrame("ReadFrameHeader", __LINE__);
    return DecodeFrameHeader(bytes, maxPayload, header);
}

Common::Error ReadFramePayload(ByteSource& source, uint32_t size, Bytes& payload)
{
    constexpr size_t kFirstRoom = 65536;
    payload.clear();
    size_t got = 0;
    while (got < size) {
        // Room for as much again as arrived so far: the memory follows the bytes, not the announcement.
        const size_t room = std::min<size_t>(size, std::max(kFirstRoom, 2 * got));
        payload.reserve(room); // exactly: a vector's own growth could take twice the room
        payload.resize(room);
        size_t now = 0;
        Common::Error error = ReadUpTo(source, payload.data() + got, room - got, now);
        if (!error.IsSuccess())
            return error;
        got += now;
        if (got < room)
            return BadFrame("ReadFramePayload", __LINE__);
    }
    payload.resize(size);
    return Common::Success;
}

Common::Error SkipFramePayload(ByteSource& source, uint32_t size)
{
    uint8_t scratch[16384];
    while (size > 0) {
        const size_t part = std::min<size_t>(size, sizeof scratch);
        size_t got = 0;
        Common::Error error = ReadUpTo(source, scratch, part, got);
        if (!error.IsSuccess())
            return error;
        if (got < part)
            return BadFrame("SkipFramePayload", __LINE__);
        size -= static_cast<uint32_t>(part);
    }
    return Common::Success;
}

Common::Error ReadFrame(ByteSource& source, uint32_t maxPayload, FrameHeader& header, Bytes& payload)
{
    Common::Error error = ReadFrameHeader(source, maxPayload, header);
    if (!error.IsSuccess())
        return error;
    return ReadFramePayload(source, header.payloadSize, payload);
}

Common::Error ReadHandshakeAnswer(ByteSource& source, FrameKind& answer)
{
    answer = FrameKind::Hello;
    FrameHeader header{};
    Common::Error error = ReadFrameHeader(source, kMaxHandshakeAnswerPayload, header);
    if (!error.IsSuccess())
        return error;
    if (header.callId != 0)
        return BadFrame("ReadHandshakeAnswer", __LINE__);
    switch (header.kind) {
    case FrameKind::Welcome:
    case FrameKind::Refused:
    case FrameKind::Busy:
        if (header.payloadSize != 0)
            return BadFrame("ReadHandshakeAnswer", __LINE__);
        answer = header.kind;
        if (header.kind == FrameKind::Refused)
            return MakeIpcError(kAuthenticationRefused, kAuthenticationRefusedText,
                                kSource.At("ReadHandshakeAnswer", __LINE__));
        if (header.kind == FrameKind::Busy)
            return MakeIpcError(kServiceBusy, kServiceBusyText, kSource.At("ReadHandshakeAnswer", __LINE__));
        return Common::Success;
    case FrameKind::Failure:
        break;
    default:
        return BadFrame("ReadHandshakeAnswer", __LINE__);
    }
    Bytes payload;
    error = ReadFramePayload(source, header.payloadSize, payload);
    if (!error.IsSuccess())
        return error;
    bool whole = false;
    Common::Error reason = Common::DeserializeError(payload.data(), header.payloadSize, whole);
    // A reason that reads as success must not let the login pass for a welcome.
    if (!whole || reason.IsSuccess())
        return BadFrame("ReadHandshakeAnswer", __LINE__);
    answer = FrameKind::Failure;
    return reason;
}

Common::Error EncodeHello(const HelloRecord& hello, Bytes& payload)
{
    const size_t size = 4 + 2 + hello.user.size() + 2 + hello.password.size();
    if (size > kMaxHelloPayload)
        return MakeFrameTooLargeError(kFrameOverLimitText, size, kMaxHelloPayload, kSource.At("EncodeHello", __LINE__));
    payload.clear();
    payload.resize(4);
    WriteLittleEndian(payload.data(), static_cast<uint32_t>(hello.serviceCode), 4);
    PutText(payload, hello.user);
    PutText(payload, hello.password);
    return Common::Success;
}

Common::Error DecodeHello(ByteView payload, HelloRecord& hello)
{
    size_t offset = 4;
    size_t userStart = 0, userSize = 0, passwordStart = 0, passwordSize = 0;
    if (payload.size() < 4 || !FindText(payload, offset, userStart, userSize) ||
        !FindText(payload, offset, passwordStart, passwordSize) || offset != payload.size())
        return BadFrame("DecodeHello", __LINE__);
    // Straight into `hello`: a moved string would leave the password's bytes behind in the one moved from.
    const auto* bytes = reinterpret_cast<const char*>(payload.data());
    hello.serviceCode = static_cast<int32_t>(static_cast<uint32_t>(ReadLittleEndian(payload.data(), 4)));
    hello.user.assign(bytes + userStart, userSize);
    hello.password.assign(bytes + passwordStart, passwordSize);
    return Common::Success;
}

void WipeBytes(void* bytes, size_t size)
{
    if (size > 0) // an empty buffer may have no address at all
        explicit_bzero(bytes, size);
}

} // namespace Ipc
