// Hands arbitrary bytes to the service core as a request packet, over a store
// in a temporary folder, and checks the answer: a failed call carries no
// reply; an answered one is a packet whose reply element starts with
// "result".

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "enterprise/serialize/xml_packet_deserializer.h"
#include "service/service_core.h"

namespace {

std::string g_folder;

void RemoveFolder()
{
    const std::string command = "rm -rf '" + g_folder + "'";
    (void)std::system(command.c_str()); // best effort: the replay is over
}

Service::ServiceCore& Core()
{
    static Service::ServiceCore* const core = [] {
        char pattern[] = "/tmp/service_core_fuzz.XXXXXX";
        if (!mkdtemp(pattern))
            std::abort();
        g_folder = pattern;
        std::atexit(&RemoveFolder);
        std::unique_ptr<Service::Store> store;
        if (!Service::Store::Open(g_folder + "/objects.db", store).IsSuccess())
            std::abort();
        return new Service::ServiceCore(std::move(store));
    }();
    return *core;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Ipc::Bytes reply;
    const Common::Error result = Ipc::InvokeHandler(Core(), Ipc::CallContext{"", 46}, Ipc::ByteView(data, size), reply);
    if (!result.IsSuccess()) {
        if (!reply.empty())
            std::abort();
        return 0;
    }
    Serialization::XMLPacketDeserializer in(reply.data(), reply.size(), 0);
    const std::string element = in.GetCurrentMetaInfo().name;
    if (element.rfind("reply_", 0) != 0)
        std::abort();
    in.StartReadMetaInfo(Serialization::MetaInfo(element));
    Common::Error answered;
    in.Read(Serialization::MetaInfo("result", true), answered);
    return 0;
}
