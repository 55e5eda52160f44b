// Test support of the client side: a request of one number, a scripted peer
// that answers such requests as a service would, a recorder of job
// completions, and both roads to a peer.
//
// NumberRequest writes "request_Test_Echo" with child "v"; the peer answers
// "reply_Test_Echo" with "result" and "v":
//   v < 1000        success, v + 100
//   v == 1000       a failed result (0xFC0017 "refused by peer")
//   v == 1001       stalls until `release` (2 s at most), then as v < 1000
//   v == 1002       bytes that are no packet
// and counts the requests it answered.
//
// Threading: the peer and the recorder are used from the test thread and
// library threads at once.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/common/event.h"
#include "enterprise/serialize/xml_packet_deserializer.h"
#include "enterprise/serialize/xml_packet_serializer.h"
#include "platform/ipc/binding.h"
#include "platform/ipc/packet_handler.h"
#include "platform/ipc/server.h"

namespace IpcTesting {

class NumberRequest final : public Binding::Request
{
public:
    NumberRequest(uint32_t value, uint32_t* target) : m_value(value), m_target(target) {}

    static std::atomic<int>& Reads()
    {
        static std::atomic<int> reads{0};
        return reads;
    }

    void SetProperty(const std::string&, const std::u16string&) override {}
    int64_t GetTargetVersion() override { return -1; }
    int GetComponentId() override { return 999; }
    int GetMethodIndex() override { return 1; }
    std::unique_ptr<Serialization::Deserializer> CreatePacketReader(unsigned) override { return nullptr; }
    std::map<std::string, std::u16string> GetProperties() override { return {}; }
    uint64_t GetInterfaceVersion() override { return 1; }
    void Write(Serialization::Serializer& serializer) override
    {
        const Serialization::MetaInfo element("request_Test_Echo");
        serializer.StartWriteMetaInfo(element);
        serializer.Write(Serialization::MetaInfo("v"), m_value);
        serializer.FinishWriteMetaInfo(element);
    }
    void Read(Serialization::Deserializer& deserializer) override
    {
        ++Reads();
        const Serialization::MetaInfo element("reply_Test_Echo");
        deserializer.StartReadMetaInfo(element);
        Common::Error result;
        deserializer.Read(Serialization::MetaInfo("result", true), result);
        if (result.IsSuccess() && m_target)
            deserializer.Read(Serialization::MetaInfo("v", true), *m_target);
        deserializer.FinishReadMetaInfo(element);
    }

private:
    uint32_t m_value;
    uint32_t* m_target;
};

inline std::unique_ptr<Binding::Request> MakeNumberRequest(uint32_t value, uint32_t* target = nullptr)
{
    return std::make_unique<NumberRequest>(value, target);
}

class NumberPeer final : public Ipc::PacketHandler
{
public:
    Common::Event entered{true, false};
    Common::Event release{true, false};
    Common::Event left{true, false};
    std::atomic<int> answered{0};

    Common::Error Handle(const Ipc::CallContext&, Ipc::ByteView request, Ipc::Bytes& reply) override
    {
        const Running running(*this);
        uint32_t value = 0;
        {
            std::unique_ptr<Serialization::Deserializer> deserializer;
            Serialization::CreateXMLPacketDeserializer(deserializer, request.data(), request.size(), 0);
            deserializer->StartReadMetaInfo(Serialization::MetaInfo("request_Test_Echo"));
            deserializer->Read(Serialization::MetaInfo("v", true), value);
        }
        if (value == 1001) {
            entered.Set();
            (void)release.TimedWait(2000); // a peer that stalls 2 s at most
            left.Set();
        }
        ++answered;
        if (value == 1002) {
            reply.assign({'n', 'o', 't', ' ', 'x', 'm', 'l'});
            return Common::Success;
        }
        std::unique_ptr<Serialization::Serializer> serializer = Serialization::CreateXMLPacketSerializer(2, -1);
        const Serialization::MetaInfo element("reply_Test_Echo");
        serializer->StartWriteMetaInfo(element);
        if (value == 1000) {
            serializer->Write(Serialization::MetaInfo("result"),
                              Common::Error(0xFC0017, u"refused by peer", Common::SourceFile("peer").At("Echo", 3)));
        } else {
            serializer->Write(Serialization::MetaInfo("result"), Common::Success);
            serializer->Write(Serialization::MetaInfo("v"), value + 100);
        }
        serializer->FinishWriteMetaInfo(element);
        std::vector<unsigned char> bytes;
        serializer->GetData(bytes);
        reply.assign(bytes.begin(), bytes.end());
        return Common::Success;
    }

    // True once no request is being answered, within `limit`; a canceled
    // call's handler may still run after its call completed.
    bool WaitUntilIdle(std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_idle.wait_for(guard, limit, [this] { return m_running == 0; });
    }

private:
    class Running
    {
    public:
        explicit Running(NumberPeer& peer) : m_peer(peer)
        {
            std::lock_guard<std::mutex> guard(m_peer.m_lock);
            ++m_peer.m_running;
        }
        ~Running()
        {
            std::lock_guard<std::mutex> guard(m_peer.m_lock);
            if (--m_peer.m_running == 0)
                m_peer.m_idle.notify_all();
        }

    private:
        NumberPeer& m_peer;
    };

    std::mutex m_lock;
    std::condition_variable m_idle;
    int m_running = 0;
};

// Records the completion calls of started jobs, and can own the jobs so that
// it deletes each inside its OnCompleted.
class RecordingHandler final : public JobManagement::JobHandler
{
public:
    struct Shared
    {
        std::mutex lock;
        std::condition_variable changed;
        int successes = 0;
        int errors = 0;
        int completions = 0;
        int outOfOrder = 0; // OnCompleted before an outcome, or a second outcome
        std::vector<std::thread::id> threads;
        std::vector<Common::Error> failures;

        bool WaitForCompletions(int count, std::chrono::milliseconds limit = std::chrono::seconds(30))
        {
            std::unique_lock<std::mutex> guard(lock);
            return changed.wait_for(guard, limit, [&] { return completions >= count; });
        }
    };

    explicit RecordingHandler(std::shared_ptr<Shared> shared) : m_shared(std::move(shared)) {}

    std::unique_ptr<JobManagement::Job> ownedJob; // deleted inside OnCompleted when set
    std::function<void()> onCompleted;            // runs inside OnCompleted, before it is recorded

    void OnSuccess() override { Outcome(true, Common::Success); }
    void OnError(const Common::Error& error) override { Outcome(false, error); }
    void OnCompleted() override
    {
        if (onCompleted)
            onCompleted();
        ownedJob.reset();
        std::shared_ptr<Shared> shared = m_shared;
        std::lock_guard<std::mutex> guard(shared->lock);
        if (!m_outcome)
            ++shared->outOfOrder;
        ++shared->completions;
        shared->threads.push_back(std::this_thread::get_id());
        shared->changed.notify_all();
    }
    void Cancel() override {}

private:
    void Outcome(bool success, const Common::Error& error)
    {
        std::lock_guard<std::mutex> guard(m_shared->lock);
        if (m_outcome)
            ++m_shared->outOfOrder;
        m_outcome = true;
        if (success) {
            ++m_shared->successes;
        } else {
            ++m_shared->errors;
            m_shared->failures.push_back(error);
        }
    }

    std::shared_ptr<Shared> m_shared;
    bool m_outcome = false;
};

} // namespace IpcTesting
