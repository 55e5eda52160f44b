// The in-memory update cache: its states under CheckOut, Consume and Fail,
// cancellation, destruction and a push racing a cancel.
#include "enterprise/common/dml/client/update_cache.h"

#include <memory>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "enterprise/common/dml/client/client_test_kit.h"
#include "testing/error_matchers.h"

namespace {

using ClientTesting::RecordingUpdateReader;
using ClientTesting::Update;
using testing::ElementsAre;
using Testing::ErrorIs;
using testing::IsEmpty;
using Testing::IsSuccessError;

const Common::Error kFailure(0xFC0099, u"topic failed", Common::SourceFile("update_cache_test").At("Test", 1));

// One CheckOut: its reader, handler and job.
struct Read
{
    RecordingUpdateReader reader;
    AsyncTest::RecordingHandler handler;
    std::shared_ptr<Async::Job> job;

    explicit Read(Dml::Client::InMemoryUpdateCache& cache) { job = cache.CheckOut(reader, handler); }
    bool Parked() const { return job && handler.calls.load() == 0; }
};

// True when a CheckOut parks; the parked read is cancelled, since its handler
// goes with it.
bool Parks(Dml::Client::InMemoryUpdateCache& cache)
{
    Read read(cache);
    const bool parked = read.Parked();
    if (read.job)
        read.job->Cancel();
    return parked;
}

TEST(UpdateCache, AFreshCacheParksAndAnEmptyBatchCompletesTheRead)
{
    Dml::Client::InMemoryUpdateCache cache;
    Read read(cache);
    ASSERT_TRUE(read.Parked());
    cache.Consume({});
    EXPECT_EQ(read.handler.calls.load(), 1);
    EXPECT_THAT(read.handler.Last(), IsSuccessError());
    EXPECT_THAT(read.reader.Seen(), IsEmpty());
}

TEST(UpdateCache, BatchesPushedWhileNobodyReadsAreHandedOutTogetherInPushOrder)
{
    Dml::Client::InMemoryUpdateCache cache;
    cache.Consume({Update("a"), Update("b")});
    cache.Consume({Update("c", 2)});
    Read read(cache);
    EXPECT_FALSE(read.job);
    EXPECT_EQ(read.handler.calls.load(), 1);
    EXPECT_THAT(read.handler.Last(), IsSuccessError());
    EXPECT_THAT(read.reader.Seen(), ElementsAre("0:a", "0:b", "2:c"));
    EXPECT_TRUE(Parks(cache)) << "everything was handed out";
}

TEST(UpdateCache, AStoredFailureComesAfterThePendingUpdatesAndStaysUntilABatchReplacesIt)
{
    Dml::Client::InMemoryUpdateCache cache;
    cache.Consume({Update("a")});
    cache.Fail(kFailure);

    Read first(cache);
    EXPECT_THAT(first.reader.Seen(), ElementsAre("0:a"));
    EXPECT_THAT(first.handler.Last(), IsSuccessError());
    for (int i = 0; i < 2; ++i) {
        Read failing(cache);
        EXPECT_FALSE(failing.job);
        EXPECT_THAT(failing.handler.Last(), ErrorIs(0xFC0099));
        EXPECT_THAT(failing.reader.Seen(), IsEmpty());
    }

    const Common::Error other(0xFC0098, u"other", Common::NoLocation);
    cache.Fail(other);
    EXPECT_THAT(Read(cache).handler.Last(), ErrorIs(0xFC0098)) << "a failure replaces the stored one";

    cache.Consume({Update("b")});
    Read afterBatch(cache);
    EXPECT_THAT(afterBatch.reader.Seen(), ElementsAre("0:b"));
    EXPECT_THAT(afterBatch.handler.Last(), IsSuccessError());
    EXPECT_TRUE(Parks(cache)) << "the batch cleared the failure";
}

TEST(UpdateCache, AParkedReadGetsTheNextPush)
{
    for (bool failing : {false, true}) {
        SCOPED_TRACE(failing ? "Fail" : "Consume");
        Dml::Client::InMemoryUpdateCache cache;
        Read read(cache);
        ASSERT_TRUE(read.Parked());
        if (failing)
            cache.Fail(kFailure);
        else
            cache.Consume({Update("a"), Update("b", 1)});
        EXPECT_EQ(read.handler.calls.load(), 1);
        if (failing) {
            EXPECT_THAT(read.handler.Last(), ErrorIs(0xFC0099));
            EXPECT_THAT(read.reader.Seen(), IsEmpty());
            EXPECT_THAT(Read(cache).handler.Last(), ErrorIs(0xFC0099)) << "the failure stays stored";
        } else {
            EXPECT_THAT(read.handler.Last(), IsSuccessError());
            EXPECT_THAT(read.reader.Seen(), ElementsAre("0:a", "1:b"));
            EXPECT_TRUE(Parks(cache));
        }
    }
}

TEST(UpdateCache, ASecondReadWhileOneIsParkedFailsAtOnceAndLeavesTheFirst)
{
    Dml::Client::InMemoryUpdateCache cache;
    Read first(cache);
    Read second(cache);
    EXPECT_FALSE(second.job);
    EXPECT_THAT(second.handler.Last(),
                testing::AllOf(ErrorIs(0xFC000C), Testing::HasText(u"DML: The operation is already running."),
                               Testing::RaisedAt("enterprise/common/dml/client/remote_subscription", "CheckOut", 280),
                               Testing::HasLineTag(0x50ebb31abae51f4full)));
    EXPECT_TRUE(first.Parked());
    cache.Consume({Update("a")});
    EXPECT_THAT(first.reader.Seen(), ElementsAre("0:a"));
    EXPECT_EQ(second.handler.calls.load(), 1);
}

TEST(UpdateCache, ACancelledReadStaysParkedUntilTheNextPushWhichKeepsItsUpdates)
{
    for (bool failing : {false, true}) {
        SCOPED_TRACE(failing ? "Fail" : "Consume");
        Dml::Client::InMemoryUpdateCache cache;
        Read read(cache);
        read.job->Cancel();
        EXPECT_EQ(read.handler.calls.load(), 1);
        EXPECT_THAT(read.handler.Last(), ErrorIs(0xF90002));
        read.job->Cancel();
        EXPECT_EQ(read.handler.calls.load(), 1);

        EXPECT_THAT(Read(cache).handler.Last(), ErrorIs(0xFC000C)) << "the cancelled job is still parked";
        if (failing)
            cache.Fail(kFailure);
        else
            cache.Consume({Update("a")});
        EXPECT_EQ(read.handler.calls.load(), 1);
        EXPECT_THAT(read.reader.Seen(), IsEmpty());

        Read next(cache);
        if (failing) {
            EXPECT_THAT(next.handler.Last(), ErrorIs(0xFC0099));
        } else {
            EXPECT_THAT(next.handler.Last(), IsSuccessError());
            EXPECT_THAT(next.reader.Seen(), ElementsAre("0:a"));
        }
    }
}

TEST(UpdateCache, DestroyingTheCacheCompletesAParkedReadOnceAsCanceled)
{
    auto cache = std::make_unique<Dml::Client::InMemoryUpdateCache>();
    Read read(*cache);
    cache.reset();
    EXPECT_EQ(read.handler.calls.load(), 1);
    EXPECT_THAT(read.handler.Last(), ErrorIs(0xF90002));
    read.job->Cancel();
    EXPECT_EQ(read.handler.calls.load(), 1) << "a later cancel completes nobody";
}

TEST(UpdateCacheThreads, APushRacingACancelCompletesTheReadExactlyOnce)
{
    for (int round = 0; round < 1000; ++round) {
        Dml::Client::InMemoryUpdateCache cache;
        Read read(cache);
        ASSERT_TRUE(read.Parked());
        std::thread canceller([&] { read.job->Cancel(); });
        cache.Consume({Update("a")});
        canceller.join();
        ASSERT_EQ(read.handler.calls.load(), 1) << "round " << round;
        const std::vector<std::string> seen = read.reader.Seen();
        if (read.handler.Last().IsSuccess()) {
            ASSERT_THAT(seen, ElementsAre("0:a"));
        } else {
            ASSERT_THAT(read.handler.Last(), ErrorIs(0xF90002));
            ASSERT_THAT(seen, IsEmpty());
            Read next(cache);
            ASSERT_THAT(next.reader.Seen(), ElementsAre("0:a")) << "the cancelled read's batch stays pending";
        }
    }
}

} // namespace
