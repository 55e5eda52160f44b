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

// A new view provider: a RemotePostOffice when the service reports version 1
// of "ViewManager", else a ChanneledRemotePostOffice. An empty access point
// throws 0xFC0017; a failing version query throws its error.
std::unique_ptr<PostOffice> CreateRemoteViewProvider(const std::shared_ptr<Binding::AccessPoint>& accessPoint);

} // namespace Dml::Client
