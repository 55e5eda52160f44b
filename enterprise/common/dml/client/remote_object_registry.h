// The object registry of the DML client: each operation becomes one command
// job that sends one "ObjectManager" request ("RegisterObject",
// "UpdateObject", "UnregisterObject") over the access point and completes the
// caller's handler with that request's result. The returned job is never
// empty: it is the started command, also when it has already completed (a
// call the access point refuses completes the handler before the operation
// returns).
//
// The plain-unit overloads copy each unit (key before patch) with the
// registry's unit factory and call the accessor overloads; a registry made
// without a factory raises 0xFC0031 naming "UnitFactory" from them.
//
// Threading: no lock; the registry does not change after construction and may
// be used from several threads at once. Handlers complete on the library's
// threads, or on the calling thread when the call fails at once.
#pragma once

#include <memory>

#include "enterprise/common/dml/service_interfaces.h"
#include "enterprise/common/por/unit_factory.h"
#include "platform/ipc/binding.h"

namespace Dml::Client {

class RemoteObjectRegistry final : public ObjectRegistry
{
public:
    RemoteObjectRegistry(const std::shared_ptr<Binding::AccessPoint>& accessPoint,
                         Por::Construction::UnitFactory* unitFactory);

    std::shared_ptr<Async::Job> RegisterObject(const Por::View::Unit& object, Async::ActionHandler& handler) override;
    std::shared_ptr<Async::Job> RegisterObject(const Por::UnitAccessor& object, Async::ActionHandler& handler) override;
    std::shared_ptr<Async::Job> UpdateObject(const Por::View::Unit& key, const Por::View::Unit& patch,
                                             Async::ActionHandler& handler) override;
    std::shared_ptr<Async::Job> UpdateObject(const Por::ConstUnitAccessor& key, const Por::UnitAccessor& patch,
                                             Async::ActionHandler& handler) override;
    std::shared_ptr<Async::Job> UnregisterObject(const Por::View::Unit& key, Async::ActionHandler& handler) override;
    std::shared_ptr<Async::Job> UnregisterObject(const Por::ConstUnitAccessor& key,
                                                 Async::ActionHandler& handler) override;

private:
    // A copy of `unit` made with the registry's factory, owned by an accessor.
    Por::UnitAccessor Copy(const Por::View::Unit& unit, const Common::Location& caller) const;

    std::shared_ptr<Binding::AccessPoint> m_accessPoint;
    Por::Construction::UnitFactory* m_unitFactory;
};

} // namespace Dml::Client
