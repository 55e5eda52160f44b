#include "core/common/trace.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/common/assertion.h"
#include "core/common/error.h"
#include "testing/scoped_environment.h"

namespace {

constexpr Common::SourceFile kSource("core/common/trace_test");

struct Call
{
    std::string what;
    void* context;
    int level;
    unsigned facility;
    unsigned code;
    std::u16string text;
};

std::vector<Call> g_calls;

class RecordingSink : public Common::TraceSink
{
public:
    RecordingSink(std::string name, bool filter) : m_name(std::move(name)), m_filter(filter) {}

    void WriteText(void* context, int level, unsigned facility, unsigned code, const char16_t* text) override
    {
        g_calls.push_back({m_name + ".text", context, level, facility, code, text ? text : u""});
    }
    void WriteError(void* context, int level, const Common::Error& error) override
    {
        g_calls.push_back({m_name + ".error", context, level, 0, error.GetCode(), error.GetText()});
    }
    bool Filter() override { return m_filter ? true : Common::TraceSink::Filter(); }

private:
    std::string m_name;
    bool m_filter;
};

void TextCallback(int level, unsigned facility, unsigned code, const char16_t* text)
{
    g_calls.push_back({"text", nullptr, level, facility, code, text ? text : u""});
}
void ErrorCallback(int level, const Common::Error& error)
{
    g_calls.push_back({"error", nullptr, level, 0, error.GetCode(), error.GetText()});
}
void TextWithContextCallback(void* context, int level, unsigned facility, unsigned code, const char16_t* text)
{
    g_calls.push_back({"textWithContext", context, level, facility, code, text ? text : u""});
}
void ErrorWithContextCallback(void* context, int level, const Common::Error& error)
{
    g_calls.push_back({"errorWithContext", context, level, 0, error.GetCode(), error.GetText()});
}

// Installs a registry for one test and removes it afterwards.
class TraceDispatch : public ::testing::Test
{
protected:
    void SetUp() override { g_calls.clear(); }
    void TearDown() override
    {
        Common::Detail::SetTraceRegistryForTesting(nullptr);
        g_calls.clear();
    }
    void Install() { Common::Detail::SetTraceRegistryForTesting(&m_registry); }

    Common::TraceRegistry m_registry;
};

std::vector<std::string> Names()
{
    std::vector<std::string> names;
    for (const Call& call : g_calls)
        names.push_back(call.what);
    return names;
}

TEST(TraceCodes, FacilityAndNumber)
{
    EXPECT_EQ(Common::GetErrorFacility(0xFA000D), 0xFAu);
    EXPECT_EQ(Common::GetErrorNumber(0xFA000D), 0xDu);
    EXPECT_EQ(Common::GetErrorFacility(0xFFFF0001u), 0xFFFFu);
    EXPECT_EQ(Common::GetErrorNumber(0xFFFF0001u), 1u);
}

TEST(TraceNoRegistry, TracingPrintsNothing)
{
    const Common::Error error(0x4000E, u"text", kSource.At("F", 1));
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    for (int level = 0; level <= 6; ++level) {
        Common::TraceError(level, error);
        Common::TraceText(level, 1, 2, u"text");
        Common::TraceAssertionEvent(level, 0, 27, "Assertion failed: x");
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST_F(TraceDispatch, SinksFollowTheThresholdUnlessTheirFilterAccepts)
{
    RecordingSink plain("plain", false);
    RecordingSink filtering("filtering", true);
    m_registry.sinks = {&plain, &filtering};
    Install();

    Common::TraceText(Common::TRACE_DEBUG, 1, 2, u"low");
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].what, "filtering.text");

    g_calls.clear();
    Common::TraceText(Common::TRACE_INFORMATION, 1, 2, u"at threshold");
    EXPECT_EQ(g_calls.size(), 2u);

    g_calls.clear();
    int context = 0;
    Common::DispatchTraceError(&context, Common::TRACE_DEBUG, Common::Error(0x70001, u"e", kSource.At("F", 2)));
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].what, "filtering.error");
    EXPECT_EQ(g_calls[0].context, &context);
    EXPECT_EQ(g_calls[0].code, 0x70001u);
}

