#include "core/common/trace.h"
#include "enterprise/serialize/serializer.h"

namespace Serialization {

WriteScope::WriteScope(Serializer& serializer, const MetaInfo& meta)
    : m_serializer(&serializer), m_meta(meta), m_closed(false)
{
    m_serializer->StartWriteMetaInfo(m_meta);
}

WriteScope::~WriteScope()
{
    if (m_closed)
        return;
    try {
        m_serializer->FinishWriteMetaInfo(m_meta);
    } catch (const Common::Error& error) {
        Common::TraceError(Common::TRACE_ERROR, error);
    }
}

void WriteScope::Close()
{
    if (m_closed)
        return;
    m_closed = true;
    m_serializer->FinishWriteMetaInfo(m_meta);
}

ContextScope::ContextScope(Serializer& serializer, void* context)
    : m_serializer(&serializer), m_context(context), m_saved(serializer.GetContext()), m_armed(false)
{
    if (m_saved != m_context) {
        m_serializer->SetContext(m_context);
        m_armed = true;
    }
}

ContextScope::~ContextScope()
{
    if (m_armed)
        m_serializer->SetContext(m_saved);
}

} // namespace Serialization
