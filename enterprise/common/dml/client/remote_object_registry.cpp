#include "enterprise/common/dml/client/remote_object_registry.h"

#include <utility>

#include "core/common/location.h"
#include "enterprise/common/dml/client/async_request.h"
#include "enterprise/common/dml/service_holder.h"
#include "enterprise/common/por/const_unit_accessor.h"
#include "enterprise/common/por/unit_accessor.h"
#include "enterprise/common/por/unit_copier.h"
#include "xidl/object_manager.h"

namespace Dml::Client {
namespace {

constexpr Common::SourceFile kSource("enterprise/common/dml/client/remote_object_registry");

using UnitPtr = std::shared_ptr<const Por::View::Unit>;

// A command of one "ObjectManager" method; its units are shared with the
// request it builds.
template <typename Builder, typename... Units>
class ObjectCommand final : public SmartRequestRunner
{
public:
    ObjectCommand(const std::shared_ptr<Binding::AccessPoint>& accessPoint, Async::ActionHandler& handler,
                  Builder builder, Units... units)
        : SmartRequestRunner(accessPoint, &handler), m_builder(builder), m_units(std::move(units)...)
    {
    }
    ~ObjectCommand() override { ReleaseRequest(); }

    std::unique_ptr<Binding::Request> BuildRequest() override { return std::apply(m_builder, m_units); }

private:
    Builder m_builder;
    std::tuple<Units...> m_units;
};

template <typename Builder, typename... Units>
std::shared_ptr<Async::Job> StartCommand(const std::shared_ptr<Binding::AccessPoint>& accessPoint,
                                         Async::ActionHandler& handler, Builder builder, Units... units)
{
    auto command = std::make_shared<ObjectCommand<Builder, Units...>>(accessPoint, handler, builder,
                                                                      std::move(units)...);
    command->Start();
    return command;
}

} // namespace

RemoteObjectRegistry::RemoteObjectRegistry(const std::shared_ptr<Binding::AccessPoint>& accessPoint,
                                           Por::Construction::UnitFactory* unitFactory)
    : m_accessPoint(accessPoint), m_unitFactory(unitFactory)
{
}

Por::UnitAccessor RemoteObjectRegistry::Copy(const Por::View::Unit& unit, const Common::Location& caller) const
{
    const ServiceHolder services(nullptr, nullptr, m_unitFactory);
    return Por::UnitAccessor(Por::Util::CopyUnit(unit, *services.GetUnitFactory(caller)));
}

std::shared_ptr<Async::Job> RemoteObjectRegistry::RegisterObject(const Por::View::Unit& object,
                                                                 Async::ActionHandler& handler)
{
    return RegisterObject(Copy(object, kSource.At("RegisterObject", __LINE__)), handler);
}

std::shared_ptr<Async::Job> RemoteObjectRegistry::RegisterObject(const Por::UnitAccessor& object,
                                                                 Async::ActionHandler& handler)
{
    return StartCommand(m_accessPoint, handler, &MakeRegisterObjectRequest, UnitPtr(object.Get()));
}

std::shared_ptr<Async::Job> RemoteObjectRegistry::UpdateObject(const Por::View::Unit& key, const Por::View::Unit& patch,
                                                               Async::ActionHandler& handler)
{
    const Common::Location caller = kSource.At("UpdateObject", __LINE__);
    const Por::UnitAccessor keyCopy = Copy(key, caller);
    return UpdateObject(keyCopy, Copy(patch, caller), handler);
}

std::shared_ptr<Async::Job> RemoteObjectRegistry::UpdateObject(const Por::ConstUnitAccessor& key,
                                                               const Por::UnitAccessor& patch,
                                                               Async::ActionHandler& handler)
{
    return StartCommand(m_accessPoint, handler, &MakeUpdateObjectRequest, key.Get(), UnitPtr(patch.Get()));
}

std::shared_ptr<Async::Job> RemoteObjectRegistry::UnregisterObject(const Por::View::Unit& key,
                                                                   Async::ActionHandler& handler)
{
    return UnregisterObject(Copy(key, kSource.At("UnregisterObject", __LINE__)), handler);
}

std::shared_ptr<Async::Job> RemoteObjectRegistry::UnregisterObject(const Por::ConstUnitAccessor& key,
                                                                   Async::ActionHandler& handler)
{
    return StartCommand(m_accessPoint, handler, &MakeUnregisterObjectRequest, key.Get());
}

} // namespace Dml::Client