TEST_F(TraceDispatch, ErrorCallbacksTakeTheFirstFormPresent)
{
    m_registry.callbacks = {
        {TextCallback, ErrorCallback, TextWithContextCallback, ErrorWithContextCallback},
        {TextCallback, ErrorCallback, TextWithContextCallback, nullptr},
        {TextCallback, nullptr, TextWithContextCallback, nullptr},
        {TextCallback, nullptr, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr},
    };
    Install();
    int context = 0;
    const Common::Error error(0xFA000D, u"what happened", kSource.At("F", 3));

    Common::DispatchTraceError(&context, Common::TRACE_DEBUG, error);
    EXPECT_TRUE(g_calls.empty());

    Common::DispatchTraceError(&context, Common::TRACE_ERROR, error);
    EXPECT_EQ(Names(), (std::vector<std::string>{"errorWithContext", "error", "textWithContext", "text"}));
    ASSERT_EQ(g_calls.size(), 4u);
    EXPECT_EQ(g_calls[0].context, &context);
    for (size_t i : {2u, 3u}) {
        EXPECT_EQ(g_calls[i].level, Common::TRACE_ERROR);
        EXPECT_EQ(g_calls[i].facility, 0xFAu);
        EXPECT_EQ(g_calls[i].code, 0xDu);
        EXPECT_EQ(g_calls[i].text, u"what happened");
    }
    EXPECT_EQ(g_calls[2].context, &context);

    g_calls.clear();
    Common::TraceError(Common::TRACE_WARNING, Common::Success);
    ASSERT_EQ(g_calls.size(), 4u);
    EXPECT_EQ(g_calls[3].text, u"");
    EXPECT_EQ(g_calls[3].code, 0u);
}

TEST_F(TraceDispatch, TextCallbacksPreferTheContextForm)
{
    m_registry.callbacks = {
        {TextCallback, ErrorCallback, TextWithContextCallback, ErrorWithContextCallback},
        {TextCallback, ErrorCallback, nullptr, ErrorWithContextCallback},
        {nullptr, ErrorCallback, nullptr, ErrorWithContextCallback},
    };
    Install();
    int context = 0;
    Common::DispatchTraceText(&context, Common::TRACE_CRITICAL_ERROR, 7, 0x12345, u"t");
    EXPECT_EQ(Names(), (std::vector<std::string>{"textWithContext", "text"}));
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[0].context, &context);
    EXPECT_EQ(g_calls[1].facility, 7u);
    EXPECT_EQ(g_calls[1].code, 0x12345u); // texts pass their code unchanged

    g_calls.clear();
    Common::TraceText(Common::TRACE_DEBUG, 7, 1, u"below the threshold");
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(TraceDispatch, AssertionEventTextIsWidenedByteByByte)
{
    m_registry.callbacks = {{TextCallback, nullptr, nullptr, nullptr}};
    Install();
    Common::TraceAssertionEvent(5, 0, 27, "caf\xE9 \xC3\xA9");
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].text, std::u16string(u"caf\u00E9 \u00C3\u00A9"));
}

// The first call the callback receives from a failed assertion.
bool AssertionScenario()
{
    Common::TraceRegistry registry;
    registry.callbacks = {{TextCallback, nullptr, nullptr, nullptr}};
    Common::Detail::SetTraceRegistryForTesting(&registry);
    const int result = Common::ReportAssertion("x", "f", 7);
    Common::Detail::SetTraceRegistryForTesting(nullptr);
    if (result != 1 || g_calls.empty())
        return false;
    const Call& call = g_calls[0];
    return call.level == 5 && call.facility == 0 && call.code == 27 &&
        call.text == u"Assertion failed: x, file f, line 7";
}

// The assertion policy is read once per process: run in a re-executed child.
TEST(TraceAssertion, FailedAssertionReachesTheCallbackUnderTheDefaultPolicy)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const Testing::ScopedEnvironmentVariable defaultPolicy("QUORVAN_SAFE_ASSERT", Testing::kUnset);
    EXPECT_EXIT(std::exit(AssertionScenario() ? 0 : 1), ::testing::ExitedWithCode(0),
                "Assertion failed: x, file f, line 7");
}

} // namespace
