// The frame format of the socket road, and its reader.
//
// Every message on the stream is one frame: a 16-byte header, then the payload.
//
//   offset 0  u8   version (1)
//          1  u8   kind (FrameKind)
//          2  u16  reserved, 0
//          4  u32  payload size in bytes
//          8  u64  call id (0 for the handshake frames)
//
// All numbers little-endian. A connection starts with the client's Hello
// (payload: HelloRecord), answered by one of
// - Welcome (empty): the session is open;
// - Refused (empty, then the server closes): user or password refused;
// - Busy (empty, then the server closes without judging the Hello): the server
//   is at one of its limits; the client may try again later;
// - Failure of call id 0 (a Common::Error as an error blob of at most
//   kMaxHandshakeAnswerPayload bytes, then the server closes): the password
//   was right, but the server opens no session for it, and the error says why
//   (kSessionLimit: the user has as many sessions open as the server allows).
// Then the client sends Request frames, each with a fresh call id, and the
// server answers each with a Reply (the reply bytes) or a Failure (a
// Common::Error as an error blob) under the same call id.
//
// Readers check the header (version, kind, reserved bits, payload size against
// the reader's limit) before allocating anything for the payload, and then
// grow the payload with the bytes that arrive, never to a size only
// announced; a stream
// that ends inside a frame, or any header that fails a check, is an error
// (kMalformedFrame or kFrameTooLarge); a stream that ends between two frames
// is kConnectionLost.
//
// Threading: the functions are reentrant; a ByteSource is used by one thread
// at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/common/error.h"
#include "platform/ipc/bytes.h"

namespace Ipc {

enum class FrameKind : uint8_t
{
    Hello = 1,
    Welcome = 2,
    Refused = 3,
    Request = 4,
    Reply = 5,
    Failure = 6,
    Busy = 7,
};

inline constexpr uint8_t kFrameVersion = 1;
inline constexpr size_t kFrameHeaderSize = 16;
// The largest payload a reader accepts after the handshake.
inline constexpr uint32_t kMaxFramePayload = 64u << 20;
// The largest Hello payload a server accepts from a peer not yet known.
inline constexpr uint32_t kMaxHelloPayload = 4096;
// The largest answer to a Hello a client accepts: a Failure's error blob.
inline constexpr uint32_t kMaxHandshakeAnswerPayload = 65536;

struct FrameHeader
{
    FrameKind kind;
    uint64_t callId;
    uint32_t payloadSize;
};

// The 16 header bytes of `header`.
void EncodeFrameHeader(const FrameHeader& header, uint8_t (&bytes)[kFrameHeaderSize]);

// Reads a header from exactly kFrameHeaderSize bytes. Refuses an unknown
// version or kind or non-zero reserved bits (kMalformedFrame) and a payload
// over `maxPayload` (kFrameTooLarge).
Common::Error DecodeFrameHeader(const uint8_t* bytes, uint32_t maxPayload, FrameHeader& header);

// A stream of bytes: a socket, or a buffer in tests and the fuzz target.
class ByteSource
{
public:
    virtual ~ByteSource() = default;
    // Reads at most `size` bytes into `into`; `got` = 0 means the stream ended.
    virtual Common::Error Read(void* into, size_t size, size_t& got) = 0;
};

// Reads the next header. A stream that ends before its first byte gives
// kConnectionLost; one that ends inside it gives kMalformedFrame.
Common::Error ReadFrameHeader(ByteSource& source, uint32_t maxPayload, FrameHeader& header);
// Reads `size` payload bytes into `payload` (replaced). The payload's memory
// grows with the bytes received, so a peer that announces a large frame and
// sends little costs little: its room is at most twice the bytes received (64
// KiB at least) and never more than `size`; while one growth copies the bytes
// into a room twice as large, both are held, three times the bytes received
// and less than twice `size`.
Common::Error ReadFramePayload(ByteSource& source, uint32_t size, Bytes& payload);
// Reads and drops `size` payload bytes through a small fixed buffer.
Common::Error SkipFramePayload(ByteSource& source, uint32_t size);
// ReadFrameHeader, then ReadFramePayload.
Common::Error ReadFrame(ByteSource& source, uint32_t maxPayload, FrameHeader& header, Bytes& payload);

// Reads the answer to a Hello. Welcome gives success, Refused
// kAuthenticationRefused, Busy kServiceBusy, and a Failure the error its blob
// carries. A blob that is not read whole or reads as success, any other
// kind, a call id other than 0, or a payload on an answer other than Failure
// gives kMalformedFrame; a payload over kMaxHandshakeAnswerPayload
// kFrameTooLarge. `answer` receives the kind of a well-formed answer
// (Welcome, Refused, Busy or Failure), Hello when there was none.
Common::Error ReadHandshakeAnswer(ByteSource& source, FrameKind& answer);

// The payload of Hello:
//   i32 service code, u16 user size, user bytes, u16 password size, password bytes
// and nothing after. User and password are UTF-8, taken as they are.
struct HelloRecord
{
    std::string user;
    std::string password;
    int32_t serviceCode = 0;
};

// The payload of `hello`; kFrameTooLarge when it would exceed kMaxHelloPayload.
Common::Error EncodeHello(const HelloRecord& hello, Bytes& payload);
// Reads a Hello payload into `hello` in place, so that no copy of the
// password is left elsewhere. Anything else than the exact layout is
// kMalformedFrame, and leaves `hello` as it was.
Common::Error DecodeHello(ByteView payload, HelloRecord& hello);

// Overwrites `bytes` with zeros in a way the compiler keeps.
void WipeBytes(void* bytes, size_t size);

} // namespace Ipc
