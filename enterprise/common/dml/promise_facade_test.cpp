#include "enterprise/common/dml/promise_facade.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/async/waiting_handler.h"
#include "enterprise/common/dml/dml_errors.h"
#include "enterprise/common/dml/test_support/fake_services.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/test_support/render.h"
#include "enterprise/common/por/test_support/thrown_errors.h"
#include "testing/error_matchers.h"

namespace {

using DmlTesting::FakeObjectRegistry;
using DmlTesting::FakePostOffice;
using PorTesting::Make;
using Testing::ErrorIs;
using Testing::HasText;
using Testing::RaisedAt;

constexpr Common::SourceFile kTestSource("enterprise/common/dml/facade_test");
const Core::EntryPoint kCaller(kTestSource.At("Count", 1));

const Por::Construction::UnitFactory* Factory()
{
    return Por::Construction::GetDefaultUnitFactory();
}

TEST(PromiseFacade, RegisterNeedsARegistry)
{
    const Dml::PromiseFacade facade(nullptr, nullptr, Factory());
    const Common::Error error = PorTesting::ErrorOf([&] { (void)facade.Register(nullptr); });
    EXPECT_THAT(error, ErrorIs(Dml::DML_ERROR_IMPROPER_USE));
    EXPECT_THAT(error, HasText(u"DML: Unproper use. Missing ObjectRegistry."));
    EXPECT_THAT(error, RaisedAt("enterprise/common/dml/promise_facade", "Register", 242));
    EXPECT_EQ(error.GetLocation().LineTag, 0x1d943c7e4dbe6bd7ull);
}

TEST(PromiseFacade, TheRegistrationJobKeepsTheUnitAlive)
{
    AsyncTest::Completers completers(1);
    FakeObjectRegistry registry(&completers);
    const Dml::PromiseFacade facade(nullptr, &registry, Factory());
    const Make m(*Factory());
    auto unit = std::shared_ptr<const Por::View::Unit>(m.DWord(7));
    const std::weak_ptr<const Por::View::Unit> probe = unit;
    std::unique_ptr<Async::Action> action = facade.Register(unit);
    unit.reset();
    Async::WaitingHandler handler(true);
    std::shared_ptr<Async::Job> job = action->Perform(handler);
    action.reset();
    EXPECT_FALSE(probe.expired());
    job.reset();
    EXPECT_TRUE(probe.expired());
    EXPECT_THAT(handler.Wait(nullptr), Testing::IsSuccessError());
    ASSERT_EQ(registry.Calls().size(), 1u);
    EXPECT_EQ(PorTesting::Render(*registry.Calls()[0].first), "DWord 7");
}

TEST(PromiseFacade, RegisteringNoUnitIsAnInvalidResult)
{
    FakeObjectRegistry registry;
    const Dml::PromiseFacade facade(nullptr, &registry, Factory());
    AsyncTest::RecordingHandler handler;
    (void)facade.Register(nullptr)->Perform(handler);
    EXPECT_EQ(handler.calls.load(), 1);
    EXPECT_THAT(handler.Last(), ErrorIs(0xF90001));
    EXPECT_TRUE(registry.Calls().empty());
}

TEST(PromiseFacade, CountingNeedsAFactoryThenAPostOffice)
{
    Dml::ViewSpec spec;
    spec.Pattern = std::shared_ptr<const Por::View::Unit>(Make(*Factory()).Composite());
    AsyncTest::RecordingHandler handler;
    unsigned count = 77;
    const Common::Error noFactory = PorTesting::ErrorOf(
        [&] { (void)Dml::PromiseFacade(nullptr, nullptr, nullptr).ReadCount(kCaller, spec)(count, handler); });
    EXPECT_THAT(noFactory, HasText(u"DML: Unproper use. Missing UnitFactory."));
    EXPECT_THAT(noFactory, RaisedAt("enterprise/common/dml/promise_facade", "ReadCountAction", 382));
    EXPECT_EQ(count, 77u);
    const Common::Error noPostOffice = PorTesting::ErrorOf(
        [&] { (void)Dml::PromiseFacade(nullptr, nullptr, Factory()).ReadCount(kCaller, spec)(count, handler); });
    EXPECT_THAT(noPostOffice, HasText(u"DML: Unproper use. Missing PostOffice."));
    EXPECT_THAT(noPostOffice, RaisedAt("enterprise/common/dml/promise_facade", "ReadCountAction", 384));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(handler.calls.load(), 0);
}

TEST(PromiseFacade, TheCountIsTheLastDeliveredCounterValue)
{
    const Make m(*Factory());
    auto unit = [&](PorTesting::UnitPtr u) { return std::shared_ptr<const Por::View::Unit>(std::move(u)); };
    struct Row
    {
        const char* name;
        DmlTesting::Snapshot units;
        unsigned count;
    };
    const Row rows[] = {
        {"nothing delivered", {}, 0},
        {"no CounterValue", {unit(m.Composite(m.Prop("Other", m.DWord(3))))}, 0},
        {"two answers: the second counts",
         {unit(m.Composite(m.Prop("CounterValue", m.DWord(3)))), unit(m.Composite(m.Prop("CounterValue", m.DWord(9))))},
         9},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakePostOffice postOffice;
        postOffice.answer = [&](const Dml::ViewSpec&) { return FakePostOffice::View{row.units, Common::Success}; };
        const Dml::PromiseFacade facade(&postOffice, nullptr, Factory());
        Dml::ViewSpec spec;
        spec.Pattern = unit(m.Composite());
        const Dml::PromiseFacade::CountFunction count = facade.ReadCount(kCaller, spec);
        for (int call = 0; call < 2; ++call) {
            unsigned value = 1234;
            AsyncTest::RecordingHandler handler;
            (void)count(value, handler);
            EXPECT_EQ(handler.calls.load(), 1);
            EXPECT_EQ(value, row.count);
        }
        EXPECT_EQ(postOffice.Specifications().size(), 2u);
    }
}

} // namespace
