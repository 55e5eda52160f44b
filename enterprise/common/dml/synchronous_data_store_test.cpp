#include "enterprise/common/dml/synchronous_data_store.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "enterprise/common/async/async_errors.h"
#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/dml/dml_errors.h"
#include "enterprise/common/dml/test_support/fake_services.h"
#include "enterprise/common/por/por_errors.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/test_support/render.h"
#include "enterprise/common/por/test_support/thrown_errors.h"
#include "enterprise/common/por/unit_accessor.h"
#include "testing/error_matchers.h"

namespace {

using DmlTesting::FakeObjectRegistry;
using DmlTesting::FakePostOffice;
using DmlTesting::Snapshot;
using PorTesting::Make;
using PorTesting::Render;
using PorTesting::UnitPtr;
using Testing::CausedBy;
using Testing::ChainContains;
using Testing::ErrorIs;
using Testing::HasText;

constexpr Common::SourceFile kTestSource("enterprise/common/dml/store_test");
const Core::EntryPoint kCaller(kTestSource.At("Store", 1));

const Por::Construction::UnitFactory& Factory()
{
    return *Por::Construction::GetDefaultUnitFactory();
}

// {ID: Guid id <PrimaryKey>, Name: String name}
UnitPtr Object(const std::u16string& name, uint32_t id = 1)
{
    const Make m(Factory());
    return m.Composite(m.Prop("ID", m.With(m.Guid(Por::GuidType{id, 0, 0, {}}), "PrimaryKey", m.Nil())),
                       m.Prop("Name", m.String(name)));
}

struct Services
{
    AsyncTest::Completers completers{2};
    FakePostOffice postOffice{&completers};
    FakeObjectRegistry registry{&completers};
    Dml::SynchronousDataStore store{&postOffice, &registry};

    // The view finds objects of these names, with the ID `id`.
    void Find(std::vector<std::u16string> names, uint32_t id = 1)
    {
        postOffice.answer = [names, id](const Dml::ViewSpec&) {
            Snapshot found;
            for (const std::u16string& name : names)
                found.push_back(std::shared_ptr<const Por::View::Unit>(Object(name, id)));
            return FakePostOffice::View{found, Common::Success};
        };
    }
};

TEST(SynchronousDataStoreThreads, NothingFoundRegistersTheWholeObject)
{
    Services services;
    const UnitPtr object = Object(u"new");
    services.store.StoreOrUpdate(kCaller, *object);
    const std::vector<FakeObjectRegistry::Call> calls = services.registry.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].method, "RegisterObject");
    EXPECT_EQ(Render(*calls[0].first), Render(*object));

    // The view looks the key up: the key marked, without options of its own.
    const std::vector<Dml::ViewSpec> views = services.postOffice.Specifications();
    ASSERT_EQ(views.size(), 1u);
    EXPECT_EQ(Render(*views[0].Pattern), "Guid 00000001-0000-0000-0000-000000000000 <ObjectID, PrimaryKey>");
    EXPECT_EQ(views[0].Options, nullptr);
}

TEST(SynchronousDataStoreThreads, AnAccessorsObjectIsRegisteredWithoutACopy)
{
    Services services;
    const std::shared_ptr<Por::Construction::Unit> object = Object(u"new");
    services.store.StoreOrUpdate(kCaller, Por::UnitAccessor(object));
    // A unit given by reference is copied.
    services.store.StoreOrUpdate(kCaller, *object);
    const std::vector<FakeObjectRegistry::Call> calls = services.registry.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].first.get(), object.get());
    EXPECT_NE(calls[1].first.get(), object.get());
    EXPECT_EQ(Render(*calls[1].first), Render(*object));
}

TEST(SynchronousDataStoreThreads, AnAccessorWithoutUnitSendsNothing)
{
    Services services;
    const Common::Error error = PorTesting::ErrorOf(
        [&] { services.store.StoreOrUpdate(kCaller, Por::UnitAccessor(std::shared_ptr<Por::Construction::Unit>())); });
    EXPECT_THAT(error, ErrorIs(PorErrors::kEmptyUnitHolder));
    EXPECT_TRUE(services.registry.Calls().empty());
    EXPECT_TRUE(services.postOffice.Specifications().empty());
}

TEST(SynchronousDataStoreThreads, AnEqualObjectFoundIsUpdatedWithAnEmptyDiff)
{
    Services services;
    services.Find({u"same"});
    services.store.StoreOrUpdate(kCaller, *Object(u"same"));
    const std::vector<FakeObjectRegistry::Call> calls = services.registry.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].method, "UpdateObject");
    EXPECT_EQ(Render(*calls[0].first), "Guid 00000001-0000-0000-0000-000000000000 <PrimaryKey>");
    EXPECT_EQ(Render(*calls[0].patch), "Nil <EmptyDiff, PackedDiff>");
}

