#include "enterprise/common/dml/unregister_by_pattern.h"

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/async/waiting_handler.h"
#include "enterprise/common/dml/dml_errors.h"
#include "enterprise/common/dml/object_key.h"
#include "enterprise/common/dml/promise_facade.h"
#include "enterprise/common/dml/test_support/fake_services.h"
#include "enterprise/common/dml/view_options.h"
#include "enterprise/common/por/const_data_accessor.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/test_support/render.h"
#include "enterprise/common/por/test_support/thrown_errors.h"
#include "enterprise/common/por/typed_access.h"
#include "enterprise/common/por/unit_equality.h"
#include "testing/error_matchers.h"

namespace {

using DmlTesting::FakeObjectRegistry;
using DmlTesting::FakePostOffice;
using PorTesting::Make;
using PorTesting::Render;
using Testing::ChainContains;
using Testing::ErrorIs;
using Testing::HasText;
using Testing::RaisedAt;

constexpr Common::SourceFile kTestSource("enterprise/common/dml/delete_test");
const Core::EntryPoint kCaller(kTestSource.At("Delete", 1));

const Por::Construction::UnitFactory* Factory()
{
    return Por::Construction::GetDefaultUnitFactory();
}

const Por::View::Unit* Child(const Por::View::Unit& unit, const Por::Name& name)
{
    const Por::ConstDataAccessor child = Por::ConstDataAccessor(&unit).GetChild(name);
    return child.IsValid() ? &child.GetUnit() : nullptr;
}

// Answers every counter view with `count` and records what it counted.
void AnswerCount(FakePostOffice& postOffice, unsigned count)
{
    postOffice.answer = [count](const Dml::ViewSpec&) {
        const Make m(*Factory());
        DmlTesting::Snapshot units;
        units.push_back(std::shared_ptr<const Por::View::Unit>(m.Composite(m.Prop("CounterValue", m.DWord(count)))));
        return FakePostOffice::View{units, Common::Success};
    };
}

std::shared_ptr<const Por::View::Unit> Pattern()
{
    const Make m(*Factory());
    return std::shared_ptr<const Por::View::Unit>(
        m.With(m.Composite(m.Prop("Kind", m.String(u"Backup"))), "Is", m.String(u"Dml::Backup")));
}

std::vector<unsigned> Limits(const std::vector<FakeObjectRegistry::Call>& calls)
{
    std::vector<unsigned> limits;
    for (const FakeObjectRegistry::Call& call : calls)
        limits.push_back(Por::Util::GetUnitValue<unsigned int>(*Child(*Child(*call.first, "Options"), "LimitOptions")));
    return limits;
}

// The delete journal over fakes completing on another thread.
struct DeleteRun
{
    AsyncTest::Completers completers{2};
    FakePostOffice postOffice{&completers};
    FakeObjectRegistry registry{&completers};

    Common::Error Run(const Por::View::Unit& pattern)
    {
        Async::WaitingHandler waiting(true);
        std::shared_ptr<Async::Job> job = Dml::RunUnregisterByPattern(kCaller, &postOffice, &registry, pattern, waiting,
                                                                      Factory());
        const Common::Error result = waiting.Wait(nullptr);
        job.reset();
        return result;
    }

    // Default settings over Pattern(), with `count` matching objects.
    Dml::UnregisterByPatternSettings Matching(unsigned count)
    {
        AnswerCount(postOffice, count);
        Dml::UnregisterByPatternSettings settings(kCaller);
        settings.specification.Pattern = Pattern();
        return settings;
    }

