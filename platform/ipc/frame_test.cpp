#include "platform/ipc/frame.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/common/error_blob.h"
#include "platform/ipc/host_address.h"
#include "platform/ipc/ipc_errors.h"
#include "testing/error_matchers.h"

namespace {

using ::testing::AllOf;
using Testing::ErrorIs;
using Testing::HasText;
using Testing::IsSuccessError;

// Hands out its bytes at most `step` at a time, and counts what was asked for.
class MemorySource : public Ipc::ByteSource
{
public:
    explicit MemorySource(Ipc::Bytes bytes, size_t step = SIZE_MAX) : m_bytes(std::move(bytes)), m_step(step) {}

    Common::Error Read(void* into, size_t size, size_t& got) override
    {
        got = std::min({size, m_step, m_bytes.size() - m_offset});
        if (got != 0) // an empty input may have no address at all
            std::memcpy(into, m_bytes.data() + m_offset, got);
        m_offset += got;
        return Common::Success;
    }
    size_t Consumed() const { return m_offset; }

private:
    Ipc::Bytes m_bytes;
    size_t m_step;
    size_t m_offset = 0;
};

Ipc::Bytes Frame(Ipc::FrameKind kind, uint64_t callId, const Ipc::Bytes& payload)
{
    uint8_t header[Ipc::kFrameHeaderSize];
    Ipc::EncodeFrameHeader(Ipc::FrameHeader{kind, callId, static_cast<uint32_t>(payload.size())}, header);
    Ipc::Bytes bytes(header, header + sizeof header);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

TEST(FrameFormat, HeaderBytesAreLittleEndianAndReadBack)
{
    uint8_t header[Ipc::kFrameHeaderSize];
    Ipc::EncodeFrameHeader(Ipc::FrameHeader{Ipc::FrameKind::Reply, 0x0102030405060708ull, 0x0A0B0C0Du}, header);
    const uint8_t expected[] = {1, 5, 0, 0, 0x0D, 0x0C, 0x0B, 0x0A, 8, 7, 6, 5, 4, 3, 2, 1};
    EXPECT_EQ(0, std::memcmp(header, expected, sizeof expected));

    Ipc::FrameHeader read{};
    ASSERT_THAT(Ipc::DecodeFrameHeader(header, UINT32_MAX, read), IsSuccessError());
    EXPECT_EQ(read.kind, Ipc::FrameKind::Reply);
    EXPECT_EQ(read.callId, 0x0102030405060708ull);
    EXPECT_EQ(read.payloadSize, 0x0A0B0C0Du);
}

TEST(FrameFormat, HeaderChecksRefuseWhatIsNotAFrame)
{
    struct Case
    {
        const char* what;
        size_t offset;
        uint8_t value;
        unsigned code;
    };
    const Case cases[] = {
        {"version 0", 0, 0, Ipc::kMalformedFrame},
        {"version 2", 0, 2, Ipc::kMalformedFrame},
        {"kind 0", 1, 0, Ipc::kMalformedFrame},
        {"kind past Busy", 1, 8, Ipc::kMalformedFrame},
        {"reserved low byte", 2, 1, Ipc::kMalformedFrame},
        {"reserved high byte", 3, 0x80, Ipc::kMalformedFrame},
        {"payload one over the limit", 4, 0x41, Ipc::kFrameTooLarge}, // 65 bytes against a limit of 64
    };
    for (const Case& c : cases) {
        uint8_t header[Ipc::kFrameHeaderSize];
        Ipc::EncodeFrameHeader(Ipc::FrameHeader{Ipc::FrameKind::Request, 9, 64}, header);
        header[c.offset] = c.value;
        Ipc::FrameHeader read{};
        EXPECT_THAT(Ipc::DecodeFrameHeader(header, 64, read), ErrorIs(c.code)) << c.what;
    }
}

TEST(FrameReader, ReadsFramesBackToBackFromTrickledBytes)
{
    Ipc::Bytes stream = Frame(Ipc::FrameKind::Request, 1, {'a', 'b', 'c'});
    const Ipc::Bytes second = Frame(Ipc::FrameKind::Reply, 2, {});
    stream.insert(stream.end(), second.begin(), second.end());
    MemorySource source(stream, 1);

    Ipc::FrameHeader header{};
    Ipc::Bytes payload;
    ASSERT_THAT(Ipc::ReadFrame(source, Ipc::kMaxFramePayload, header, payload), IsSuccessError());
    EXPECT_EQ(header.callId, 1u);
    EXPECT_EQ(payload, (Ipc::Bytes{'a', 'b', 'c'}));
    ASSERT_THAT(Ipc::ReadFrame(source, Ipc::kMaxFramePayload, header, payload), IsSuccessError());
    EXPECT_EQ(header.kind, Ipc::FrameKind::Reply);
    EXPECT_TRUE(payload.empty());
    EXPECT_THAT(Ipc::ReadFrame(source, Ipc::kMaxFramePayload, header, payload), ErrorIs(Ipc::kConnectionLost));
}

TEST(FrameReader, StreamCutInsideAFrameIsMalformed)
{
    const Ipc::Bytes whole = Frame(Ipc::FrameKind::Reply, 7, Ipc::Bytes(100, 'x'));
    for (size_t cut : {size_t{1}, Ipc::kFrameHeaderSize - 1, Ipc::kFrameHeaderSize, whole.size() - 1}) {
        MemorySource source(Ipc::Bytes(whole.begin(), whole.begin() + cut));
        Ipc::FrameHeader header{};
        Ipc::Bytes payload;
        EXPECT_THAT(Ipc::ReadFrame(source, Ipc::kMaxFramePayload, header, payload), ErrorIs(Ipc::kMalformedFrame))
            << "cut after " << cut << " bytes";
    }
}

TEST(FrameReader, OversizedPayloadIsRefusedBeforeItIsRead)
{
    uint8_t header[Ipc::kFrameHeaderSize];
    Ipc::EncodeFrameHeader(Ipc::FrameHeader{Ipc::FrameKind::Reply, 1, UINT32_MAX}, header);
    Ipc::Bytes stream(header, header + sizeof header);
    stream.resize(stream.size() + 32, 'x');
    MemorySource source(stream);

    Ipc::FrameHeader read{};
    Ipc::Bytes payload;
    EXPECT_THAT(Ipc::ReadFrame(source, Ipc::kMaxFramePayload, read, payload), ErrorIs(Ipc::kFrameTooLarge));
    EXPECT_EQ(source.Consumed(), Ipc::kFrameHeaderSize);
    EXPECT_EQ(payload.capacity(), 0u);
}

TEST(FrameReader, PayloadMemoryFollowsTheBytesThatArrivedNotTheAnnouncedSize)
{
    struct Case
    {
        size_t sent;     // payload bytes before the stream ends
        size_t mostRoom; // the payload's capacity may not pass this
    };
    const Case cases[] = {
        {10, 65536},
        {65536, 2 * 65536},
        {300000, 2 * 300000},
    };
    for (const Case& c : cases) {
        uint8_t header[Ipc::kFrameHeaderSize];
        Ipc::EncodeFrameHeader(Ipc::FrameHeader{Ipc::FrameKind::Request, 1, Ipc::kMaxFramePayload}, header);
        Ipc::Bytes stream(header, header + sizeof header);
        stream.resize(stream.size() + c.sent, 'x');
        MemorySource source(stream, 4096);
        Ipc::FrameHeader read{};
        Ipc::Bytes payload;
        EXPECT_THAT(Ipc::ReadFrame(source, Ipc::kMaxFramePayload, read, payload), ErrorIs(Ipc::kMalformedFrame))
            << c.sent;
        EXPECT_LE(payload.capacity(), c.mostRoom) << c.sent << " bytes sent of 64 MiB announced";
    }
    // A whole frame still arrives whole, across the growth steps.
    Ipc::Bytes large(1000000);
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<uint8_t>(i * 13);
    MemorySource source(Frame(Ipc::FrameKind::Reply, 3, large), 70000);
    Ipc::FrameHeader read{};
    Ipc::Bytes payload;
    ASSERT_THAT(Ipc::ReadFrame(source, Ipc::kMaxFramePayload, read, payload), IsSuccessError());
    EXPECT_EQ(payload, large);
    EXPECT_LE(payload.capacity(), large.size()) << "no room past the payload";
}

TEST(FrameReader, AFrameOverTheLimitNamesItsSizeAndTheLimit)
{
    uint8_t header[Ipc::kFrameHeaderSize];
    Ipc::EncodeFrameHeader(Ipc::FrameHeader{Ipc::FrameKind::Reply, 1, 5000}, header);
    Ipc::FrameHeader read{};
    EXPECT_THAT(Ipc::DecodeFrameHeader(header, 4096, read),
                AllOf(ErrorIs(Ipc::kFrameTooLarge),
                      HasText(u"IPC: A frame of 5000 bytes is larger than the limit of 4096 bytes.")));
}

TEST(FrameReader, SkippedPayloadLeavesTheNextFrameReadable)
{
    Ipc::Bytes stream = Frame(Ipc::FrameKind::Reply, 1, Ipc::Bytes(40000, 'x')); // several scratch buffers
    const Ipc::Bytes next = Frame(Ipc::FrameKind::Reply, 2, {'o', 'k'});
    stream.insert(stream.end(), next.begin(), next.end());
    MemorySource source(stream);

    Ipc::FrameHeader header{};
    ASSERT_THAT(Ipc::ReadFrameHeader(source, Ipc::kMaxFramePayload, header), IsSuccessError());
    ASSERT_THAT(Ipc::SkipFramePayload(source, header.payloadSize), IsSuccessError());
    Ipc::Bytes payload;
    ASSERT_THAT(Ipc::ReadFrame(source, Ipc::kMaxFramePayload, header, payload), IsSuccessError());
    EXPECT_EQ(header.callId, 2u);
    EXPECT_EQ(payload, (Ipc::Bytes{'o', 'k'}));

    MemorySource cut(Ipc::Bytes(10, 'x'));
    EXPECT_THAT(Ipc::SkipFramePayload(cut, 11), ErrorIs(Ipc::kMalformedFrame));
}

TEST(FrameReader, FailureOfTheSourceIsPassedOn)
{
    class FailingSource : public Ipc::ByteSource
    {
    public:
        Common::Error Read(void*, size_t, size_t&) override
        {
            return Common::Error(0x40001, "read failed", Common::NoLocation);
        }
    } source;
    Ipc::FrameHeader header{};
    Ipc::Bytes payload;
    EXPECT_THAT(Ipc::ReadFrame(source, Ipc::kMaxFramePayload, header, payload), ErrorIs(0x40001));
}

Ipc::Bytes Blob(const Common::Error& error)
{
    uint32_t size = 0;
    std::unique_ptr<unsigned char[]> blob(Common::SerializeError(error, size));
    return Ipc::Bytes(blob.get(), blob.get() + size);
}

// A turned-down login as a service may give it: a reason with a cause.
Common::Error TurnedDown(size_t textSize = 20)
{
    Common::Error error(0xAD01F0, std::string(textSize, 's').c_str(), Common::NoLocation);
    error.AddPosixError(EUSERS);
    return error;
}

TEST(HandshakeAnswer, AFailureGivesTheErrorOfItsBlobWithItsCauses)
{
    MemorySource source(Frame(Ipc::FrameKind::Failure, 0, Blob(TurnedDown())), 3);
    Ipc::FrameKind answer{};
    EXPECT_THAT(
        Ipc::ReadHandshakeAnswer(source, answer),
        AllOf(ErrorIs(0xAD01F0), HasText(u"ssssssssssssssssssss"), Testing::CausedBy(Testing::IsPosixError(EUSERS))));
    EXPECT_EQ(answer, Ipc::FrameKind::Failure);
}

TEST(HandshakeAnswer, EachAnswerGivesItsResultAndAnythingElseIsMalformed)
{
    const Ipc::Bytes blob = Blob(TurnedDown());
    Ipc::Bytes trailing = blob;
    trailing.push_back(7);
    Ipc::Bytes secondCut = blob; // the first record whole, its cause cut short
    secondCut.resize(blob.size() - 3);
    Ipc::Bytes payloadCut = Frame(Ipc::FrameKind::Failure, 0, blob);
    payloadCut.resize(payloadCut.size() - 1);
    Ipc::Bytes overLimit = Frame(Ipc::FrameKind::Failure, 0, {});
    overLimit[4] = 1; // 65537 bytes announced
    overLimit[6] = 1;
    const Ipc::FrameKind none = Ipc::FrameKind::Hello;
    struct Case
    {
        const char* what;
        Ipc::Bytes bytes;
        unsigned code; // 0: success
        Ipc::FrameKind answer;
    };
    const Case cases[] = {
        {"welcome", Frame(Ipc::FrameKind::Welcome, 0, {}), 0, Ipc::FrameKind::Welcome},
        {"refused", Frame(Ipc::FrameKind::Refused, 0, {}), Ipc::kAuthenticationRefused, Ipc::FrameKind::Refused},
        {"busy", Frame(Ipc::FrameKind::Busy, 0, {}), Ipc::kServiceBusy, Ipc::FrameKind::Busy},
        {"failure whose blob is success", Frame(Ipc::FrameKind::Failure, 0, {1}), Ipc::kMalformedFrame, none},
        {"failure with bytes after its blob", Frame(Ipc::FrameKind::Failure, 0, trailing), Ipc::kMalformedFrame, none},
        {"failure whose cause is cut short", Frame(Ipc::FrameKind::Failure, 0, secondCut), Ipc::kMalformedFrame, none},
        {"failure of garbage", Frame(Ipc::FrameKind::Failure, 0, Ipc::Bytes(40, 0xC3)), Ipc::kMalformedFrame, none},
        {"failure without a payload", Frame(Ipc::FrameKind::Failure, 0, {}), Ipc::kMalformedFrame, none},
        {"failure whose stream ends inside it", payloadCut, Ipc::kMalformedFrame, none},
        {"failure over the limit", overLimit, Ipc::kFrameTooLarge, none},
        {"failure of a call", Frame(Ipc::FrameKind::Failure, 1, blob), Ipc::kMalformedFrame, none},
        {"busy of a call", Frame(Ipc::FrameKind::Busy, 1, {}), Ipc::kMalformedFrame, none},
        {"welcome with a payload", Frame(Ipc::FrameKind::Welcome, 0, {1, 2}), Ipc::kMalformedFrame, none},
        {"refused with a payload", Frame(Ipc::FrameKind::Refused, 0, {1}), Ipc::kMalformedFrame, none},
        {"a reply", Frame(Ipc::FrameKind::Reply, 0, {}), Ipc::kMalformedFrame, none},
        {"a hello", Frame(Ipc::FrameKind::Hello, 0, {}), Ipc::kMalformedFrame, none},
        {"a header cut short", Ipc::Bytes(9, 1), Ipc::kMalformedFrame, none},
        {"nothing", {}, Ipc::kConnectionLost, none},
    };
    for (const Case& c : cases) {
        MemorySource source(c.bytes, 5);
        Ipc::FrameKind answer = Ipc::FrameKind::Request;
        const Common::Error error = Ipc::ReadHandshakeAnswer(source, answer);
        if (c.code == 0) {
            EXPECT_THAT(error, IsSuccessError()) << c.what;
        } else {
            EXPECT_THAT(error, ErrorIs(c.code)) << c.what;
        }
        EXPECT_EQ(answer, c.answer) << c.what;
    }
}

TEST(HandshakeAnswer, ABlobOfExactlyTheLimitIsRead)
{
    const size_t base = Blob(TurnedDown(0)).size();
    const Ipc::Bytes blob = Blob(TurnedDown(Ipc::kMaxHandshakeAnswerPayload - base));
    ASSERT_EQ(blob.size(), Ipc::kMaxHandshakeAnswerPayload);
    MemorySource source(Frame(Ipc::FrameKind::Failure, 0, blob));
    Ipc::FrameKind answer{};
    EXPECT_THAT(Ipc::ReadHandshakeAnswer(source, answer), ErrorIs(0xAD01F0));
    EXPECT_EQ(answer, Ipc::FrameKind::Failure);
}

TEST(HelloRecord, RoundTripsUserPasswordAndServiceCode)
{
    const Ipc::HelloRecord hello{"alice", std::string("pa\0ss:w\xC3\xB6rd", 11), -33};
    Ipc::Bytes payload;
    ASSERT_THAT(Ipc::EncodeHello(hello, payload), IsSuccessError());
    Ipc::HelloRecord read;
    ASSERT_THAT(Ipc::DecodeHello(payload, read), IsSuccessError());
    EXPECT_EQ(read.user, hello.user);
    EXPECT_EQ(read.password, hello.password);
    EXPECT_EQ(read.serviceCode, -33);
}

TEST(HelloRecord, AnythingButTheExactLayoutIsMalformed)
{
    Ipc::Bytes good;
    ASSERT_THAT(Ipc::EncodeHello(Ipc::HelloRecord{"bob", "pw", 46}, good), IsSuccessError());
    Ipc::Bytes trailing = good;
    trailing.push_back(0);
    Ipc::Bytes userPastEnd = good;
    userPastEnd[4] = 200;
    const Ipc::Bytes cases[] = {
        {},
        Ipc::Bytes(good.begin(), good.begin() + 3),
        Ipc::Bytes(good.begin(), good.begin() + 5),
        Ipc::Bytes(good.begin(), good.end() - 1),
        trailing,
        userPastEnd,
    };
    for (const Ipc::Bytes& payload : cases) {
        Ipc::HelloRecord read{"kept", "kept", 1};
        EXPECT_THAT(Ipc::DecodeHello(payload, read), ErrorIs(Ipc::kMalformedFrame)) << payload.size() << " bytes";
        EXPECT_EQ(read.user, "kept");
    }
}

TEST(HelloRecord, TooLongCredentialsAreRefused)
{
    Ipc::Bytes payload;
    EXPECT_THAT(Ipc::EncodeHello(Ipc::HelloRecord{"u", std::string(Ipc::kMaxHelloPayload, 'p'), 1}, payload),
                ErrorIs(Ipc::kFrameTooLarge));
}

TEST(HostArgument, SplitsHostAndPort)
{
    struct Case
    {
        const char* argument;
        bool valid;
        const char* host;
        uint16_t port;
    };
    const Case cases[] = {
        {"example.org", true, "example.org", Ipc::kDefaultServicePort},
        {"127.0.0.1:5000", true, "127.0.0.1", 5000},
        {"host:65535", true, "host", 65535},
        {"[::1]:7", true, "::1", 7},
        {"[::1]", true, "::1", Ipc::kDefaultServicePort},
        {"::1", true, "::1", Ipc::kDefaultServicePort},
        {"", false, "", 0},
        {":80", false, "", 0},
        {"host:", false, "", 0},
        {"host:0", false, "", 0},
        {"host:65536", false, "", 0},
        {"host:123456", false, "", 0},
        {"host:8o", false, "", 0},
        {"host:-1", false, "", 0},
        {"[::1", false, "", 0},
        {"[::1]x", false, "", 0},
        {"[]:80", false, "", 0},
    };
    for (const Case& c : cases) {
        Ipc::HostAddress address;
        ASSERT_EQ(Ipc::ParseHostArgument(c.argument, address), c.valid) << c.argument;
        if (c.valid) {
            EXPECT_EQ(address.host, c.host) << c.argument;
            EXPECT_EQ(address.port, c.port) << c.argument;
        }
    }
}

} // namespace
