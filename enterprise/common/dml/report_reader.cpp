#include "enterprise/common/dml/service_interfaces.h"
#include "enterprise/common/por/unit_accessor.h"

namespace Dml {

void ReportReader::Read(const Por::UnitAccessor& accessor)
{
    const std::shared_ptr<Por::Construction::Unit> unit = accessor.GetShared();
    if (unit)
        Read(static_cast<const Por::View::Unit&>(*unit));
}

} // namespace Dml