    Common::Error Run(const Dml::UnregisterByPatternSettings& settings)
    {
        Async::WaitingHandler waiting(true);
        std::shared_ptr<Async::Job> job = Dml::BuildUnregisterByPatternJournal(settings, &postOffice, &registry,
                                                                               Factory(), waiting);
        const Common::Error result = waiting.Wait(nullptr);
        job.reset();
        return result;
    }
};

TEST(UnregisterByPatternThreads, RegistersOneRecordPerBatchOfAHundred)
{
    struct Row
    {
        unsigned count;
        std::vector<unsigned> limits;
    };
    const Row rows[] = {{0, {}}, {100, {100}}, {101, {100, 1}}, {250, {100, 100, 50}}};
    const std::shared_ptr<const Por::View::Unit> pattern = Pattern();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.count);
        DeleteRun run;
        AnswerCount(run.postOffice, row.count);
        EXPECT_THAT(run.Run(*pattern), Testing::IsSuccessError());

        const std::vector<FakeObjectRegistry::Call> calls = run.registry.Calls();
        EXPECT_EQ(Limits(calls), row.limits);
        std::set<std::string> ids;
        for (const FakeObjectRegistry::Call& call : calls) {
            EXPECT_EQ(call.method, "RegisterObject");
            const Por::View::Unit& record = *call.first;
            EXPECT_THAT(Render(record),
                        testing::EndsWith("} <Is=String \"Dml::Operation::Definition\", Is=String "
                                          "\"Dml::Operation::DeleteByPattern\", Type=String \"Dml::Backup\">"));
            const Por::View::Unit& id = Dml::GetObjectKey(record);
            EXPECT_EQ(&id, Child(record, "ID"));
            EXPECT_NE(Por::Util::GetUnitValue<Por::GuidType>(id), Por::GuidType{});
            ids.insert(Render(id));
            EXPECT_TRUE(Por::Util::UnitsEqual(*Child(record, "Pattern"), *pattern));
        }
        EXPECT_EQ(ids.size(), calls.size());

        // One counter view, over the pattern, with its counter template.
        const std::vector<Dml::ViewSpec> views = run.postOffice.Specifications();
        ASSERT_EQ(views.size(), 1u);
        EXPECT_TRUE(Por::Util::UnitsEqual(*views[0].Pattern, *pattern));
        const Por::View::Unit* counter = Child(*views[0].Options, "Counter");
        ASSERT_NE(counter, nullptr);
        const Por::View::Unit* counterTemplate = Child(*counter, "CounterObjectTemplate");
        ASSERT_NE(counterTemplate, nullptr);
        EXPECT_THAT(Render(*counterTemplate), testing::MatchesRegex("\\{ID: Guid [-0-9A-F]+ <PrimaryKey>\\}"));
    }
}

TEST(UnregisterByPatternThreads, AFailedRegistrationEndsTheRun)
{
    DeleteRun run;
    AnswerCount(run.postOffice, 250);
    run.registry.answer = [](const FakeObjectRegistry::Call&, size_t index) {
        return index == 1 ? Common::Error(0x40003, kTestSource.At("Register", 2)) : Common::Error();
    };
    const Common::Error result = run.Run(*Pattern());
    EXPECT_THAT(result, ChainContains(ErrorIs(0x40003)));
    EXPECT_EQ(run.registry.Calls().size(), 2u);
}

TEST(UnregisterByPatternThreads, AFailedCountRegistersNothing)
{
    DeleteRun run;
    run.postOffice.answer = [](const Dml::ViewSpec&) {
        return FakePostOffice::View{{}, Common::Error(0x40001, kTestSource.At("View", 3))};
    };
    EXPECT_THAT(run.Run(*Pattern()), ChainContains(ErrorIs(0x40001)));
    EXPECT_TRUE(run.registry.Calls().empty());
}

class RecordingProgress final : public Dml::ProgressCallback
{
public:
    void OnProgress(unsigned int count) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        counts.push_back(count);
    }
    std::vector<unsigned> counts;

private:
    std::mutex m_mutex;
};

