#include "service/process_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using namespace std::chrono_literals;

// What the writers below were given, one entry per call.
std::vector<std::string> g_written;

void Record(const std::string& text)
{
    g_written.push_back(text);
}

class ProcessLog : public ::testing::Test
{
protected:
    void SetUp() override { g_written.clear(); }
};

TEST_F(ProcessLog, LineBudgetLetsABurstThroughThenOneLinePerInterval)
{
    Service::LineBudget budget(3, 10s);
    const auto start = std::chrono::steady_clock::time_point{} + 1h;
    uint64_t heldBack = 99;
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(budget.Take(start, heldBack));
        EXPECT_EQ(heldBack, 0u);
    }
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(budget.Take(start + 9s, heldBack));
    EXPECT_TRUE(budget.Take(start + 10s, heldBack));
    EXPECT_EQ(heldBack, 5u);
    EXPECT_FALSE(budget.Take(start + 11s, heldBack));
    // A long quiet refills the burst, never more; the line held back is counted once.
    EXPECT_TRUE(budget.Take(start + 1h, heldBack));
    EXPECT_EQ(heldBack, 1u);
    EXPECT_TRUE(budget.Take(start + 1h, heldBack));
    EXPECT_EQ(heldBack, 0u);
    EXPECT_TRUE(budget.Take(start + 1h, heldBack));
    EXPECT_FALSE(budget.Take(start + 1h, heldBack));
}

