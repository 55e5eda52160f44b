#include "service/store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <fstream>
#include <stdexcept>

#include "service/service_test_support.h"
#include "service/store_errors.h"
#include "testing/error_matchers.h"

namespace {

using ServiceTesting::B;
using ::testing::AllOf;
using ::testing::ElementsAre;
using Testing::ErrorIs;
using Testing::HasText;
using Testing::IsSuccessError;

constexpr int32_t kDml = 46;
constexpr int32_t kHub = 33;

class ObjectStore : public ServiceTesting::TemporaryFolder
{
protected:
    void SetUp() override
    {
        TemporaryFolder::SetUp();
        Reopen();
    }
    void Reopen()
    {
        m_store.reset();
        ASSERT_THAT(Service::Store::Open(PathOf("objects.db"), m_store), IsSuccessError());
    }

    Common::Error Write(const Service::Store::Work& work) { return m_store->Run(Service::Store::Mode::Write, work); }
    Common::Error Insert(int32_t code, const std::string& key, const std::string& body)
    {
        return Write([&](Service::Transaction& objects) { return objects.Insert(code, B(key), B(body)); });
    }

    // "key=body" of each object of `code` in store order.
    std::vector<std::string> Contents(int32_t code = kDml, const Service::BodyFilter& filter = {},
                                      size_t limit = Service::kNoLimit)
    {
        std::vector<Service::StoredObject> objects;
        EXPECT_THAT(m_store->Run(Service::Store::Mode::Read,
                                 [&](Service::Transaction& t) { return t.List(code, filter, limit, objects); }),
                    IsSuccessError());
        std::vector<std::string> texts;
        int64_t previous = 0;
        for (const auto& object : objects) {
            EXPECT_GT(object.order, previous);
            EXPECT_EQ(object.serviceCode, code);
            previous = object.order;
            texts.push_back(std::string(object.key.begin(), object.key.end()) + "=" +
                            std::string(object.body.begin(), object.body.end()));
        }
        return texts;
    }

    std::unique_ptr<Service::Store> m_store;
};

TEST_F(ObjectStore, KeysAreUniquePerServiceCodeAndComparedByTheirBytes)
{
    ASSERT_THAT(Insert(kDml, "a", "1"), IsSuccessError());
    EXPECT_THAT(Insert(kDml, "a", "2"),
                AllOf(ErrorIs(Service::kObjectExists), HasText(u"DML store: An object with this key already exists.")));
    EXPECT_THAT(Insert(kHub, "a", "hub"), IsSuccessError());
    EXPECT_THAT(Insert(kDml, "A", "3"), IsSuccessError());
    EXPECT_THAT(Insert(kDml, std::string("a\0", 2), "4"), IsSuccessError());
    EXPECT_THAT(Insert(kDml, "", ""), IsSuccessError()); // an empty key and body are bytes like any other
    EXPECT_THAT(Insert(kDml, "", "again"), ErrorIs(Service::kObjectExists));
    EXPECT_THAT(Contents(), ElementsAre("a=1", "A=3", std::string("a\0=4", 4), "="));
    EXPECT_THAT(Contents(kHub), ElementsAre("a=hub"));
}

TEST_F(ObjectStore, GetFindsOnlyTheServiceCodesOwnObject)
{
    ASSERT_THAT(Insert(kDml, "k", "body"), IsSuccessError());
    bool found = false;
    Service::StoredObject object;
    ASSERT_THAT(m_store->Run(Service::Store::Mode::Read,
                             [&](Service::Transaction& t) { return t.Get(kDml, B("k"), found, object); }),
                IsSuccessError());
    EXPECT_TRUE(found);
    EXPECT_EQ(object.body, B("body"));
    EXPECT_EQ(object.key, B("k"));
    ASSERT_THAT(m_store->Run(Service::Store::Mode::Read,
                             [&](Service::Transaction& t) { return t.Get(kHub, B("k"), found, object); }),
                IsSuccessError());
    EXPECT_FALSE(found);
}

TEST_F(ObjectStore, ReplaceKeepsThePlaceAndGuardsKeyUniqueness)
{
    for (const char* key : {"a", "b", "c"})
        ASSERT_THAT(Insert(kDml, key, "old"), IsSuccessError());
    auto replace = [&](const char* key, const char* newKey, const char* body) {
        return Write([&](Service::Transaction& t) { return t.Replace(kDml, B(key), B(newKey), B(body)); });
    };
    EXPECT_THAT(replace("a", "a", "new"), IsSuccessError());
    EXPECT_THAT(replace("b", "b2", "moved"), IsSuccessError());
    EXPECT_THAT(replace("c", "a", "clash"), ErrorIs(Service::kObjectExists));
    EXPECT_THAT(replace("zz", "zz", "none"),
                AllOf(ErrorIs(Service::kObjectNotFound), HasText(u"DML store: No object with this key exists.")));
    EXPECT_THAT(Contents(), ElementsAre("a=new", "b2=moved", "c=old"));
}

TEST_F(ObjectStore, RemoveAndOrderThatIsNeverGivenOutAgain)
{
    ASSERT_THAT(Insert(kDml, "a", "1"), IsSuccessError());
    ASSERT_THAT(Insert(kDml, "b", "2"), IsSuccessError());
    auto remove = [&](const char* key) {
        return Write([&](Service::Transaction& t) { return t.Remove(kDml, B(key)); });
    };
    EXPECT_THAT(remove("b"), IsSuccessError());
    EXPECT_THAT(remove("b"), ErrorIs(Service::kObjectNotFound));
    Reopen();
    ASSERT_THAT(Insert(kDml, "b", "3"), IsSuccessError()); // after the removed last one, also across reopening
    std::vector<Service::StoredObject> objects;
    ASSERT_THAT(m_store->Run(Service::Store::Mode::Read,
                             [&](Service::Transaction& t) { return t.List(kDml, {}, Service::kNoLimit, objects); }),
                IsSuccessError());
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[1].order, objects[0].order + 2);
}