TEST(SynchronousDataStoreThreads, EachObjectFoundGetsItsOwnDiffUntilOneFails)
{
    Services services;
    services.Find({u"a", u"b", u"c"}, 2); // the key sent is the new object's, not the found one's
    services.registry.answer = [](const FakeObjectRegistry::Call&, size_t index) {
        return index == 1 ? Common::Error(0x40003, kTestSource.At("Update", 2)) : Common::Error();
    };
    const Common::Error error = PorTesting::ErrorOf([&] { services.store.StoreOrUpdate(kCaller, *Object(u"new")); });
    EXPECT_THAT(
        error,
        ChainContains(testing::AllOf(ErrorIs(Async::ASYNC_ERROR_JOB_CONTEXT), HasText(u"DML process object by ID job."),
                                     ChainContains(ErrorIs(0x40003)))));
    const std::vector<FakeObjectRegistry::Call> calls = services.registry.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_THAT(Render(*calls[0].patch), testing::HasSubstr("Name: String \"new\""));
    EXPECT_EQ(Render(*calls[0].first), "Guid 00000001-0000-0000-0000-000000000000 <PrimaryKey>");

    // The store is usable again afterwards.
    services.registry.answer = [](const FakeObjectRegistry::Call&, size_t) { return Common::Error(); };
    services.Find({});
    services.store.StoreOrUpdate(kCaller, *Object(u"again"));
    EXPECT_EQ(services.registry.Calls().back().method, "RegisterObject");
}

TEST(SynchronousDataStoreThreads, AnObjectWithoutKeySendsNothing)
{
    Services services;
    const Make m(Factory());
    const Common::Error error = PorTesting::ErrorOf(
        [&] { services.store.StoreOrUpdate(kCaller, *m.Composite(m.Prop("Name", m.String(u"x")))); });
    EXPECT_THAT(error, ErrorIs(Async::ASYNC_ERROR_OPERATION_EXCEPTION));
    EXPECT_THAT(error, HasText(u"ASYNC: Exception has occurred during operation 'Perform'."));
    EXPECT_THAT(error, CausedBy(ErrorIs(Dml::DML_ERROR_NO_OBJECT_KEY)));
    EXPECT_TRUE(services.registry.Calls().empty());
    EXPECT_TRUE(services.postOffice.Specifications().empty());
}

TEST(SynchronousDataStore, AFailureCompletedInlineIsWrappedOnceInTheJobsContext)
{
    FakePostOffice postOffice;
    FakeObjectRegistry registry;
    registry.answer = [](const FakeObjectRegistry::Call&, size_t) {
        return Common::Error(0x40003, kTestSource.At("Register", 4));
    };
    Dml::SynchronousDataStore store(&postOffice, &registry);
    const Common::Error error = PorTesting::ErrorOf([&] { store.StoreOrUpdate(kCaller, *Object(u"new")); });
    int contexts = 0;
    for (Common::Error record = error; record.GetRecord(); record = record.GetCause())
        contexts += record.GetCode() == Async::ASYNC_ERROR_JOB_CONTEXT &&
            record.GetLocation().LineTag == 0xa9e20df0eaad67d1ull;
    EXPECT_EQ(contexts, 1);
    EXPECT_THAT(error, ChainContains(ErrorIs(0x40003)));
}

// Processes each object on a completer thread and fails the one named `failOn`.
class Processor final : public Dml::AsyncReportReader
{
public:
    explicit Processor(AsyncTest::Completers& completers) : m_completers(completers) {}
    std::shared_ptr<Async::Job> Read(const std::shared_ptr<const Por::View::Unit>& object,
                                     Async::ActionHandler& handler) override
    {
        const std::string text = Render(*object);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_seen.push_back(text);
        }
        const Common::Error result = text == failOn ? Common::Error(0x40004, kTestSource.At("Process", 3))
                                                    : Common::Error();
        m_completers.Post([result, &handler] { handler.Completed(result); });
        return std::make_shared<DmlTesting::ViewJob>();
    }
    std::vector<std::string> Seen() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }
    std::string failOn;

private:
    AsyncTest::Completers& m_completers;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_seen;
};

TEST(SynchronousDataStoreThreads, AReportStopsAtTheFirstFailingObject)
{
    Services services;
    services.postOffice.answer = [](const Dml::ViewSpec&) {
        const Make m(Factory());
        Snapshot units;
        for (unsigned value : {1u, 2u, 3u})
            units.push_back(std::shared_ptr<const Por::View::Unit>(m.DWord(value)));
        return FakePostOffice::View{units, Common::Success};
    };
    Processor processor(services.completers);
    processor.failOn = "DWord 2";
    const Common::Error error = PorTesting::ErrorOf(
        [&] { services.store.Report(kCaller, Dml::ViewSpec{}, processor); });
    EXPECT_THAT(error, ChainContains(ErrorIs(0x40004)));
    EXPECT_THAT(processor.Seen(), testing::ElementsAre("DWord 1", "DWord 2"));

    // An empty view: nothing processed, no error; the processor is still the caller's.
    services.postOffice.answer = [](const Dml::ViewSpec&) { return FakePostOffice::View{}; };
    services.store.Report(kCaller, Dml::ViewSpec{}, processor);
    EXPECT_EQ(processor.Seen().size(), 2u);
}

TEST(SynchronousDataStore, MissingServicesAreReportedAtTheStoresLocation)
{
    Dml::SynchronousDataStore store(nullptr, nullptr);
    AsyncTest::Completers completers(1);
    Processor processor(completers);
    const Common::Error report = PorTesting::ErrorOf([&] { store.Report(kCaller, Dml::ViewSpec{}, processor); });
    EXPECT_THAT(report, HasText(u"DML: Unproper use. Missing PostOffice."));
    EXPECT_EQ(report.GetLocation().LineTag, 0x5b0018a6e6937f80ull);
    const Common::Error store2 = PorTesting::ErrorOf([&] { store.StoreOrUpdate(kCaller, *Object(u"x")); });
    EXPECT_THAT(store2, HasText(u"DML: Unproper use. Missing ObjectRegistry."));
    EXPECT_EQ(store2.GetLocation().LineTag, 0x5b0018a6e6937f96ull);
}

} // namespace
