// Fakes of the DML services for tests (header only):
//
//   FakePostOffice      answers each static view with a snapshot and a result
//                       chosen by the test (`answer`), delivered through
//                       Dml::DeliverSnapshot inline or, given Completers, on
//                       another thread; records every specification opened.
//   FakeObjectRegistry  records a copy of every unit it is sent and completes
//                       each call with the result `answer` gives it, inline or
//                       on another thread.
//   ViewJob             the job both hand out; Cancel only counts.
//
// Threading: the records are guarded by a mutex; completions run on the
// Completers' threads when given.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/common/error.h"
#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/async/base_job.h"
#include "enterprise/common/dml/entry_point.h"
#include "enterprise/common/dml/safe_invoke.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/unit_accessor.h"
#include "enterprise/common/por/unit_copier.h"
#include "xidl/view_management.h"

namespace DmlTesting {

using Snapshot = std::vector<std::shared_ptr<const Por::View::Unit>>;

class ViewJob final : public Async::BaseJob
{
public:
    void Cancel() override { ++cancels; }
    std::atomic<int> cancels{0};
};

// Runs `task` on one of `completers`, or at once without them.
inline void Run(AsyncTest::Completers* completers, std::function<void()> task)
{
    if (completers)
        completers->Post(std::move(task));
    else
        task();
}

inline std::shared_ptr<const Por::View::Unit> Copy(const Por::View::Unit& unit)
{
    return std::shared_ptr<const Por::View::Unit>(
        Por::Util::CopyUnit(unit, *Por::Construction::GetDefaultUnitFactory()));
}

class FakePostOffice final : public Dml::PostOffice
{
public:
    struct View
    {
        Snapshot units;
        Common::Error result;
    };

    explicit FakePostOffice(AsyncTest::Completers* completers = nullptr) : m_completers(completers) {}

    // The answer to each static view (default: an empty snapshot and success).
    std::function<View(const Dml::ViewSpec&)> answer = [](const Dml::ViewSpec&) { return View{}; };

    std::shared_ptr<Async::Job> OpenStaticView(const Core::EntryPoint&, const Dml::ViewSpec& specification,
                                               const std::shared_ptr<Dml::ReportReader>& reader,
                                               Async::ActionHandler& handler) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_specifications.push_back(specification);
        }
        View view = answer(specification);
        Dml::ReportReader* target = reader.get(); // the caller keeps it alive until the handler completes
        Run(m_completers, [target, view, &handler] {
            Dml::DeliverSnapshot(view.units, *target);
            handler.Completed(view.result);
        });
        return std::make_shared<ViewJob>();
    }

    std::shared_ptr<Async::Job> OpenDynamicView(const Core::EntryPoint&, const Dml::ViewSpec&,
                                                const std::shared_ptr<Dml::ReportReader>&,
                                                std::unique_ptr<Dml::Subscription>&,
                                                Async::ActionHandler& handler) override
    {
        ADD_FAILURE() << "no dynamic view is expected";
        handler.Completed(Common::Error(0x40001, Common::NoLocation));
        return {};
    }

    std::vector<Dml::ViewSpec> Specifications() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_specifications;
    }

private:
    AsyncTest::Completers* m_completers;
    mutable std::mutex m_mutex;
    std::vector<Dml::ViewSpec> m_specifications;
};

class FakeObjectRegistry final : public Dml::ObjectRegistry
{
public:
    struct Call
    {
        std::string method;                           // "RegisterObject", "UpdateObject" or "UnregisterObject"
        std::shared_ptr<const Por::View::Unit> first; // the object or the key
        std::shared_ptr<const Por::View::Unit> patch;
    };

    explicit FakeObjectRegistry(AsyncTest::Completers* completers = nullptr) : m_completers(completers) {}

    // The result of the call with this index (0 first); default success.
    std::function<Common::Error(const Call&, size_t index)> answer = [](const Call&, size_t) {
        return Common::Error();
    };

    std::shared_ptr<Async::Job> RegisterObject(const Por::View::Unit& object, Async::ActionHandler& handler) override
    {
        return Answer({"RegisterObject", Copy(object), nullptr}, handler);
    }
    // The unit of an accessor is shared as it is, as the remote registry does.
    std::shared_ptr<Async::Job> RegisterObject(const Por::UnitAccessor& object, Async::ActionHandler& handler) override
    {
        return Answer({"RegisterObject", object.GetShared(), nullptr}, handler);
    }
    std::shared_ptr<Async::Job> UpdateObject(const Por::View::Unit& key, const Por::View::Unit& patch,
                                             Async::ActionHandler& handler) override
    {
        return Answer({"UpdateObject", Copy(key), Copy(patch)}, handler);
    }
    std::shared_ptr<Async::Job> UpdateObject(const Por::ConstUnitAccessor& key, const Por::UnitAccessor& patch,
                                             Async::ActionHandler& handler) override
    {
        return UpdateObject(*key.Get(), *patch.GetShared(), handler);
    }
    std::shared_ptr<Async::Job> UnregisterObject(const Por::View::Unit& key, Async::ActionHandler& handler) override
    {
        return Answer({"UnregisterObject", Copy(key), nullptr}, handler);
    }
    std::shared_ptr<Async::Job> UnregisterObject(const Por::ConstUnitAccessor& key,
                                                 Async::ActionHandler& handler) override
    {
        return UnregisterObject(*key.Get(), handler);
    }

    std::vector<Call> Calls() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }

private:
    std::shared_ptr<Async::Job> Answer(Call call, Async::ActionHandler& handler)
    {
        size_t index = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            index = m_calls.size();
            m_calls.push_back(call);
        }
        Common::Error result = answer(call, index);
        Run(m_completers, [result, &handler] { handler.Completed(result); });
        return std::make_shared<ViewJob>();
    }

    AsyncTest::Completers* m_completers;
    mutable std::mutex m_mutex;
    std::vector<Call> m_calls;
};

} // namespace DmlTesting
