// A serializer for tests that offers the container-aware facet: it forwards
// every operation to an XML packet serializer, and writes a sequence handed to
// the facet as "<element>" with one item per iterator step, recording the
// element names it was given.
//
// Threading: one thread, as any serializer.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "enterprise/serialize/container_aware_serializer.h"
#include "enterprise/serialize/xml_packet_serializer.h"

namespace IpcTesting {

class ContainerAwareTestSerializer final : public Serialization::Serializer,
                                           public Serialization::ContainerAwareSerializer
{
public:
    ContainerAwareTestSerializer() : m_inner(Serialization::CreateXMLPacketSerializer(2, -1))
    {
        RegisterInterface<Serialization::ContainerAwareSerializer>(this);
    }

    std::vector<std::string> sequences;

    void WriteSequence(const Serialization::MetaInfo& meta, Serialization::ContainerIterator& items) override
    {
        sequences.push_back(meta.name);
        Serialization::WriteScope scope(*this, meta);
        for (; items.HasCurrent(); items.Next())
            items.SerializeCurrent(*this);
    }

    void Write(const Serialization::MetaInfo& m, bool v) override { m_inner->Write(m, v); }
    void Write(const Serialization::MetaInfo& m, char v) override { m_inner->Write(m, v); }
    void Write(const Serialization::MetaInfo& m, const Common::Guid& v) override { m_inner->Write(m, v); }
    void Write(const Serialization::MetaInfo& m, const Common::Error& v) override { m_inner->Write(m, v); }
    void Write(const Serialization::MetaInfo& m, const std::u16string& v) override { m_inner->Write(m, v); }
    void Write(const Serialization::MetaInfo& m, const uint32_t& v) override { m_inner->Write(m, v); }
    void Write(const Serialization::MetaInfo& m, const double& v) override { m_inner->Write(m, v); }
    void Write(const Serialization::MetaInfo& m, const uint64_t& v) override { m_inner->Write(m, v); }
    void Write(const Serialization::MetaInfo& m, const int32_t& v) override { m_inner->Write(m, v); }
    void Write(const Serialization::MetaInfo& m, const int64_t& v) override { m_inner->Write(m, v); }
    void Write(const Serialization::MetaInfo& m, const std::string& v) override { m_inner->Write(m, v); }
    void Write(const Serialization::MetaInfo& m, const int16_t& v) override { m_inner->Write(m, v); }
    void Write(const Serialization::MetaInfo& m, const uint16_t& v) override { m_inner->Write(m, v); }
    void Write(const Serialization::MetaInfo& m, const std::vector<unsigned char>& v) override { m_inner->Write(m, v); }
    void Write(const Serialization::MetaInfo& m, const Serialization::SharedData& v) override { m_inner->Write(m, v); }
    void GetData(std::vector<unsigned char>& out) override { m_inner->GetData(out); }
    Serialization::SharedData GetSharedData() override { return m_inner->GetSharedData(); }
    Serialization::MetaInfo GetCurrentMetaInfo() const override { return m_inner->GetCurrentMetaInfo(); }
    void StartWriteMetaInfo(const Serialization::MetaInfo& m) override { m_inner->StartWriteMetaInfo(m); }
    void FinishWriteMetaInfo(const Serialization::MetaInfo& m) override { m_inner->FinishWriteMetaInfo(m); }
    void SetContext(void* context) override { m_inner->SetContext(context); }
    void* GetContext() const override { return m_inner->GetContext(); }

private:
    std::unique_ptr<Serialization::Serializer> m_inner;
};

} // namespace IpcTesting
