// Operation descriptions and the safe-run functions.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>

#include "core/common/error.h"
#include "enterprise/common/async/async_test_kit.h"
#include "enterprise/common/async/job_control.h"
#include "enterprise/common/async/operation_description.h"
#include "testing/error_matchers.h"

namespace {

using namespace Testing;
using ::testing::AllOf;
using ::testing::Not;

constexpr Common::SourceFile kTestSource("enterprise/common/async/operation_description_test");

Common::Error Thrown()
{
    return Common::Error(0xFA000D, u"POR: broken", kTestSource.At("Thrown", 12));
}

TEST(SafeRun, ThrownErrorBecomesTheOperationErrorWithTheThrownOneAsCause)
{
    Async::JobControl::PerformExceptionDescription description;
    const Common::Error result = Async::SafeRun([]() -> Common::Error { Common::ThrowError(Thrown()); }, description);
    EXPECT_THAT(result,
                AllOf(ErrorIs(0xF90006), HasText(u"ASYNC: Exception has occurred during operation 'Perform'."),
                      CausedBy(AllOf(ErrorIs(0xFA000D), HasText(u"POR: broken")))));
}

TEST(SafeRun, ReturnsTheFunctionsOwnResult)
{
    Async::JobControl::PerformExceptionDescription description;
    const Common::Error failure = Thrown();
    EXPECT_EQ(Async::SafeRun([&] { return failure; }, description).GetRecord(), failure.GetRecord());
    EXPECT_THAT(Async::SafeRun([] { return Common::Error(); }, description), IsSuccessError());
}

TEST(SafeRun, OtherExceptionsAndAnEmptyFunctionPassThrough)
{
    Async::JobControl::PerformExceptionDescription description;
    EXPECT_THROW((void)Async::SafeRun([]() -> Common::Error { throw std::runtime_error("x"); }, description),
                 std::runtime_error);
    EXPECT_THROW((void)Async::SafeRun([]() -> Common::Error { throw 7; }, description), int);
    EXPECT_THROW((void)Async::SafeRun(std::function<Common::Error()>(), description), std::bad_function_call);
}

TEST(SafeRunAndComplete, CompletesTheHandlerWithTheDescribedError)
{
    Async::JobControl::PerformExceptionDescription description;
    AsyncTest::RecordingHandler handler;
    Async::SafeRunAndComplete([]() -> Common::Error { Common::ThrowError(Thrown()); }, description, handler);
    EXPECT_EQ(handler.calls.load(), 1);
    EXPECT_THAT(handler.Last(), AllOf(ErrorIs(0xF90006), CausedBy(ErrorIs(0xFA000D))));
    EXPECT_THROW(
        Async::SafeRunAndComplete([]() -> Common::Error { throw std::logic_error("x"); }, description, handler),
        std::logic_error);
    EXPECT_EQ(handler.calls.load(), 1);
}

// The job control's two descriptions: every operation's code, text, location
// and record kind.
TEST(JobControlDescriptions, EachOperationHasItsCodeTextAndLocation)
{
    Async::JobControl::PerformExceptionDescription perform;
    Async::JobControl::FinishExceptionDescription finish;
    const std::runtime_error standard("disk \xC3\xA9");
    struct Case
    {
        Common::Error error;
        unsigned code;
        const char16_t* text;
        const char* function;
        uint32_t line;
        uint64_t lineTag;
        bool chained;
    };
    const Case cases[] = {
        {perform.DescribeException(Thrown()), 0xF90006, u"ASYNC: Exception has occurred during operation 'Perform'.",
         "DescribeException", 50, 0x01CE6880AFC17C82, true},
        {perform.DescribeStdException(standard), 0xF90007,
         u"ASYNC: STD exception 'disk \u00E9' has occurred during operation 'Perform'.", "DescribeStdException", 55,
         0x01CE6880AFC17C87, false},
        {perform.DescribeUnknownException(), 0xF90008,
         u"ASYNC: Unknown exception has occurred during operation 'Perform'.", "DescribeUnknownException", 60,
         0x01CE6880AFC17C8C, false},
        {finish.DescribeException(Thrown()), 0xF90006,
         u"ASYNC: Exception has occurred during operation 'Finalize run'.", "DescribeException", 69, 0x01CE6880AFC17C95,
         true},
        {finish.DescribeStdException(standard), 0xF90007,
         u"ASYNC: STD exception 'disk \u00E9' has occurred during operation 'Finalize run'.", "DescribeStdException",
         74, 0x01CE6880AFC17C9A, false},
        {finish.DescribeUnknownException(), 0xF90008,
         u"ASYNC: Unknown exception has occurred during operation 'Finalize run'.", "DescribeUnknownException", 79,
         0x01CE6880AFC17C9F, false},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.line);
        EXPECT_THAT(item.error,
                    AllOf(ErrorIs(item.code), HasText(item.text),
                          RaisedAt("enterprise/common/async/job_control", item.function, item.line),
                          HasLineTag(item.lineTag)));
        EXPECT_EQ(item.error.GetIntegerParameter("TraceLevel"), 1u);
        EXPECT_STREQ(item.error.GetParameterNames(), "TraceLevel,$module");
        if (item.chained)
            EXPECT_THAT(item.error, CausedBy(ErrorIs(0xFA000D)));
        else
            EXPECT_THAT(item.error.GetCause(), IsSuccessError());
    }
}

