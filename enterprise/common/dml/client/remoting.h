// The makers of the DML client's services over one access point.
//
// Threading: call from any thread; the services they make say their own.
#pragma once

#include <memory>

#include "enterprise/common/dml/service_interfaces.h"
#include "enterprise/common/por/unit_factory.h"
#include "platform/ipc/binding.h"

namespace Dml::Client {

// A new remote object registry; an empty access point throws 0xFC0017. A null
// factory is accepted: only the plain-unit operations need it.
std::unique_ptr<ObjectRegistry> CreateRemoteObjectRegistry(const std::shared_ptr<Binding::AccessPoint>& accessPoint,
                                                           Por::Construction::UnitFactory* unitFactory);

} // namespace Dml::Client
