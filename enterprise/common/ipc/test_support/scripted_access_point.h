// A scripted in-process access point for tests: it plays the IPC client
// library's part for one call at a time. Call takes the request; the job
// writes it into a packet (kept as SentPacket), then answers with the
// scripted reply packet: it reads "result" from a parse of its own and hands a
// fresh parse to the request's Read, and reports "result" as the call's
// outcome. Wait runs this on the calling thread; Start runs it on a new
// thread and completes the handler there (OnSuccess or OnError, then
// OnCompleted). Replies may be set per request element or queued, one per
// call; knobs script a refused
// call, a failing Start, a hook before the answer and a hook in Cancel, and
// the interface version.
//
// Packet helpers build the packet frame around element text.
//
// Threading: Call and the job from any thread; a started job runs on its own
// thread, joined by the access point's destructor (a job must not outlive it).
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
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
        // The last share may go on one of the access point's own threads.
        for (std::thread& thread : m_threads) {
            if (thread.get_id() == std::this_thread::get_id())
                thread.detach();
            else
                thread.join();
        }
    }

    // A failure that Call returns instead of taking the request.
    Common::Error refuseWith;
    // Call accepts without handing out a job.
    bool withoutJob = false;
    // A failure that a job's Start returns instead of running the call.
    Common::Error startFailure;
    // Runs on a started job's thread before the call is answered.
    std::function<void()> beforeReply;
    // Runs on the answering thread with the written packet, before the answer.
    std::function<void(const std::string& packet)> beforeAnswer;
    // Runs inside a job's Cancel (the call is answered all the same).
    std::function<void()> onCancel;
    // Answers of GetInterfaceVersion.
    uint32_t interfaceVersion = 2;
    Common::Error versionFailure;
    // The last packet written; also in Sent().
    std::string sentPacket;
    int calls = 0;

    // Replies taken, one per call, before the fixed reply serves.
    void QueueReply(std::string packet, std::string replyElement)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_queued.emplace_back(std::move(packet), std::move(replyElement));
    }
    // The reply to every request whose packet holds element `requestElement`;
    // it serves before the queued and the fixed replies.
    void ReplyTo(const std::string& requestElement, std::string packet, std::string replyElement)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_byRequest["<" + requestElement + ">"] = {std::move(packet), std::move(replyElement)};
    }
    // Every packet written, in call order.
    std::vector<std::string> Sent()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_sent;
    }

    Common::Error Call(std::unique_ptr<Binding::Request>& request, std::unique_ptr<JobManagement::Job>& job) override
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            ++calls;
        }
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
        if (!versionFailure.IsSuccess())
            return versionFailure;
        *version = interfaceVersion;
        return Common::Success;
    }

private:
    using Reply = std::pair<std::string, std::string>; // packet, reply element

    Reply TakeReply(const std::string& packet)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (const auto& [element, reply] : m_byRequest)
            if (packet.find(element) != std::string::npos)
                return reply;
        if (m_queued.empty())
            return {m_reply, m_replyElement};
        Reply reply = std::move(m_queued.front());
        m_queued.pop_front();
        return reply;
    }
    void Record(const std::string& packet)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        sentPacket = packet;
        m_sent.push_back(packet);
    }

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
            if (!m_owner.startFailure.IsSuccess())
                return m_owner.startFailure;
            std::lock_guard<std::mutex> guard(m_owner.m_lock);
            m_owner.m_threads.emplace_back([this, &handler, before = m_owner.beforeReply] {
                if (before)
                    before();
                const Common::Error result = Run();
                if (result.IsSuccess())
                    handler.OnSuccess();
                else
                    handler.OnError(result);
                handler.OnCompleted();
            });
            return Common::Success;
        }
        Common::Error Cancel() override
        {
            if (m_owner.onCancel)
                m_owner.onCancel();
            return Common::Success;
        }

    private:
        Common::Error Run()
        {
            try {
                const std::string packet = WrittenPacket(*m_request);
                m_owner.Record(packet);
                const Reply reply = m_owner.TakeReply(packet);
                if (m_owner.beforeAnswer)
                    m_owner.beforeAnswer(packet);
                const Common::Error result = ReadResult(reply.first, reply.second);
                if (result.IsSuccess())
                    ReadReply(*m_request, reply.first);
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
    std::mutex m_lock;
    std::deque<Reply> m_queued;
    std::map<std::string, Reply> m_byRequest;
    std::vector<std::string> m_sent;
    std::vector<std::thread> m_threads;
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
