#include "core/common/trace.h"
#include "enterprise/serialize/deserializer.h"

namespace Serialization {

ReadScope::ReadScope(Deserializer& deserializer, const MetaInfo& meta)
    : m_deserializer(&deserializer), m_meta(meta), m_closed(false)
{
    m_deserializer->StartReadMetaInfo(m_meta);
}

ReadScope::~ReadScope()
{
    if (m_closed)
        return;
    try {
        m_deserializer->FinishReadMetaInfo(m_meta);
    } catch (const Common::Error& error) {
        Common::TraceError(Common::TRACE_ERROR, error);
    }
}

void ReadScope::Close()
{
    if (m_closed)
        return;
    m_closed = true;
    m_deserializer->FinishReadMetaInfo(m_meta);
}

} // namespace Serialization