TEST_F(ObjectStore, FilteredListingIsCappedButTheCountIsNot)
{
    for (int i = 0; i < 10; ++i)
        ASSERT_THAT(Insert(kDml, "k" + std::to_string(i), i % 2 ? "odd" : "even"), IsSuccessError());
    const Service::BodyFilter odd = [](Ipc::ByteView body, bool& selected) {
        selected = std::string(body.begin(), body.end()) == "odd";
        return Common::Success;
    };
    EXPECT_THAT(Contents(kDml, odd, 2), ElementsAre("k1=odd", "k3=odd"));
    EXPECT_THAT(Contents(kDml, odd), ::testing::SizeIs(5));
    EXPECT_THAT(Contents(kDml, {}, 0), ::testing::IsEmpty());

    uint64_t all = 0, odds = 0, hubs = 7;
    ASSERT_THAT(m_store->Run(Service::Store::Mode::Read,
                             [&](Service::Transaction& t) {
                                 Common::Error error = t.Count(kDml, {}, all);
                                 if (error.IsSuccess())
                                     error = t.Count(kDml, odd, odds);
                                 if (error.IsSuccess())
                                     error = t.Count(kHub, {}, hubs);
                                 return error;
                             }),
                IsSuccessError());
    EXPECT_EQ(all, 10u);
    EXPECT_EQ(odds, 5u);
    EXPECT_EQ(hubs, 0u);
}

TEST_F(ObjectStore, FailingWorkRollsBackEverythingItDid)
{
    ASSERT_THAT(Insert(kDml, "kept", "1"), IsSuccessError());
    const Common::Error failed = Write([](Service::Transaction& t) {
        (void)t.Insert(kDml, B("new"), B("2")); // rolled back with the rest
        (void)t.Remove(kDml, B("kept"));
        return t.Insert(kDml, B("new"), B("3"));
    });
    EXPECT_THAT(failed, ErrorIs(Service::kObjectExists));

    EXPECT_THROW(Write([](Service::Transaction& t) -> Common::Error {
                     (void)t.Remove(kDml, B("kept"));
                     throw std::runtime_error("work failed");
                 }),
                 std::runtime_error);

    const Service::BodyFilter broken = [](Ipc::ByteView, bool&) {
        return Common::Error(0xFA0001, "cannot read the body", Common::NoLocation);
    };
    std::vector<Service::StoredObject> objects;
    EXPECT_THAT(Write([&](Service::Transaction& t) {
                    (void)t.Insert(kDml, B("other"), B("4"));
                    return t.List(kDml, broken, Service::kNoLimit, objects);
                }),
                ErrorIs(0xFA0001u));
    EXPECT_THAT(Contents(), ElementsAre("kept=1"));
}

TEST_F(ObjectStore, ReadTransactionsRefuseChanges)
{
    const Common::Error error = m_store->Run(Service::Store::Mode::Read,
                                             [](Service::Transaction& t) { return t.Insert(kDml, B("k"), B("b")); });
    EXPECT_THAT(error, ErrorIs(Service::kStoreFailed));
    EXPECT_THAT(Contents(), ::testing::IsEmpty());
}

TEST_F(ObjectStore, StoreSurvivesReopening)
{
    ASSERT_THAT(Insert(kDml, "a", std::string(100000, 'x')), IsSuccessError());
    ASSERT_THAT(Insert(kDml, "b", "small"), IsSuccessError());
    Reopen();
    const auto contents = Contents();
    ASSERT_EQ(contents.size(), 2u);
    EXPECT_EQ(contents[0], "a=" + std::string(100000, 'x'));
    EXPECT_EQ(contents[1], "b=small");
}

TEST_F(ObjectStore, FilesThatAreNoStoreAreRefused)
{
    m_store.reset();
    std::ofstream(PathOf("text.db")) << "this is not a database, it is a text file long enough to be looked at";
    std::unique_ptr<Service::Store> store;
    EXPECT_THAT(Service::Store::Open(PathOf("text.db"), store), ErrorIs(Service::kStoreFailed));

    // A store of a later format.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(PathOf("later.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version = 2", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    EXPECT_THAT(Service::Store::Open(PathOf("later.db"), store), ErrorIs(Service::kStoreFailed));
    EXPECT_EQ(store, nullptr);

    EXPECT_THAT(Service::Store::Open(PathOf("missing/folder/objects.db"), store), ErrorIs(Service::kStoreFailed));
}

} // namespace
