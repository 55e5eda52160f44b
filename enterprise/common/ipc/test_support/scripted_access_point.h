// A scripted in-process access point for tests: it plays the IPC client
// library's part for one call at a time. Call takes the request; the job
// writes it into a packet (kept as SentPacket), then answers with the
// scripted reply packet: it reads "result" from a parse of its own and hands a
// fresh parse to the request's Read, and reports "result" as the call's
// outcome. Wait runs this on the calling thread; Start runs it on a new
// thread and completes the handler there (OnSuccess or OnError, then
// OnCompleted).
//
// Packet helpers build the packet frame around element text.
//
// Threading: Call and the job from the test's thread; a started job runs on
// its own thread, joined by the access point's destructor.
#pragma once

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/common/error.h"
#include "enterprise/serialize/xml_packet_deserializer.h"
#include "enterprise/serialize/xml_packet_serializer.h"
#include "platform/ipc/binding.h"

namespace IpcTesting {

inline const std::string kPacketHead = "\xEF\xBB\xBF<XML_SERIALIZER>";
inline const std::string kPacketTail = "</XML_SERIALIZER>";

inline std::string Packet(const std::string& content)
{
    return kPacketHead + content + kPacketTail;
}

// The packet that `request` writes, as the library writes it (format 2,
// target version -1).
inline std::string WrittenPacket(Binding::Request& request)
{
    std::unique_ptr<Serialization::Serializer> serializer = Serialization::CreateXMLPacketSerializer(2, -1);
    request.Write(*serializer);
    std::vector<unsigned char> bytes;
    serializer->GetData(bytes);
    return std::string(bytes.begin(), bytes.end());
}

// The packet content between the frame's tags.
inline std::string Content(const std::string& packet)
{
    if (packet.size() < kPacketHead.size() + kPacketTail.size())
        return packet;
    return packet.substr(kPacketHead.size(), packet.size() - kPacketHead.size() - kPacketTail.size());
}

inline std::unique_ptr<Serialization::Deserializer> Parse(const std::string& packet)
{
    std::unique_ptr<Serialization::Deserializer> deserializer;
    Serialization::CreateXMLPacketDeserializer(deserializer, packet.data(), packet.size(), 0);
    return deserializer;
}

// Hands the reply packet to the request's Read.
inline void ReadReply(Binding::Request& request, const std::string& packet)
{
    request.Read(*Parse(packet));
}

// The "result" of the reply element `replyElement` in `packet`.
inline Common::Error ReadResult(const std::string& packet, const std::string& replyElement)
{
    std::unique_ptr<Serialization::Deserializer> deserializer = Parse(packet);
    Common::Error result;
    deserializer->StartReadMetaInfo(Serialization::MetaInfo(replyElement));
    deserializer->Read(Serialization::MetaInfo("result", true), result);
    return result;
}

class ScriptedAccessPoint final : public Binding::AccessPoint
{
public:
    explicit ScriptedAccessPoint(std::string replyPacket, std::string replyElement)
        : m_reply(std::move(replyPacket)), m_replyElement(std::move(replyElement))
    {
    }
    ~ScriptedAccessPoint() override
    {
        if (m_thread.joinable())
            m_thread.join();
    }

    // A failure that Call returns instead of taking the request.
    Common::Error refuseWith;
    // Call accepts without handing out a job.
    bool withoutJob = false;
    std::string sentPacket;
    int calls = 0;

    Common::Error Call(std::unique_ptr<Binding::Request>& request, std::unique_ptr<JobManagement::Job>& job) override
    {
        ++calls;
        if (!refuseWith.IsSuccess())
            return refuseWith;
        if (withoutJob)
            return Common::Success;
        job = std::make_unique<CallJob>(*this, std::move(request));
        return Common::Success;
    }
    int GetConnectionKey() override { return 1; }
    Common::Error GetInterfaceVersion(int, uint32_t* version, uint32_t*) override
    {
        *version = 2;
        return Common::Success;
    }

private:
    class CallJob final : public JobManagement::Job
    {
    public:
        CallJob(ScriptedAccessPoint& owner, std::unique_ptr<Binding::Request> request)
            : m_owner(owner), m_request(std::move(request))
        {
        }
        Common::Error Wait(int) override { return Run(); }
        Common::Error Start(JobManagement::JobHandler& handler) override
        {
            m_owner.m_thread = std::thread([this, &handler] {
                const Common::Error result = Run();
                if (result.IsSuccess())
                    handler.OnSuccess();
                else
                    handler.OnError(result);
                handler.OnCompleted();
            });
            return Common::Success;
        }
        Common::Error Cancel() override { return Common::Success; }

    private:
        Common::Error Run()
        {
            try {
                m_owner.sentPacket = WrittenPacket(*m_request);
                const Common::Error result = ReadResult(m_owner.m_reply, m_owner.m_replyElement);
                if (result.IsSuccess())
                    ReadReply(*m_request, m_owner.m_reply);
                return result;
            } catch (const Common::Error& error) {
                return error;
            }
        }

        ScriptedAccessPoint& m_owner;
        std::unique_ptr<Binding::Request> m_request;
    };

    std::string m_reply;
    std::string m_replyElement;
    std::thread m_thread;
};

} // namespace IpcTesting

namespace IpcTesting {

// The element "result" holding `error` as the packet serializer writes it.
inline std::string ResultElement(const Common::Error& error)
{
    std::unique_ptr<Serialization::Serializer> serializer = Serialization::CreateXMLPacketSerializer(2, -1);
    serializer->Write(Serialization::MetaInfo("result"), error);
    std::vector<unsigned char> bytes;
    serializer->GetData(bytes);
    return Content(std::string(bytes.begin(), bytes.end()));
}

} // namespace IpcTesting