TEST_F(ProcessLog, NamesFromThePeerAreQuotedEscapedAndCut)
{
    struct Case
    {
        std::string text;
        size_t maxBytes;
        const char* quoted;
    };
    const Case cases[] = {
        {"alice", 64, "\"alice\""},
        {"a\"b\\c", 64, "\"a\\x22b\\x5Cc\""},
        {std::string("line\nfeed\0nul\x1B[31m", 18), 64, "\"line\\x0Afeed\\x00nul\\x1B[31m\""},
        {"J\xC3\xBCrgen", 64, "\"J\\xC3\\xBCrgen\""},
        {"exactly", 7, "\"exactly\""},
        {std::string(70, 'x'), 10, "\"xxxxxxxxxx\"..."},
        {"", 10, "\"\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Service::QuoteForLog(c.text, c.maxBytes), c.quoted);
}

TEST_F(ProcessLog, RefusedLoginsAreOneLineEachWithinTheirBudget)
{
    Service::RefusedLoginLog log(Record);
    const auto start = std::chrono::steady_clock::now();
    for (unsigned i = 0; i < Service::kRefusedLoginBurst + 50; ++i)
        log.ReportAt("mallory\n" + std::string(200, 'm'), "192.0.2.7:40000", start);
    ASSERT_EQ(g_written.size(), Service::kRefusedLoginBurst);
    EXPECT_EQ(g_written[0],
              "objpatcher-service: refused the login of user \"mallory\\x0A" + std::string(56, 'm') +
                  "\"... from 192.0.2.7:40000\n");
    log.ReportAt("bob", "[2001:db8::1]:5", start + Service::kRefusedLoginInterval);
    ASSERT_EQ(g_written.size(), Service::kRefusedLoginBurst + 1);
    EXPECT_EQ(g_written.back(),
              "objpatcher-service: refused the login of user \"bob\" from [2001:db8::1]:5 "
              "(and 50 more refused logins not shown)\n");
}

TEST_F(ProcessLog, BusyAnswersAndRefusedSessionsAreLinesWithinBudgetsOfTheirOwn)
{
    Service::RefusedLoginLog log(Record);
    const auto start = std::chrono::steady_clock::now();
    // A flood of busy answers uses up its own budget only.
    for (unsigned i = 0; i < Service::kRefusedLoginBurst + 30; ++i)
        log.ReportBusyAt(i % 2 ? "" : "bob\n", "192.0.2.7:40000", start);
    log.ReportAt("mallory", "192.0.2.8:1", start);
    for (unsigned i = 0; i < Service::kRefusedLoginBurst + 5; ++i)
        log.ReportSessionLimitAt("alice", "[2001:db8::1]:5", 16, start);
    ASSERT_EQ(g_written.size(), 2 * Service::kRefusedLoginBurst + 1);
    EXPECT_EQ(g_written[0],
              "objpatcher-service: answered busy to the login of user \"bob\\x0A\" from 192.0.2.7:40000\n");
    EXPECT_EQ(g_written[1], "objpatcher-service: answered busy to a connection from 192.0.2.7:40000\n");
    EXPECT_EQ(g_written[Service::kRefusedLoginBurst],
              "objpatcher-service: refused the login of user \"mallory\" from 192.0.2.8:1\n");
    EXPECT_EQ(g_written.back(),
              "objpatcher-service: refused a session to user \"alice\" from [2001:db8::1]:5: the user has as many "
              "sessions open as the service allows (16)\n");

    // The next line of each kind counts the ones it held back.
    g_written.clear();
    const auto later = start + Service::kRefusedLoginInterval;
    log.ReportBusyAt("carol", "192.0.2.9:2", later);
    log.ReportSessionLimitAt("alice", "192.0.2.9:3", 16, later);
    log.ReportAt("dave", "192.0.2.9:4", later);
    EXPECT_EQ(g_written,
              (std::vector<std::string>{
                  "objpatcher-service: answered busy to the login of user \"carol\" from 192.0.2.9:2 "
                  "(and 30 more busy answers not shown)\n",
                  "objpatcher-service: refused a session to user \"alice\" from 192.0.2.9:3: the user has "
                  "as many sessions open as the service allows (16) (and 5 more refused sessions not "
                  "shown)\n",
                  "objpatcher-service: refused the login of user \"dave\" from 192.0.2.9:4\n"}));
}

TEST_F(ProcessLog, AnAssertionIsWrittenWholeOnceAndItsRepeatsAsCounts)
{
    Service::AssertionDigest digest(Record);
    const char* report = "Assertion failed: RootTag, file xml_serializer.cpp, line 832";
    const char* other = "Assertion failed: !\"XMLPacketDeserializer: No meta.\", file xml_serializer.cpp, line 716";
    for (int i = 0; i < 1000; ++i) {
        digest.Take(report);
        digest.Take("stack line 1\nstack line 2");
        digest.Take(other);
        digest.Take("stack of the other");
    }
    size_t bytes = 0;
    for (const std::string& text : g_written)
        bytes += text.size();
    // Each report whole once with its stack, then one line at 2, 4, ... 512 times.
    ASSERT_EQ(g_written.size(), 2 * (2 + 9));
    EXPECT_EQ(g_written[0], std::string(report) + "\n");
    EXPECT_EQ(g_written[1], "stack line 1\nstack line 2\n");
    EXPECT_EQ(g_written[2], std::string(other) + "\n");
    EXPECT_EQ(g_written[3], "stack of the other\n");
    EXPECT_EQ(g_written[4], "objpatcher-service: 2 times so far: " + std::string(report) + "\n");
    EXPECT_EQ(g_written.back(), "objpatcher-service: 512 times so far: " + std::string(other) + "\n");
    for (size_t i = 4; i < g_written.size(); ++i)
        EXPECT_THAT(g_written[i], Not(HasSubstr("stack")));
    EXPECT_LT(bytes, 4000u);
}

class ProcessLogThreads : public ProcessLog
{
};

TEST_F(ProcessLogThreads, ReportsOfTwoThreadsKeepTheirOwnStacks)
{
    Service::AssertionDigest digest(Record);
    digest.Take("Assertion failed: a, file f, line 1");
    // Another thread's report between a report and its stack does not take that stack.
    std::thread([&digest] {
        digest.Take("Assertion failed: b, file f, line 2");
        digest.Take("stack of b");
    }).join();
    digest.Take("stack of a");
    EXPECT_EQ(g_written,
              (std::vector<std::string>{"Assertion failed: a, file f, line 1\n",
                                        "Assertion failed: b, file f, line 2\n", "stack of b\n", "stack of a\n"}));
}

TEST_F(ProcessLog, PlacesBeyondTheBoundShareOneCount)
{
    Service::AssertionDigest digest(Record);
    for (size_t i = 0; i < Service::kAssertionPlaces + 100; ++i) {
        digest.Take(("Assertion failed: x, file f, line " + std::to_string(i)).c_str());
        digest.Take("stack");
    }
    // Every known place once with its stack, the first of the others too, then counts of them.
    EXPECT_LE(g_written.size(), 2 * (Service::kAssertionPlaces + 1) + 7);
}

} // namespace