TEST(UnregisterByPatternThreads, SettingsLimitSortAndReportProgress)
{
    DeleteRun run;
    Dml::UnregisterByPatternSettings settings = run.Matching(1000);
    settings.limit = 150;
    settings.sortByTimeStamp = true;
    auto progress = std::make_shared<RecordingProgress>();
    settings.progress = progress;
    EXPECT_THAT(run.Run(settings), Testing::IsSuccessError());

    const std::vector<FakeObjectRegistry::Call> calls = run.registry.Calls();
    EXPECT_EQ(Limits(calls), (std::vector<unsigned>{100, 50}));
    EXPECT_EQ(progress->counts, (std::vector<unsigned>{100, 150}));
    const std::vector<Dml::ViewSpec> views = run.postOffice.Specifications();
    ASSERT_EQ(views.size(), 1u);
    EXPECT_EQ(Por::Util::GetUnitValue<unsigned int>(*Child(*views[0].Options, "LimitOptions")), 150u);
    EXPECT_NE(Child(*views[0].Options, "SortingOptions"), nullptr);
    for (const FakeObjectRegistry::Call& call : calls)
        EXPECT_NE(Child(*Child(*call.first, "Options"), "SortingOptions"), nullptr);
}

TEST(UnregisterByPatternThreads, ProgressCountsWhatEachRegisteredBatchAdds)
{
    DeleteRun run;
    Dml::UnregisterByPatternSettings settings = run.Matching(250);
    auto progress = std::make_shared<RecordingProgress>();
    settings.progress = progress;
    EXPECT_THAT(run.Run(settings), Testing::IsSuccessError());
    EXPECT_EQ(progress->counts, (std::vector<unsigned>{100, 200, 250}));
    EXPECT_EQ(run.registry.Calls().size(), 3u);
}

TEST(UnregisterByPattern, MissingServicesFailTheirStep)
{
    struct Row
    {
        const char* name;
        bool postOffice;
        bool registry;
        bool factory;
        const char16_t* text;
        const char* function;
        unsigned line;
    };
    const Row rows[] = {
        {"no post office", false, true, true, u"DML: Unproper use. Missing PostOffice.", "ReadCountAction", 384},
        {"no registry", true, false, true, u"DML: Unproper use. Missing ObjectRegistry.", "Register", 242},
        {"no factory", true, true, false, u"DML: Unproper use. Missing UnitFactory.", "ReadCountAction", 382},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakePostOffice postOffice;
        AnswerCount(postOffice, 5);
        FakeObjectRegistry registry;
        Dml::UnregisterByPatternSettings settings(kCaller);
        settings.specification.Pattern = Pattern();
        AsyncTest::RecordingHandler handler;
        (void)Dml::BuildUnregisterByPatternJournal(settings, row.postOffice ? &postOffice : nullptr,
                                                   row.registry ? &registry : nullptr,
                                                   row.factory ? Factory() : nullptr, handler);
        ASSERT_EQ(handler.calls.load(), 1);
        const Common::Error result = handler.Last();
        EXPECT_THAT(result, ChainContains(ErrorIs(Dml::DML_ERROR_IMPROPER_USE)));
        EXPECT_THAT(result, ChainContains(HasText(row.text)));
        EXPECT_THAT(result, ChainContains(RaisedAt("enterprise/common/dml/promise_facade", row.function, row.line)));
        EXPECT_TRUE(registry.Calls().empty());
    }
}

TEST(UnregisterByPatternThreads, AStepOfZeroCountsAsOne)
{
    DeleteRun run;
    Dml::UnregisterByPatternSettings settings = run.Matching(3);
    settings.step = 0;
    EXPECT_THAT(run.Run(settings), Testing::IsSuccessError());
    EXPECT_EQ(Limits(run.registry.Calls()), (std::vector<unsigned>{1, 1, 1}));
}

TEST(UnregisterByPattern, TheBatchArithmetic)
{
    EXPECT_EQ(Dml::GetBatchSize(250, 200, 100), 50u);
    EXPECT_EQ(Dml::GetBatchSize(250, 0, 100), 100u);
    EXPECT_EQ(Dml::GetBatchSize(5, 9, 100), 0u);
    EXPECT_EQ(Dml::SumCounts(100, 50), 150u);
    EXPECT_TRUE(Dml::IsLess(1, 2));
    EXPECT_FALSE(Dml::IsLess(2, 2));
}

} // namespace
