#include "enterprise/common/dml/client/post_office.h"

#include <utility>

#include "core/common/error.h"
#include "core/common/location.h"
#include "core/common/message_catalogue.h"
#include "core/common/message_format.h"
#include "enterprise/common/async/immediate_result_action.h"
#include "enterprise/common/dml/client/async_request.h"
#include "enterprise/common/dml/client/remote_subscription.h"
#include "enterprise/common/dml/client/subscription_dispatcher.h"
#include "enterprise/common/dml/dml_errors.h"
#include "enterprise/common/dml/safe_invoke.h"
#include "enterprise/common/dml/view_options.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/utils.h"
#include "xidl/view_manager.h"

namespace Dml::Client {
namespace {

constexpr Common::SourceFile kSource("enterprise/common/dml/client/post_office");

using ViewManagement::UnitVector;

// A command that opens a view and delivers its first snapshot to the reader.
class ReportCommandBase : public SmartRequestRunner
{
public:
    ReportCommandBase(const std::shared_ptr<Binding::AccessPoint>& accessPoint, Async::ActionHandler& handler,
                      ViewSpec specification, ReportReader& reader)
        : SmartRequestRunner(accessPoint, &handler), m_specification(std::move(specification)), m_reader(reader)
    {
    }

    virtual std::unique_ptr<Binding::Request> MakeRequest(const ViewSpec& specification) = 0;
    virtual UnitVector& GetSnapshot() = 0;

    std::unique_ptr<Binding::Request> BuildRequest() override { return MakeRequest(m_specification); }
    void DeliverResults() override
    {
        DeliverSnapshot(GetSnapshot(), m_reader);
        GetSnapshot().clear();
    }

private:
    ViewSpec m_specification;
    ReportReader& m_reader;
};

// A view command that also makes the view's subscription.
class SubscriptionCommandBase : public ReportCommandBase
{
public:
    SubscriptionCommandBase(const std::shared_ptr<Binding::AccessPoint>& accessPoint, Async::ActionHandler& handler,
                            ViewSpec specification, ReportReader& reader, std::unique_ptr<Subscription>& holder)
        : ReportCommandBase(accessPoint, handler, std::move(specification), reader), m_accessPoint(accessPoint),
          m_holder(holder)
    {
    }

    virtual std::unique_ptr<Subscription>
    CreateSubscription(const std::shared_ptr<Binding::AccessPoint>& accessPoint) = 0;

    void DeliverResults() override
    {
        ReportCommandBase::DeliverResults();
        std::unique_ptr<Subscription> subscription = CreateSubscription(m_accessPoint);
        m_holder.reset();
        m_holder = std::move(subscription);
    }

private:
    std::shared_ptr<Binding::AccessPoint> m_accessPoint;
    std::unique_ptr<Subscription>& m_holder;
};

class OpenStaticViewCommand final : public ReportCommandBase
{
public:
    using ReportCommandBase::ReportCommandBase;
    ~OpenStaticViewCommand() override { ReleaseRequest(); }

    std::unique_ptr<Binding::Request> MakeRequest(const ViewSpec& specification) override
    {
        return ViewManagement::MakeOpenStaticViewRequest(specification, m_snapshot);
    }
    UnitVector& GetSnapshot() override { return m_snapshot; }

private:
    UnitVector m_snapshot;
};

class OpenDynamicViewCommand final : public SubscriptionCommandBase
{
public:
    using SubscriptionCommandBase::SubscriptionCommandBase;
    ~OpenDynamicViewCommand() override { ReleaseRequest(); }

    std::unique_ptr<Binding::Request> MakeRequest(const ViewSpec& specification) override
    {
        return ViewManagement::MakeOpenDynamicViewRequest(specification, m_viewId, m_snapshot);
    }
    UnitVector& GetSnapshot() override { return m_snapshot; }
    std::unique_ptr<Subscription> CreateSubscription(const std::shared_ptr<Binding::AccessPoint>& accessPoint) override
    {
        return std::make_unique<StandaloneRemoteSubscription>(accessPoint, m_viewId);
    }

private:
    unsigned int m_viewId = 0;
    UnitVector m_snapshot;
};

class AddChannelCommand final : public SubscriptionCommandBase
{
public:
    AddChannelCommand(const std::shared_ptr<Binding::AccessPoint>& accessPoint, Async::ActionHandler& handler,
                      ViewSpec specification, ReportReader& reader, std::unique_ptr<Subscription>& holder,
                      std::shared_ptr<RemoteSubscriptionDispatcher> dispatcher)
        : SubscriptionCommandBase(accessPoint, handler, std::move(specification), reader, holder),
          m_dispatcher(std::move(dispatcher))
    {
    }
    ~AddChannelCommand() override { ReleaseRequest(); }

