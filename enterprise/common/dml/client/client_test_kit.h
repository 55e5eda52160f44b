// Test support of the DML client: an update reader that records what it is
// given, updates of String keys, a handler that can be waited for, and reply
// packets of the "ViewManager" methods for the scripted access point.
//
// Threading: the reader and the handler may be called from any thread; read
// their records after waiting for the completion.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "core/common/event.h"
#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/dml/service_interfaces.h"
#include "enterprise/common/ipc/test_support/scripted_access_point.h"
#include "enterprise/common/ipc/test_support/test_units.h"
#include "xidl/view_management.h"

namespace ClientTesting {

// Records "<type>:<key label>" per update.
class RecordingUpdateReader final : public Dml::UpdateReader
{
public:
    void ReadType0(const Por::View::Unit& key) override { Record("0", key); }
    void ReadType1(const Por::View::Unit& key, const Por::View::Unit&) override { Record("1", key); }
    void ReadType2(const Por::View::Unit& key) override { Record("2", key); }

    std::vector<std::string> Seen()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_seen;
    }

private:
    void Record(const char* type, const Por::View::Unit& key)
    {
        std::shared_ptr<const Por::View::Unit> shared(&key, [](const Por::View::Unit*) {});
        std::lock_guard<std::mutex> guard(m_lock);
        m_seen.push_back(std::string(type) + ":" + IpcTesting::LabelOf(shared));
    }

    std::mutex m_lock;
    std::vector<std::string> m_seen;
};

inline Dml::ViewManagement::ViewUpdate Update(const std::string& label, uint32_t type = 0)
{
    Dml::ViewManagement::ViewUpdate update;
    update.Type = type;
    update.Key = IpcTesting::Unit(label);
    update.PackedUpdate = IpcTesting::Unit("packed");
    return update;
}

// A recording handler whose completion can be waited for.
struct Waiter
{
    Common::Event completed{true, false};
    AsyncTest::RecordingHandler handler{[this](const Common::Error&) { completed.Set(); }};
};

// The reply packet of "ViewManager" method `method` with `result` and `content`.
inline std::string ViewManagerReply(const std::string& method, const Common::Error& result,
                                    const std::string& content = "")
{
    const std::string element = "reply_ViewManager_" + method;
    return IpcTesting::Packet("<" + element + ">" + IpcTesting::ResultElement(result) + content + "</" + element + ">");
}

inline void QueueViewManagerReply(IpcTesting::ScriptedAccessPoint& accessPoint, const std::string& method,
                                  const Common::Error& result, const std::string& content = "")
{
    accessPoint.QueueReply(ViewManagerReply(method, result, content), "reply_ViewManager_" + method);
}

// The "vector" of update items of type `type` with keys `labels`.
inline std::string UpdateItems(const std::vector<std::string>& labels, uint32_t type = 0)
{
    std::string items = "<vector>";
    for (const std::string& label : labels)
        items += "<item><Type>" + std::to_string(type) + "</Type><Key>" + IpcTesting::UnitContent(label) +
            "</Key><PackedUpdate><is_empty>1</is_empty></PackedUpdate></item>";
    return items + "</vector>";
}

} // namespace ClientTesting
