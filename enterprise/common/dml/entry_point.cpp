#include "enterprise/common/dml/entry_point.h"

namespace Core {

EntryPoint::EntryPoint(const Common::Location& location)
    : m_locationId(location.LineTag), m_sourceFile(location.file ? location.file : ""), m_line(location.line),
      m_data(static_cast<unsigned char*>(nullptr)), m_dataSize(0)
{
}

} // namespace Core
