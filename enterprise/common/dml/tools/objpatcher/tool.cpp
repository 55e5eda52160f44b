#include "enterprise/common/dml/tools/objpatcher/tool.h"

#include <memory>
#include <string>

#include "core/common/error.h"
#include "core/common/text_conversion.h"
#include "enterprise/common/dml/action_facade.h"
#include "enterprise/common/dml/client/remoting.h"
#include "enterprise/common/dml/entry_point.h"
#include "enterprise/common/dml/synchronous_data_store.h"
#include "enterprise/common/dml/tools/objpatcher/command_line.h"
#include "enterprise/common/dml/tools/objpatcher/input.h"
#include "enterprise/common/dml/tools/objpatcher/outcome.h"
#include "enterprise/common/dml/tools/objpatcher/property_not_found.h"
#include "enterprise/common/dml/tools/objpatcher/tool_locations.h"
#include "enterprise/common/dml/tools/objpatcher/update_command.h"
#include "enterprise/common/ipc/connection.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/unit_accessor.h"
#include "enterprise/common/security/client/init.h"

namespace Objpatcher {

namespace {

enum Argument
{
    HOST = 1,
    USER,
    PASSWORD,
    SERVICE,
    COMMAND,
};

void ThrowOnFailure(const Common::Error& error)
{
    if (!error.IsSuccess())
        Common::ThrowError(error);
}

// Runs the command on the connected services; "create" shares the input with
// the job that stores it instead of copying it.
void RunCommand(const std::u16string& command, const std::shared_ptr<Por::Construction::Unit>& shared,
                const Por::Construction::UnitFactory& factory, Dml::PostOffice* postOffice,
                Dml::ObjectRegistry* registry, Dml::SynchronousDataStore& store)
{
    const Por::Construction::Unit& input = *shared;
    if (command == u"create") {
        store.StoreOrUpdate(Core::EntryPoint(kCreateLocation), Por::UnitAccessor(shared));
    } else if (command == u"update") {
        const Dml::ViewSpec specification = GetViewSpec(input, factory);
        const std::unique_ptr<UpdateProcessor> processor = GetUpdateProcessor(input, postOffice, registry, factory);
        RunUpdate(store, Core::EntryPoint(kUpdateLocation), specification, *processor);
    } else if (command == u"delete") {
        const std::shared_ptr<Dml::ServiceHolder> holder = Dml::MakeServiceHolder(postOffice, registry, &factory);
        const std::unique_ptr<Async::Action> action = Dml::UnregisterByPattern(
            holder, Core::EntryPoint(kDeleteLocation), input);
        Dml::RunActionOrThrow(*action);
    } else {
        Common::ThrowError(MakeUnknownCommandError(command));
    }
}

} // namespace

int RunTool(int argc, const char* const* argv, std::ostream& out)
{
    if (argc <= kMinimumArguments) {
        PrintUsage(out);
        return kExitSuccess;
    }
    try {
        ThrowOnFailure(Security::Initialize(kSecurityLocation));
        const std::unique_ptr<Por::Construction::UnitFactory> factory = Por::Construction::CreateInMemoryUnitFactory();
        const std::shared_ptr<Por::Construction::Unit> input = ReadInput(ChooseInput(argc, argv), *factory);

        std::string serviceWord = argv[SERVICE];
        const int serviceCode = GetServiceCode(serviceWord);
        const std::string host = argv[HOST];
        Binding::RemoteConnection connection;
        Binding::CreateBinder(connection.binder);
        connection.settings = Binding::MakeConnectionSettings(host, argv[USER], argv[PASSWORD], serviceCode);
        std::shared_ptr<Binding::AccessPoint> accessPoint;
        const Common::Error connected = IsLocalRoad(serviceCode, host)
            ? Binding::OpenLocalAccessPoint(serviceCode, accessPoint)
            : Binding::ConnectRemote(connection, serviceCode, accessPoint);
        if (!connected.IsSuccess())
            return ReportConnectionFailure(out, connected);

        const std::unique_ptr<Dml::PostOffice> postOffice = Dml::Client::CreateRemoteViewProvider(accessPoint);
        const std::unique_ptr<Dml::ObjectRegistry> registry = Dml::Client::CreateRemoteObjectRegistry(accessPoint,
                                                                                                      factory.get());
        Dml::SynchronousDataStore store(postOffice.get(), registry.get());
        const std::u16string command = Common::FromUtf8(argv[COMMAND]);
        RunCommand(command, input, *factory, postOffice.get(), registry.get(), store);
    } catch (const Common::Error& error) {
        return ReportRequestFailure(out, error);
    }
    return kExitSuccess;
}

} // namespace Objpatcher