    std::unique_ptr<Binding::Request> MakeRequest(const ViewSpec& specification) override
    {
        ViewManagement::TopicSpec spec;
        spec.Subscription = m_dispatcher->GetSubscriberID();
        spec.Interest = specification;
        return ViewManagement::MakeAddInterestRequest(spec, m_topic);
    }
    UnitVector& GetSnapshot() override { return m_topic.Content; }
    std::unique_ptr<Subscription> CreateSubscription(const std::shared_ptr<Binding::AccessPoint>&) override
    {
        return m_dispatcher->CreateChannel(m_topic.ID.Interest);
    }

private:
    std::shared_ptr<RemoteSubscriptionDispatcher> m_dispatcher;
    ViewManagement::Topic m_topic;
};

// The reader a view delivers to; a view without one is an improper call
// (0xFC0031 naming "ReportReader").
ReportReader& ReaderOf(const std::shared_ptr<ReportReader>& reader, const Common::Location& caller)
{
    if (!reader) {
        const std::u16string text = Common::FormatMessageWithArgument(Common::GetMessageText(kImproperUseText),
                                                                      u"ReportReader");
        Common::ThrowError(Common::Error(DML_ERROR_IMPROPER_USE, text.c_str(), caller));
    }
    return *reader;
}

template <typename Command, typename... Args>
std::shared_ptr<Async::Job> StartCommand(Args&&... args)
{
    auto command = std::make_shared<Command>(std::forward<Args>(args)...);
    command->Start();
    return command;
}

} // namespace

ViewSpec PrepareViewSpec(const RemotePostOffice& postOffice, const Core::EntryPoint& caller,
                         const ViewSpec& specification)
{
    ViewSpec prepared = specification;
    prepared.Options = PrepareViewOptions(postOffice, caller, specification.Options);
    return prepared;
}

std::shared_ptr<const Por::View::Unit> PrepareViewOptions(const RemotePostOffice& postOffice,
                                                          const Core::EntryPoint& caller,
                                                          const std::shared_ptr<const Por::View::Unit>& options)
{
    const Por::Construction::UnitFactory& factory = postOffice.GetUnitFactory();
    std::unique_ptr<Por::Construction::Unit> copy = Por::Util::CopyAsComposite(options, factory);
    if (!HasLimitOptions(*copy))
        SetLimitOptions(*copy, kDefaultViewLimit, factory);
    SetEntryPoint(*copy, caller, factory);
    return std::shared_ptr<const Por::View::Unit>(std::move(copy));
}

RemotePostOffice::RemotePostOffice(const std::shared_ptr<Binding::AccessPoint>& accessPoint)
    : m_accessPoint(accessPoint), m_unitFactory(Por::Construction::CreateInMemoryUnitFactory())
{
}

RemotePostOffice::~RemotePostOffice() = default;

std::shared_ptr<Async::Job> RemotePostOffice::OpenStaticView(const Core::EntryPoint& caller,
                                                             const ViewSpec& specification,
                                                             const std::shared_ptr<ReportReader>& reader,
                                                             Async::ActionHandler& handler)
{
    ReportReader& target = ReaderOf(reader, kSource.At("OpenStaticView", __LINE__));
    return StartCommand<OpenStaticViewCommand>(m_accessPoint, handler, PrepareViewSpec(*this, caller, specification),
                                               target);
}

std::shared_ptr<Async::Job> RemotePostOffice::OpenDynamicView(const Core::EntryPoint& caller,
                                                              const ViewSpec& specification,
                                                              const std::shared_ptr<ReportReader>& reader,
                                                              std::unique_ptr<Subscription>& subscription,
                                                              Async::ActionHandler& handler)
{
    ReportReader& target = ReaderOf(reader, kSource.At("OpenDynamicView", __LINE__));
    return StartCommand<OpenDynamicViewCommand>(m_accessPoint, handler, PrepareViewSpec(*this, caller, specification),
                                                target, subscription);
}

ChanneledRemotePostOffice::ChanneledRemotePostOffice(const std::shared_ptr<Binding::AccessPoint>& accessPoint)
    : RemotePostOffice(accessPoint)
{
}

ChanneledRemotePostOffice::~ChanneledRemotePostOffice()
{
    std::map<int, std::shared_ptr<RemoteSubscriptionDispatcher>> dispatchers;
    {
        Common::LockGuard guard(m_mutex);
        dispatchers.swap(m_dispatchers);
    }
    // Released here, outside the post office's lock.
}

std::shared_ptr<RemoteSubscriptionDispatcher> ChanneledRemotePostOffice::GetDispatcher()
{
    Common::LockGuard guard(m_mutex);
    const std::shared_ptr<Binding::AccessPoint> accessPoint = m_accessPoint;
    std::shared_ptr<RemoteSubscriptionDispatcher>& entry = m_dispatchers[accessPoint->GetConnectionKey()];
    if (!entry)
        entry = std::make_shared<RemoteSubscriptionDispatcher>(accessPoint);
    return entry;
}

std::shared_ptr<Async::Job> ChanneledRemotePostOffice::OpenDynamicView(const Core::EntryPoint& caller,
                                                                       const ViewSpec& specification,
                                                                       const std::shared_ptr<ReportReader>& reader,
                                                                       std::unique_ptr<Subscription>& subscription,
                                                                       Async::ActionHandler& handler)
{
    ReportReader& target = ReaderOf(reader, kSource.At("OpenDynamicView", __LINE__));
    const std::shared_ptr<RemoteSubscriptionDispatcher> dispatcher = GetDispatcher();
    const Common::Error subscribed = dispatcher->Subscribe();
    if (!subscribed.IsSuccess())
        return Async::CompleteWithResult(subscribed, handler);
    return StartCommand<AddChannelCommand>(m_accessPoint, handler, PrepareViewSpec(*this, caller, specification),
                                           target, subscription, dispatcher);
}

} // namespace Dml::Client
