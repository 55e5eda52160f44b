// The access point of the IPC stand-in: carries requests over one Transport
// as call jobs (call_job.h).
//
// Call refuses an empty request with BindingErrors::kEmptyRequest (the job
// pointer stays empty); otherwise it takes the request and hands out a job.
// GetInterfaceVersion answers 1 for "ObjectManager" (274) and, for
// "ViewManager" (271), 2 unless a test switched it to 1
// (binding_stand_in.h); other components are not supported.
//
// Threading: any thread; the transport is shared by every job of the access
// point.
#pragma once

#include <memory>

#include "platform/ipc/binding.h"
#include "platform/ipc/call.h"

namespace Ipc {

class TransportAccessPoint final : public Binding::AccessPoint
{
public:
    // `connectionKey` names the connection behind the transport.
    TransportAccessPoint(std::shared_ptr<Transport> transport, int connectionKey);

    Common::Error Call(std::unique_ptr<Binding::Request>& request, std::unique_ptr<JobManagement::Job>& job) override;
    int GetConnectionKey() override;
    Common::Error GetInterfaceVersion(int componentId, uint32_t* version, uint32_t* reserved) override;

private:
    std::shared_ptr<Transport> m_transport;
    int m_connectionKey;
};

// A key no other connection of this process has.
int NewConnectionKey();

} // namespace Ipc
