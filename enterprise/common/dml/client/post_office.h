// The view providers of the DML client over one access point.
//
// RemotePostOffice opens a static view with "OpenStaticView" and a dynamic
// view with "OpenDynamicView", which becomes a standalone subscription that
// polls the view. ChanneledRemotePostOffice opens static views the same way,
// but a dynamic view becomes a channel of the one shared subscription of its
// connection: the connection's dispatcher subscribes once, and each view is
// added as an interest ("AddInterest").
//
// Every view request goes out as a command that delivers the first snapshot
// to the caller's reader (unit by unit; a reader's Common::Error is traced and
// the next unit follows), then puts a dynamic view's subscription into the
// caller's holder (deleting what it held), then completes the caller's handler.
// The specification is prepared first: its options are copied (absent: an
// empty Composite; not a Composite: the object model's type mismatch, thrown
// before any request), get "LimitOptions" kDefaultViewLimit (2000) unless they
// have one, and get the caller as "EntryPoint". The caller's specification is
// never changed.
//
// The caller keeps the reader alive until the handler has completed.
//
// Threading: the post offices do not change after construction, except the
// dispatcher map of the channeled one, guarded by its recursive mutex, which is
// released before a dispatcher is entered. Commands complete on the library's
// threads; readers are called there, one unit after another.
#pragma once

#include <map>
#include <memory>

#include "core/common/mutex.h"
#include "enterprise/common/dml/entry_point.h"
#include "enterprise/common/dml/service_interfaces.h"
#include "enterprise/common/por/unit_factory.h"
#include "platform/ipc/binding.h"
#include "xidl/view_management.h"

namespace Dml::Client {

class RemoteSubscriptionDispatcher;

class RemotePostOffice : public PostOffice
{
public:
    explicit RemotePostOffice(const std::shared_ptr<Binding::AccessPoint>& accessPoint);
    ~RemotePostOffice() override;

    std::shared_ptr<Async::Job> OpenDynamicView(const Core::EntryPoint& caller, const ViewSpec& specification,
                                                const std::shared_ptr<ReportReader>& reader,
                                                std::unique_ptr<Subscription>& subscription,
                                                Async::ActionHandler& handler) override;
    std::shared_ptr<Async::Job> OpenStaticView(const Core::EntryPoint& caller, const ViewSpec& specification,
                                               const std::shared_ptr<ReportReader>& reader,
                                               Async::ActionHandler& handler) final;

    // Builds the prepared view options.
    const Por::Construction::UnitFactory& GetUnitFactory() const { return *m_unitFactory; }

protected:
    std::shared_ptr<Binding::AccessPoint> m_accessPoint;

private:
    std::unique_ptr<Por::Construction::UnitFactory> m_unitFactory;
};

class ChanneledRemotePostOffice final : public RemotePostOffice
{
public:
    explicit ChanneledRemotePostOffice(const std::shared_ptr<Binding::AccessPoint>& accessPoint);
    // Releases the dispatchers first (one held by nobody else ends its
    // subscription).
    ~ChanneledRemotePostOffice() override;

    std::shared_ptr<Async::Job> OpenDynamicView(const Core::EntryPoint& caller, const ViewSpec& specification,
                                                const std::shared_ptr<ReportReader>& reader,
                                                std::unique_ptr<Subscription>& subscription,
                                                Async::ActionHandler& handler) override;

    // The dispatcher of the access point's connection, made on first use.
    std::shared_ptr<RemoteSubscriptionDispatcher> GetDispatcher();

private:
    Common::Mutex m_mutex;
    std::map<int, std::shared_ptr<RemoteSubscriptionDispatcher>> m_dispatchers COMMON_GUARDED_BY(m_mutex);
};

ViewSpec PrepareViewSpec(const RemotePostOffice& postOffice, const Core::EntryPoint& caller,
                         const ViewSpec& specification);
std::shared_ptr<const Por::View::Unit> PrepareViewOptions(const RemotePostOffice& postOffice,
                                                          const Core::EntryPoint& caller,
                                                          const std::shared_ptr<const Por::View::Unit>& options);

} // namespace Dml::Client
