// Dml::ServiceHolder: the post office, object registry and unit factory that
// the DML actions use, held by plain pointers and owned by none of them:
// whoever made the services keeps them alive longer than every holder and
// every job that uses them. Any of the three may be null; a getter asked for a
// null service throws 0xFC0031 "DML: Unproper use. Missing <service>." at the
// caller's location, so the error names the operation that lacked it.
//
// Threading: an immutable plain value; share or copy it freely.
#pragma once

#include "core/common/location.h"
#include "enterprise/common/dml/service_interfaces.h"
#include "enterprise/common/por/unit_factory.h"

namespace Dml {

class ServiceHolder
{
public:
    ServiceHolder(PostOffice* postOffice, ObjectRegistry* objectRegistry,
                  const Por::Construction::UnitFactory* unitFactory) noexcept
        : m_postOffice(postOffice), m_objectRegistry(objectRegistry), m_unitFactory(unitFactory)
    {
    }
    // Without an object registry (reports).
    ServiceHolder(PostOffice* postOffice, const Por::Construction::UnitFactory* unitFactory) noexcept
        : ServiceHolder(postOffice, nullptr, unitFactory)
    {
    }

    PostOffice* GetPostOffice(const Common::Location& caller) const;
    ObjectRegistry* GetObjectRegistry(const Common::Location& caller) const;
    const Por::Construction::UnitFactory* GetUnitFactory(const Common::Location& caller) const;

private:
    PostOffice* m_postOffice;
    ObjectRegistry* m_objectRegistry;
    const Por::Construction::UnitFactory* m_unitFactory;
};

} // namespace Dml
