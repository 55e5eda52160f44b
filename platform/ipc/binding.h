// The client interfaces of the IPC client library: the binder that opens
// remote connections, service browsers that hand out access points, access
// points that carry requests, and the call jobs that run them, with the
// completion interface the caller implements.
//
// Ownership: whatever the library hands out through an out pointer belongs to
// the caller, who deletes it through its virtual destructor. A call job is
// deleted after its call has completed (after Wait returned, or after
// OnCompleted was called).
//
// A call job is either waited for (Wait, on the calling thread) or started
// (Start, then maybe Cancel). A started job reports one of OnSuccess/OnError,
// then OnCompleted, exactly once each, on a thread of the library.
//
// Binary contract (JobHandler, Job, AccessPoint, ServiceBrowser, Binder): declaration order is the binary order;
// never insert or reorder.
//
// Threading: a library object may be used from any thread; completions arrive
// on the library's threads.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/ipc/request.h"
#include "platform/objrep/common_error.h"

namespace JobManagement {

// The completion interface of a started call job.
class JobHandler
{
public:
    virtual void OnSuccess() = 0;
    virtual void OnError(const Common::Error& error) = 0;
    virtual void Reserved1() {}
    virtual void Reserved2() {}
    // The last call the library makes on the handler for a job.
    virtual void OnCompleted() = 0;
    virtual void Reserved3() {}
    virtual void Reserved4() {}
    // Asks the handler's owner to cancel, as Job::Cancel does.
    virtual void Cancel() = 0;

protected:
    ~JobHandler() = default;
};

class Job
{
public:
    virtual ~Job() = default;
    // Runs the call on the calling thread until it has ended; its result.
    virtual Common::Error Wait(int context) = 0;
    // Starts the call; its outcome arrives through `handler`. A failure means
    // the handler is never called.
    virtual Common::Error Start(JobHandler& handler) = 0;
    // Ends a started call early; its handler is still completed once.
    virtual Common::Error Cancel() = 0;
};

} // namespace JobManagement

namespace Binding {

// The connection to one service.
class AccessPoint
{
public:
    virtual ~AccessPoint() = default;
    // Takes the request (leaving `request` empty) and hands out the job that
    // runs it. A request that is not taken stays with the caller.
    virtual Common::Error Call(std::unique_ptr<Request>& request, std::unique_ptr<JobManagement::Job>& job) = 0;
    // Equal keys name one connection.
    virtual int GetConnectionKey() = 0;
    // The version of component `componentId` that the service implements.
    virtual Common::Error GetInterfaceVersion(int componentId, uint32_t* version, uint32_t* reserved) = 0;
};

// The 16 bytes of options of OpenAccessPoint; callers zero them.
struct AccessPointOptions
{
    uint8_t bytes[16];
};

class ServiceBrowser
{
public:
    virtual ~ServiceBrowser() = default;
    virtual Common::Error OpenAccessPoint(int serviceCode, int reserved, std::unique_ptr<AccessPoint>& accessPoint,
                                          AccessPointOptions* options) = 0;
};

// What a remote connection needs. Fields 4 to 11 are not used by this system
// and stay empty or zero.
struct ConnectionSettings
{
    std::string host;
    std::u16string user;
    std::u16string password;
    std::string reserved4;
    int32_t reserved5 = 0;
    std::map<std::string, std::string> reserved6;
    uint64_t reserved7 = 0;
    bool reserved8 = false;
    int32_t reserved9 = 0;
    uint64_t reserved10 = 0;
    uint64_t reserved11 = 0;
    int32_t serviceCode = 0;
};

// Opens remote connections.
class Binder
{
public:
    virtual ~Binder() = default;
    // Connects to the host of `settings`; the browser of that host.
    virtual Common::Error Connect(const ConnectionSettings& settings, std::unique_ptr<ServiceBrowser>& browser) = 0;
};

} // namespace Binding

// Stores a new binder in `*binder` (preset null). The result says whether it
// did; callers may rely on the pointer alone.
int IPCClient_CreateBinder(Binding::Binder** binder);
// Stores the local service browser in `*browser` (preset null), or a failure
// in `*error` (preset success).
void IPCClient_GetLocalBrowser(Binding::ServiceBrowser** browser, Common::Error* error);
