#include "enterprise/common/dml/action_facade.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/async/waiting_handler.h"
#include "enterprise/common/dml/dml_errors.h"
#include "enterprise/common/dml/synchronous_data_store.h"
#include "enterprise/common/dml/test_support/fake_services.h"
#include "enterprise/common/por/por_errors.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/test_support/render.h"
#include "enterprise/common/por/test_support/thrown_errors.h"
#include "testing/error_matchers.h"

namespace {

using DmlTesting::FakeObjectRegistry;
using DmlTesting::FakePostOffice;
using PorTesting::Make;
using PorTesting::Render;
using Testing::ErrorIs;
using Testing::HasText;
using Testing::RaisedAt;

constexpr Common::SourceFile kTestSource("enterprise/common/dml/facade_caller");
const Core::EntryPoint kCaller(kTestSource.At("Main", 1));

const Por::Construction::UnitFactory* Factory()
{
    return Por::Construction::GetDefaultUnitFactory();
}

std::shared_ptr<const Por::View::Unit> Shared(PorTesting::UnitPtr unit)
{
    return std::shared_ptr<const Por::View::Unit>(std::move(unit));
}

class NoReader final : public Dml::AsyncReportReader
{
public:
    std::shared_ptr<Async::Job> Read(const std::shared_ptr<const Por::View::Unit>&, Async::ActionHandler&) override
    {
        return {};
    }
};

TEST(ActionFacade, AMissingServiceThrowsAtTheFacadesLineAndBuildsNothing)
{
    FakePostOffice postOffice;
    const Make m(*Factory());
    const auto pattern = Shared(m.Composite());
    struct Row
    {
        const char* name;
        std::function<void()> call;
        const char16_t* text;
        const char* function;
        unsigned line;
        uint64_t lineTag;
    };
    const Row rows[] = {
        {"delete without a registry",
         [&] {
             (void)Dml::UnregisterByPatternObject(Dml::MakeServiceHolder(&postOffice, Factory()), kCaller, pattern);
         },
         u"DML: Unproper use. Missing ObjectRegistry.", "UnregisterByPatternObject", 204, 0xf2a48d81ba571640ull},
        {"report without a post office",
         [&] {
             (void)Dml::ProcessReportAsync(Dml::MakeServiceHolder(nullptr, nullptr), kCaller, Dml::ViewSpec{},
                                           std::make_shared<NoReader>());
         },
         u"DML: Unproper use. Missing PostOffice.", "ProcessReportAsync", 223, 0xf2a48d81ba571653ull},
        {"copying delete without a factory",
         [&] { (void)Dml::UnregisterByPattern(Dml::MakeServiceHolder(&postOffice, nullptr), kCaller, *pattern); },
         u"DML: Unproper use. Missing UnitFactory.", "UnregisterByPattern", 197, 0xf2a48d81ba571639ull},
        {"update without a registry",
         [&] { (void)Dml::Update(Dml::MakeServiceHolder(&postOffice, Factory()), *pattern, *pattern); },
         u"DML: Unproper use. Missing ObjectRegistry.", "UpdateObject", 120, 0xf2a48d81ba5715ecull},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Common::Error error = PorTesting::ErrorOf(row.call);
        EXPECT_THAT(error, ErrorIs(Dml::DML_ERROR_IMPROPER_USE));
        EXPECT_THAT(error, HasText(row.text));
        EXPECT_THAT(error, RaisedAt("enterprise/common/dml/action_facade", row.function, row.line));
        EXPECT_EQ(error.GetLocation().LineTag, row.lineTag);
    }
    EXPECT_TRUE(postOffice.Specifications().empty());
}

TEST(ActionFacade, AnEmptyUnitIsRefused)
{
    FakeObjectRegistry registry;
    const auto holder = Dml::MakeServiceHolder(nullptr, &registry, Factory());
    const Make m(*Factory());
    EXPECT_THAT(PorTesting::ErrorOf([&] { (void)Dml::UpdateObject(holder, nullptr, Shared(m.Nil())); }),
                ErrorIs(PorErrors::kEmptyUnitHolder));
}

TEST(ActionFacadeThreads, TheJobHandleKeepsTheHolderAndTheUnitsAlive)
{
    AsyncTest::Completers completers(1);
    FakeObjectRegistry registry(&completers);
    const Make m(*Factory());
    auto holder = Dml::MakeServiceHolder(nullptr, &registry, Factory());
    auto key = Shared(m.DWord(1));
    auto patch = Shared(m.String(u"patch"));
    const std::weak_ptr<Dml::ServiceHolder> holderProbe = holder;
    const std::weak_ptr<const Por::View::Unit> keyProbe = key;
    const std::weak_ptr<const Por::View::Unit> patchProbe = patch;

    std::unique_ptr<Async::Action> action = Dml::UpdateObject(holder, key, patch);
    holder.reset();
    key.reset();
    patch.reset();
    Async::WaitingHandler waiting(true);
    std::shared_ptr<Async::Job> job = action->Perform(waiting);
    action.reset();
    EXPECT_THAT(waiting.Wait(nullptr), Testing::IsSuccessError());
    EXPECT_FALSE(holderProbe.expired());
    EXPECT_FALSE(keyProbe.expired());
    EXPECT_FALSE(patchProbe.expired());
    job.reset();
    EXPECT_TRUE(holderProbe.expired());
    EXPECT_TRUE(keyProbe.expired());
    EXPECT_TRUE(patchProbe.expired());
    ASSERT_EQ(registry.Calls().size(), 1u);
    EXPECT_EQ(Render(*registry.Calls()[0].patch), "String \"patch\"");
}

TEST(ActionFacadeThreads, CopyingFormsWorkOnCopies)
{
    AsyncTest::Completers completers(2);
    FakePostOffice postOffice(&completers);
    FakeObjectRegistry registry(&completers);
    const auto holder = Dml::MakeServiceHolder(&postOffice, &registry, Factory());
    const Make m(*Factory());
    std::unique_ptr<Async::Action> update;
    std::unique_ptr<Async::Action> erase;
    {
        const auto key = m.DWord(7);
        const auto patch = m.String(u"p");
        update = Dml::Update(holder, *key, *patch);
        const auto pattern = m.Composite(m.Prop("Kind", m.String(u"x")));
        erase = Dml::UnregisterByPattern(holder, kCaller, *pattern);
    }
    EXPECT_THAT(Dml::RunActionSynchronously(*update), Testing::IsSuccessError());
    EXPECT_THAT(Dml::RunActionSynchronously(*erase), Testing::IsSuccessError()); // counts nothing
    ASSERT_EQ(registry.Calls().size(), 1u);
    EXPECT_EQ(Render(*registry.Calls()[0].first), "DWord 7");
    ASSERT_EQ(postOffice.Specifications().size(), 1u);
    EXPECT_EQ(Render(*postOffice.Specifications()[0].Pattern), "{Kind: String \"x\"}");
}

} // namespace
