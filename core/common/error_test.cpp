#include "core/common/error.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <thread>
#include <typeinfo>
#include <vector>

#include "core/common/message_catalogue.h"

namespace {

constexpr Common::SourceFile kSource("core/common/error_test");

int64_t CountOf(const Common::Error& error)
{
    return error.GetRecord()->count;
}

// Makes every record allocation fail while alive.
struct FailingAllocations
{
    FailingAllocations()
    {
        Common::Detail::SetRecordAllocatorForTesting([](size_t) -> unsigned char* { return nullptr; });
    }
    ~FailingAllocations() { Common::Detail::SetRecordAllocatorForTesting(nullptr); }
};

TEST(ErrorValue, CodeZeroIsSuccessWithoutRecordAndIgnoresTheText)
{
    const auto* bogus = reinterpret_cast<const char16_t*>(uintptr_t{8});
    const Common::Error wide(0, bogus, kSource.At("F", 1));
    const Common::Error narrow(0, reinterpret_cast<const char*>(uintptr_t{8}), kSource.At("F", 1));
    const Common::Error plain(0, kSource.At("F", 1));
    for (const Common::Error* error : {&wide, &narrow, &plain, &Common::Success}) {
        EXPECT_EQ(error->GetRecord(), nullptr);
        EXPECT_TRUE(error->IsSuccess());
        EXPECT_EQ(error->GetCode(), 0u);
        EXPECT_EQ(error->GetText(), u"");
        EXPECT_EQ(error->GetCause().GetRecord(), nullptr);
    }
}

TEST(ErrorValue, KeepsCodeLocationAndText)
{
    const Common::Location at = kSource.At("IOCTL", 28);
    Common::Error error(0x4000E, u"The operation is not supported.", at);
    EXPECT_FALSE(error.IsSuccess());
    EXPECT_EQ(error.GetCode(), 0x4000Eu);
    EXPECT_EQ(error.GetText(), u"The operation is not supported.");
    EXPECT_EQ(error.GetLocation().LineTag, kSource.base + 28);
    EXPECT_STREQ(error.GetLocation().file, "core/common/error_test");
    EXPECT_STREQ(error.GetLocation().function, "IOCTL");
    EXPECT_EQ(error.GetLocation().line, 28u);
    EXPECT_EQ(CountOf(error), 1);
}

TEST(ErrorValue, CatalogueTextIsHeldByReferenceOtherTextIsCopied)
{
    const char16_t* catalogued = Common::GetMessageText(26);
    ASSERT_TRUE(Common::IsInActiveCatalogue(catalogued));
    Common::Error byReference(0x10, catalogued, kSource.At("F", 1));
    const auto* record = reinterpret_cast<const Common::TextErrorRecord*>(byReference.GetRecord());
    EXPECT_EQ(record->text, reinterpret_cast<uintptr_t>(catalogued));
    EXPECT_EQ(record->header.size, sizeof(Common::TextErrorRecord));

    auto heap = std::make_unique<char16_t[]>(8);
    std::memcpy(heap.get(), u"Success", 8 * sizeof(char16_t));
    Common::Error copied(0x10, heap.get(), kSource.At("F", 1));
    heap.reset(); // the caller may free its text at once
    const auto* copy = reinterpret_cast<const Common::TextErrorRecord*>(copied.GetRecord());
    EXPECT_EQ(copy->text, sizeof(Common::TextErrorRecord));
    EXPECT_EQ(copy->header.size, sizeof(Common::TextErrorRecord) + 8 * sizeof(char16_t));
    EXPECT_EQ(copied.GetText(), u"Success");
}

TEST(ErrorValue, NarrowTextWidensBytesWithoutDecoding)
{
    Common::Error error(0x10, "caf\xE9 \xC3\xA9", kSource.At("F", 1));
    EXPECT_EQ(error.GetText(), std::u16string(u"caf\u00E9 \u00C3\u00A9"));
    Common::Error none(0x10, static_cast<const char*>(nullptr), kSource.At("F", 1));
    EXPECT_EQ(none.GetText(), u"");
    EXPECT_EQ(none.GetCode(), 0x10u);
}

TEST(ErrorValue, ModuleParameterMatchesOnlyTheWholeName)
{
    Common::Error error(0x10, u"x", kSource.At("F", 1));
    EXPECT_STREQ(error.GetTextParameter("$module"), "objpatcher_lxa64_43043");
    EXPECT_EQ(error.GetTextParameter("$modul"), nullptr);
    EXPECT_EQ(error.GetTextParameter("$modules"), nullptr);
    EXPECT_EQ(error.GetWideTextParameter("$module"), nullptr);
    EXPECT_EQ(error.GetIntegerParameter("$module"), 0u);
    EXPECT_STREQ(error.GetParameterNames(), "$module");
}

TEST(ErrorValue, CopiesShareTheRecordAndAssignmentIsSafe)
{
    Common::Error error(0x10, u"x", kSource.At("F", 1));
    {
        Common::Error copy = error;
        EXPECT_EQ(copy.GetRecord(), error.GetRecord());
        EXPECT_EQ(CountOf(error), 2);
        copy = copy;
        EXPECT_EQ(CountOf(error), 2);
        copy = Common::Success;
        EXPECT_EQ(CountOf(error), 1);
        copy = error;
        Common::Error moved = std::move(copy);
        EXPECT_EQ(CountOf(error), 2);
    }
    EXPECT_EQ(CountOf(error), 1);
}

TEST(ErrorPosixCause, OnACopyLeavesTheOriginalUntouched)
{
    Common::Error original(0x4000E, u"The operation is not supported.", kSource.At("IOCTL", 28));
    Common::Error first(0x20, u"first cause", kSource.At("F", 2));
    original.AddCause(first);
    Common::Error copy = original;
    copy.AddPosixError(2);

    EXPECT_NE(copy.GetRecord(), original.GetRecord());
    EXPECT_EQ(original.GetCause().GetCode(), 0x20u);
    EXPECT_EQ(original.GetText(), u"The operation is not supported.");
    EXPECT_EQ(CountOf(original), 1);

    EXPECT_EQ(copy.GetCode(), 0x4000Eu);
    EXPECT_EQ(copy.GetText(), u"The operation is not supported.");
    const Common::Error cause = copy.GetCause();
    EXPECT_EQ(cause.GetCode(), 0xFFF1u);
    EXPECT_EQ(cause.GetIntegerParameter("code"), 2u);
    EXPECT_STREQ(cause.GetParameterNames(), "code,$module");
    EXPECT_STREQ(cause.GetTextParameter("$module"), "objpatcher_lxa64_43043");
    EXPECT_EQ(cause.GetText(), u"No such file or directory");
    EXPECT_STREQ(cause.GetLocation().function, "AddPosixError");
    EXPECT_STREQ(cause.GetLocation().file, "core/common/error");
    EXPECT_EQ(cause.GetCause().GetRecord(), nullptr);
}

TEST(ErrorPosixCause, OnASingleHolderReplacesEveryEarlierCause)
{
    Common::Error error(0x30, u"top", kSource.At("F", 1));
    Common::Error deep(0x21, u"deep", kSource.At("F", 2));
    Common::Error middle(0x20, u"middle", kSource.At("F", 3));
    middle.AddCause(deep);
    error.AddCause(middle);
    const Common::ErrorRecord* first = error.GetRecord();

    error.AddPosixErrorAt(13, kSource.At("Caller", 77));
    EXPECT_EQ(error.GetRecord(), first);
    EXPECT_EQ(error.GetCause().GetCode(), 0xFFF1u);
    EXPECT_EQ(error.GetCause().GetIntegerParameter("code"), 13u);
    EXPECT_STREQ(error.GetCause().GetLocation().function, "Caller");
    EXPECT_EQ(error.GetCause().GetCause().GetRecord(), nullptr);
    // The earlier causes live on only where still held.
    EXPECT_EQ(middle.GetCause().GetCode(), 0x21u);
}

TEST(ErrorPosixCause, OnSuccessBecomesTheFirstRecord)
{
    Common::Error error;
    error.AddPosixError(2);
    EXPECT_EQ(error.GetCode(), 0xFFF1u);
    EXPECT_EQ(error.GetIntegerParameter("code"), 2u);
    EXPECT_STREQ(error.GetParameterNames(), "code,$module");
    EXPECT_EQ(CountOf(error), 1);
    // A POSIX record clones at its fixed size, keeping errno.
    Common::Error copy = error;
    copy.AddCause(Common::Error(0x5, kSource.At("F", 1)));
    EXPECT_EQ(copy.GetIntegerParameter("code"), 2u);
    EXPECT_EQ(copy.GetCause().GetCode(), 5u);
    EXPECT_EQ(error.GetCause().GetRecord(), nullptr);
}

TEST(ErrorPosixCause, ASuccessCauseAddsNothing)
{
    Common::Error error(0x30, u"top", kSource.At("F", 1));
    error.AddPosixError(4);
    error.AddCause(Common::Success);
    EXPECT_EQ(error.GetCause().GetCode(), 0xFFF1u);
}

TEST(ErrorOutOfMemory, FailedAllocationsGiveTheStaticRecord)
{
    Common::ErrorRecord* oom = Common::GetOutOfMemoryErrorRecord();
    EXPECT_EQ(oom->code, 0xFFF2u);
    EXPECT_EQ(oom->size, sizeof(Common::ErrorRecord));
    const int64_t before = oom->count;
    {
        FailingAllocations failing;
        Common::Error wide(0x10, u"text", kSource.At("F", 1));
        Common::Error narrow(0x10, "text", kSource.At("F", 1));
        Common::Error plain(0x10, kSource.At("F", 1));
        Common::Error traced = Common::MakeTraceLevelError(0x10, u"text", kSource.At("F", 1));
        for (const Common::Error* error : {&wide, &narrow, &plain, &traced}) {
            EXPECT_EQ(error->GetRecord(), oom);
            EXPECT_EQ(error->GetCode(), 0xFFF2u);
            EXPECT_EQ(error->GetText(), u"");
            EXPECT_EQ(error->GetLocation().LineTag, 0u);
        }
        for (int i = 0; i < 100000; ++i) {
            Common::Error copy = wide;
            Common::Error other(copy);
        }
        EXPECT_EQ(oom->count, before + 4);
    }
    EXPECT_EQ(oom->count, before);
}

TEST(ErrorOutOfMemory, PosixCauseFallsBackToTheStaticRecordAndFailedCloneChangesNothing)
{
    Common::Error single(0x30, u"top", kSource.At("F", 1));
    Common::Error shared = single;
    {
        FailingAllocations failing;
        Common::Error fresh;
        fresh.AddPosixError(2);
        EXPECT_EQ(fresh.GetCode(), 0xFFF2u);
        shared.AddPosixError(2); // the clone fails: nothing changes
    }
    EXPECT_EQ(shared.GetRecord(), single.GetRecord());
    EXPECT_EQ(shared.GetCause().GetRecord(), nullptr);
}

TEST(ErrorTraceLevel, CarriesLevelOneAndItsParameterList)
{
    Common::Error error = Common::MakeTraceLevelError(0xFA0001, u"traced text", kSource.At("F", 9));
    EXPECT_EQ(error.GetCode(), 0xFA0001u);
    EXPECT_EQ(error.GetText(), u"traced text");
    EXPECT_EQ(error.GetIntegerParameter("TraceLevel"), 1u);
    EXPECT_EQ(error.GetIntegerParameter("TraceLeve"), 0u);
    EXPECT_STREQ(error.GetParameterNames(), "TraceLevel,$module");
    EXPECT_STREQ(error.GetTextParameter("$module"), "objpatcher_lxa64_43043");
    Common::Error copy = error;
    copy.AddPosixError(2);
    EXPECT_EQ(copy.GetText(), u"traced text");
    EXPECT_EQ(copy.GetIntegerParameter("TraceLevel"), 1u);
    EXPECT_TRUE(Common::MakeTraceLevelError(0, u"x", kSource.At("F", 9)).IsSuccess());
}

TEST(ErrorThrow, IsCaughtAsCommonErrorSharingTheRecords)
{
    Common::Error error(0x10, u"thrown", kSource.At("F", 1));
    try {
        Common::ThrowError(error);
        FAIL() << "no exception";
    } catch (const Common::Error& caught) {
        EXPECT_EQ(caught.GetRecord(), error.GetRecord());
        EXPECT_EQ(typeid(caught), typeid(Common::Error));
    }
    EXPECT_EQ(CountOf(error), 1);
}

TEST(ErrorThreads, SharedChainIsCopiedExtendedAndReleasedOnManyThreads)
{
    Common::Error original(0x4000E, u"shared top", kSource.At("F", 1));
    original.AddCause(Common::Error(0x20, u"shared cause", kSource.At("F", 2)));
    const Common::ErrorRecord* top = original.GetRecord();
    const Common::ErrorRecord* cause = top->next;

    constexpr int kThreads = 8;
    std::vector<int> wrong(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&original, &wrong, t] {
            for (int i = 0; i < 500; ++i) {
                Common::Error copy = original;
                Common::Error chained = copy.GetCause();
                copy.AddPosixError(t + 1); // shared first record: cloned, never changed
                if (copy.GetText() != u"shared top" || copy.GetCause().GetIntegerParameter("code") != uint64_t(t + 1) ||
                    chained.GetText() != u"shared cause")
                    ++wrong[t];
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(wrong[t], 0) << t;
    EXPECT_EQ(original.GetRecord(), top);
    EXPECT_EQ(top->next, cause);
    EXPECT_EQ(top->count, 1);
    EXPECT_EQ(cause->count, 1);
}

TEST(ErrorLocation, BaseIsFixedPerFileAndDiffersBetweenFiles)
{
    constexpr Common::SourceFile a("core/file/unix/posix_file");
    constexpr Common::SourceFile b("core/file/unix/posix_dir");
    constexpr Common::SourceFile published("enterprise/serialize/xml_serializer", 0x7e90832cff0290f3);
    static_assert(a.At("f", 1).LineTag + 1 == a.At("g", 2).LineTag);
    EXPECT_NE(a.base, b.base);
    EXPECT_EQ(published.At("F", 10).LineTag, 0x7e90832cff0290f3ull + 10);
}

} // namespace
