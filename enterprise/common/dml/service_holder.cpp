#include "enterprise/common/dml/service_holder.h"

#include <string>

#include "core/common/error.h"
#include "core/common/message_catalogue.h"
#include "core/common/message_format.h"
#include "core/common/text_conversion.h"
#include "enterprise/common/dml/dml_errors.h"

namespace Dml {
namespace {

template <typename Service>
Service* Checked(Service* service, const char* name, const Common::Location& caller)
{
    if (service)
        return service;
    const std::u16string text = Common::FormatMessageWithArgument(Common::GetMessageText(kImproperUseText),
                                                                  Common::FromUtf8(name));
    Common::ThrowError(Common::Error(DML_ERROR_IMPROPER_USE, text.c_str(), caller));
}

} // namespace

PostOffice* ServiceHolder::GetPostOffice(const Common::Location& caller) const
{
    return Checked(m_postOffice, "PostOffice", caller);
}

ObjectRegistry* ServiceHolder::GetObjectRegistry(const Common::Location& caller) const
{
    return Checked(m_objectRegistry, "ObjectRegistry", caller);
}

const Por::Construction::UnitFactory* ServiceHolder::GetUnitFactory(const Common::Location& caller) const
{
    return Checked(m_unitFactory, "UnitFactory", caller);
}

} // namespace Dml