// A standard exception whose what() is null.
struct NullWhat : std::exception
{
    const char* what() const noexcept override { return nullptr; }
};

TEST(TextDescription, BuildsWithItsCodeTextsAndLocation)
{
    const Common::Location location = kTestSource.At("Work", 32);
    Async::TextDescription description(0xF9000B, u"failed", u"std '{0}' failed", u"unknown failed", location);
    const Common::Error described = description.DescribeException(Thrown());
    EXPECT_THAT(described,
                AllOf(ErrorIs(0xF9000B), HasText(u"failed"), CausedBy(ErrorIs(0xFA000D)),
                      RaisedAt("enterprise/common/async/operation_description_test", "Work", 32)));
    EXPECT_THAT(description.DescribeStdException(std::runtime_error("x")), HasText(u"std 'x' failed"));
    EXPECT_THAT(description.DescribeStdException(NullWhat()), HasText(u"std '' failed"));
    EXPECT_THAT(description.DescribeUnknownException(), AllOf(ErrorIs(0xF9000B), HasText(u"unknown failed")));
}

TEST(TextDescription, EightBitTextsServeWhereTheWideOnesAreMissing)
{
    Async::TextDescription description(0xF9000B, nullptr, nullptr, nullptr, kTestSource.At("Work", 1));
    description.SetNarrowTexts("narrow", "narrow {0}", "narrow unknown");
    EXPECT_THAT(description.DescribeException(Thrown()), HasText(u"narrow"));
    EXPECT_THAT(description.DescribeStdException(std::runtime_error("w")), HasText(u"narrow w"));
    EXPECT_THAT(description.DescribeUnknownException(), HasText(u"narrow unknown"));
}

// A description that fails itself.
class FailingDescription : public Async::OperationDescription
{
public:
    Common::Error DescribeException(const Common::Error&) override { Common::ThrowError(Thrown()); }
    Common::Error DescribeStdException(const std::exception&) override { Common::ThrowError(Thrown()); }
    Common::Error DescribeUnknownException() override { Common::ThrowError(Thrown()); }
};

TEST(SafeOperationDescription, FailingDescriptionGivesTheCaughtErrorOrOutOfMemory)
{
    FailingDescription failing;
    Async::SafeOperationDescription safe(failing);
    const Common::Error caught(0x40001, kTestSource.At("Caught", 3));
    EXPECT_EQ(safe.DescribeException(caught).GetRecord(), caught.GetRecord());
    EXPECT_EQ(safe.DescribeStdException(std::runtime_error("x")).GetRecord(), Common::GetOutOfMemoryErrorRecord());
    EXPECT_EQ(safe.DescribeUnknownException().GetRecord(), Common::GetOutOfMemoryErrorRecord());
    // So a Common::Error always comes out of DescribeCurrentException.
    EXPECT_EQ(Async::SafeRun([&]() -> Common::Error { Common::ThrowError(caught); }, failing).GetRecord(),
              caught.GetRecord());
}

// Describes whatever `thrower` throws with DescribeAnyCurrentException.
Common::Error DescribeWhatIsThrown(Async::OperationDescription& description, const std::function<void()>& thrower)
{
    try {
        thrower();
    } catch (...) {
        return Async::DescribeAnyCurrentException(description);
    }
    return Common::Error();
}

// A description that fails with a foreign exception.
class BadAllocDescription : public Async::OperationDescription
{
public:
    Common::Error DescribeException(const Common::Error&) override { throw std::bad_alloc(); }
    Common::Error DescribeStdException(const std::exception&) override { throw std::bad_alloc(); }
    Common::Error DescribeUnknownException() override { throw std::bad_alloc(); }
};

TEST(DescribeAnyCurrentException, EveryKindOfExceptionGetsItsDescription)
{
    const std::function<void()> throwError = [] { Common::ThrowError(Thrown()); };
    const std::function<void()> throwStd = [] { throw std::runtime_error("bent"); };
    const std::function<void()> throwInt = [] { throw 7; };

    Async::JobControl::PerformExceptionDescription perform;
    EXPECT_THAT(DescribeWhatIsThrown(perform, throwError), AllOf(ErrorIs(0xF90006), CausedBy(ErrorIs(0xFA000D))));
    EXPECT_THAT(
        DescribeWhatIsThrown(perform, throwStd),
        AllOf(ErrorIs(0xF90007), HasText(u"ASYNC: STD exception 'bent' has occurred during operation 'Perform'.")));
    EXPECT_THAT(
        DescribeWhatIsThrown(perform, throwInt),
        AllOf(ErrorIs(0xF90008), HasText(u"ASYNC: Unknown exception has occurred during operation 'Perform'.")));

    // A description that fails: the caught error itself, or out of memory;
    // nothing escapes.
    FailingDescription failing;
    EXPECT_THAT(DescribeWhatIsThrown(failing, throwError), ErrorIs(0xFA000D));
    EXPECT_EQ(DescribeWhatIsThrown(failing, throwInt).GetRecord(), Common::GetOutOfMemoryErrorRecord());
    BadAllocDescription badAlloc;
    for (const auto& thrower : {throwError, throwStd, throwInt})
        EXPECT_EQ(DescribeWhatIsThrown(badAlloc, thrower).GetRecord(), Common::GetOutOfMemoryErrorRecord());
}

} // namespace
