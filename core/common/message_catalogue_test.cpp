#include "core/common/message_catalogue.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "core/common/catalogue_block.h"
#include "core/common/error.h"
#include "platform/resource/resource_api.h"
#include "testing/scoped_environment.h"
#include "testing/temporary_folder.h"

namespace {

constexpr Common::SourceFile kSource("core/common/message_catalogue_test");

// The catalogue state is process-wide and read once, so each scenario runs in a
// fresh child process (a re-executed test binary) and reports what failed.
#define EXPECT_IN_CHILD(scenario)                                             \
    do {                                                                      \
        GTEST_FLAG_SET(death_test_style, "threadsafe");                       \
        EXPECT_EXIT(RunScenario(scenario), ::testing::ExitedWithCode(0), ""); \
    } while (0)

#define CHECK_THAT(condition)                                                                             \
    do {                                                                                                  \
        if (!(condition))                                                                                 \
            failures.append(#condition).append(" (line ").append(std::to_string(__LINE__)).append(")\n"); \
    } while (0)

// Runs in the re-executed child and ends it: the variables stay set for its
// exit actions.
[[noreturn]] void RunScenario(std::string (*scenario)())
{
    const Testing::ScopedEnvironmentVariable noLanguage("LC_ALL", Testing::kUnset);
    const Testing::ScopedEnvironmentVariable noMessageLanguage("LC_MESSAGES", Testing::kUnset);
    const Testing::ScopedEnvironmentVariable noLang("LANG", Testing::kUnset);
    const Testing::ScopedEnvironmentVariable catalogues("RESOURCEAPI_ROOT", OBJPATCHER_TEST_CATALOGUES);
    const std::string failures = scenario();
    std::fputs(failures.c_str(), stderr);
    std::exit(failures.empty() ? 0 : 1); // runs the exit actions too
}

uint32_t Word(const unsigned char* block, size_t offset)
{
    uint32_t word;
    std::memcpy(&word, block + offset, 4);
    return word;
}

bool InBuiltIn(const void* text)
{
    const auto* at = static_cast<const unsigned char*>(text);
    return at >= Common::Detail::kBuiltInCatalogueBlock &&
        at < Common::Detail::kBuiltInCatalogueBlock + Common::Detail::kBuiltInCatalogueSize;
}

std::string BuiltInBeforeAnyLanguageEvent()
{
    std::string failures;
    const unsigned char* block = Common::Detail::kBuiltInCatalogueBlock;
    errno = 1234;
    const char16_t* success = Common::GetMessageText(26);
    CHECK_THAT(errno == 1234);
    CHECK_THAT(std::u16string(success) == u"Success");
    CHECK_THAT(InBuiltIn(success));
    CHECK_THAT(reinterpret_cast<uintptr_t>(block) % 4 == 0);
    CHECK_THAT(Word(block, 0) == Common::Detail::kBuiltInCatalogueSize);
    CHECK_THAT(Word(block, 4) == 681);
    CHECK_THAT(Common::IsValidCatalogueBlock(block, Common::Detail::kBuiltInCatalogueSize));
    for (unsigned key = 0; key < 676; ++key)
        CHECK_THAT(InBuiltIn(Common::GetMessageText(key)));
    CHECK_THAT(std::u16string(Common::GetMessageText(22)) == u"Error");
    CHECK_THAT(std::u16string(Common::GetMessageText(0)).empty());
    CHECK_THAT(std::u16string(Common::GetMessageText(676)).empty());
    CHECK_THAT(std::u16string(Common::GetMessageText(0xFFFFFFFF)).empty());
    return failures;
}

std::string SubscribesUntilTheHandlerHasRun()
{
    std::string failures;
    const unsigned start = ResourceApi::SubscribeCallsForTesting();
    Common::GetMessageText(22);
    Common::GetMessageText(23);
    CHECK_THAT(ResourceApi::SubscribeCallsForTesting() == start + 2);
    ResourceApi::SetLanguageForTesting("");
    const unsigned after = ResourceApi::SubscribeCallsForTesting();
    errno = 77;
    Common::GetMessageText(22);
    CHECK_THAT(errno == 77);
    CHECK_THAT(ResourceApi::SubscribeCallsForTesting() == after);
    return failures;
}

std::string TranslationFollowsLanguageAndRecordsKeepTheirText()
{
    std::string failures;
    Common::Error before(0x10, Common::GetMessageText(22), kSource.At("F", 1));
    ResourceApi::SetLanguageForTesting("de");
    CHECK_THAT(std::u16string(Common::GetMessageText(22)) == u"Fehler");
    CHECK_THAT(std::u16string(Common::GetMessageText(26)) == u"Success");
    CHECK_THAT(!InBuiltIn(Common::GetMessageText(22)));
    CHECK_THAT(before.GetText() == u"Error");
    Common::Error during(0x10, Common::GetMessageText(22), kSource.At("F", 2));
    CHECK_THAT(reinterpret_cast<const Common::TextErrorRecord*>(during.GetRecord())->text ==
               reinterpret_cast<uintptr_t>(Common::GetMessageText(22)));
    ResourceApi::SetLanguageForTesting("en"); // no such folder: the root's empty file
    CHECK_THAT(std::u16string(Common::GetMessageText(22)) == u"Error");
    CHECK_THAT(InBuiltIn(Common::GetMessageText(22)));
    CHECK_THAT(during.GetText() == u"Fehler");
    CHECK_THAT(before.GetText() == u"Error");
    return failures;
}

std::vector<unsigned char> GermanBlock()
{
    std::ifstream in(std::string(OBJPATCHER_TEST_CATALOGUES) + "/de/objpatcher.msg", std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void PutWord(std::vector<unsigned char>& block, size_t offset, uint32_t word)
{
    std::memcpy(block.data() + offset, &word, 4);
}

std::string MalformedBlocksLeaveEnglishActive()
{
    std::string failures;
    const std::vector<unsigned char> good = GermanBlock();
    CHECK_THAT(good.size() > 2712);
    std::vector<std::vector<unsigned char>> bad;
    bad.push_back({}); // empty file: null block
    bad.push_back(std::vector<unsigned char>(good.begin(), good.begin() + 7));
    bad.push_back(good);
    PutWord(bad.back(), 0, static_cast<uint32_t>(good.size() + 2)); // size word differs
    bad.push_back(good);
    PutWord(bad.back(), 4, 680); // foreign stamp
    bad.push_back(std::vector<unsigned char>(good.begin(), good.begin() + 100));
    PutWord(bad.back(), 0, 100); // shorter than its slots
    bad.push_back(good);
    PutWord(bad.back(), 8 + 4 * 22, 0x7FFFFFF0); // slot outside
    bad.push_back(good);
    PutWord(bad.back(), 8 + 4 * 22, Word(good.data(), 8 + 4 * 22) + 1); // odd text start
    bad.push_back(std::vector<unsigned char>(good.begin(), good.end() - 2));
    PutWord(bad.back(), 0, static_cast<uint32_t>(good.size() - 2)); // last text unterminated

    const Testing::TemporaryFolder folder("catalogues");
    const std::string& root = folder.Path();
    const Testing::ScopedEnvironmentVariable catalogues("RESOURCEAPI_ROOT", root.c_str());
    std::filesystem::create_directories(root + "/de");
    std::ofstream(root + "/de/objpatcher.msg", std::ios::binary)
        .write(reinterpret_cast<const char*>(good.data()), static_cast<std::streamsize>(good.size()));
    for (size_t i = 0; i < bad.size(); ++i) {
        ResourceApi::SetLanguageForTesting("de");
        CHECK_THAT(std::u16string(Common::GetMessageText(22)) == u"Fehler");
        const std::string language = "bad" + std::to_string(i);
        std::filesystem::create_directories(root + "/" + language);
        std::ofstream(root + "/" + language + "/objpatcher.msg", std::ios::binary)
            .write(reinterpret_cast<const char*>(bad[i].data()), static_cast<std::streamsize>(bad[i].size()));
        CHECK_THAT(!Common::IsValidCatalogueBlock(bad[i].data(), static_cast<unsigned>(bad[i].size())) ||
                   Word(bad[i].data(), 0) != bad[i].size());
        ResourceApi::SetLanguageForTesting(language);
        if (std::u16string(Common::GetMessageText(22)) != u"Error")
            failures += "block " + std::to_string(i) + " was accepted\n";
        CHECK_THAT(InBuiltIn(Common::GetMessageText(22)));
    }
    return failures;
}

// A block whose every slot points at `textStart` (counted from the block's
// start), with `size` bytes in all: the texts area is filled with 'x' units.
std::vector<unsigned char> BlockWithSharedText(size_t size, size_t textStart)
{
    std::vector<unsigned char> block(size, 'x');
    PutWord(block, 0, static_cast<uint32_t>(size));
    PutWord(block, 4, Common::kCatalogueStamp);
    for (uint32_t key = 0; key < Common::kCatalogueSlots; ++key)
        PutWord(block, 8 + 4 * key, static_cast<uint32_t>(textStart - (8 + 4 * key)));
    return block;
}

bool Valid(const std::vector<unsigned char>& block)
{
    return Common::IsValidCatalogueBlock(block.data(), static_cast<unsigned>(block.size()));
}

TEST(MessageCatalogueBlock, TextsMustEndInsideTheBlock)
{
    constexpr size_t kTexts = 8 + 4 * Common::kCatalogueSlots;
    struct Case
    {
        const char* what;
        size_t size;
        size_t textStart;
        std::vector<size_t> zeroUnits; // offsets of 0 units
        bool valid;
    };
    const Case cases[] = {
        {"terminator at the end", kTexts + 8, kTexts, {kTexts + 6}, true},
        {"terminator right at the start", kTexts + 2, kTexts, {kTexts}, true},
        {"no terminator", kTexts + 8, kTexts, {}, false},
        {"terminator only before the text", kTexts + 8, kTexts + 4, {kTexts}, false},
        {"a zero unit cut by the end of an odd-sized block", kTexts + 7, kTexts, {}, false},
        {"zero bytes across two units do not end a text", kTexts + 8, kTexts, {kTexts + 1}, false},
        {"text starting at the very end", kTexts + 8, kTexts + 8, {kTexts + 6}, false},
        {"odd text start", kTexts + 9, kTexts + 1, {kTexts + 6}, false},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> block = BlockWithSharedText(c.size, c.textStart);
        for (size_t at : c.zeroUnits)
            block[at] = block[at + 1] = 0;
        EXPECT_EQ(Valid(block), c.valid) << c.what;
    }
}

TEST(MessageCatalogueBlock, CheckIsLinearInTheBlockSize)
{
    // 100 MiB whose 676 texts all start at the first one and end at the last
    // unit: one scan per slot would read 676 times the block.
    constexpr size_t kSize = size_t{100} << 20;
    std::vector<unsigned char> block = BlockWithSharedText(kSize, 8 + 4 * Common::kCatalogueSlots);
    block[kSize - 2] = block[kSize - 1] = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(Valid(block));
    block[kSize - 1] = 1;
    EXPECT_FALSE(Valid(block));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST(MessageCatalogue, BuiltInBeforeAnyLanguageEvent)
{
    EXPECT_IN_CHILD(&BuiltInBeforeAnyLanguageEvent);
}

TEST(MessageCatalogue, SubscribesUntilTheHandlerHasRunAndKeepsErrno)
{
    EXPECT_IN_CHILD(&SubscribesUntilTheHandlerHasRun);
}

TEST(MessageCatalogue, TranslationFollowsLanguageAndRecordsKeepTheirText)
{
    EXPECT_IN_CHILD(&TranslationFollowsLanguageAndRecordsKeepTheirText);
}

TEST(MessageCatalogue, MalformedBlocksLeaveEnglishActive)
{
    EXPECT_IN_CHILD(&MalformedBlocksLeaveEnglishActive);
}

std::string ConcurrentLanguageEvents()
{
    std::string failures;
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < 50; ++i) {
                ResourceApi::SetLanguageForTesting((i + t) % 2 ? "de" : "en");
                const std::u16string text = Common::GetMessageText(22);
                if (text != u"Error" && text != u"Fehler")
                    ++wrong;
            }
        });
    for (auto& thread : threads)
        thread.join();
    CHECK_THAT(wrong == 0);
    return failures;
}

TEST(MessageCatalogueThreads, LanguageEventsOnSeveralThreadsLoadOneAtATime)
{
    EXPECT_IN_CHILD(&ConcurrentLanguageEvents);
}

std::string ResourceModuleFromManyThreads()
{
    std::string failures;
    constexpr int kThreads = 8;
    std::vector<ResourceApi::ModuleHandle*> seen(kThreads, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &seen] { seen[t] = Common::GetResourceModule(); });
    for (auto& thread : threads)
        thread.join();
    ResourceApi::ModuleHandle* published = seen[0];
    CHECK_THAT(published != nullptr);
    for (ResourceApi::ModuleHandle* handle : seen)
        CHECK_THAT(handle == published);
    // The module opened without a name only prompts the library; it is not kept.
    CHECK_THAT(published != ResourceApi::OpenModule(nullptr));
    CHECK_THAT(Common::GetResourceModule() == published);
    unsigned size = 0;
    std::unique_ptr<unsigned char[]> english(Common::LoadResourceFile("objpatcher.msg", &size));
    CHECK_THAT(english == nullptr); // the root's English file is empty
    Common::CloseResourceModule();
    CHECK_THAT(Common::GetResourceModule() != nullptr);
    return failures;
}

TEST(MessageCatalogueThreads, ResourceModuleIsPublishedOnce)
{
    EXPECT_IN_CHILD(&ResourceModuleFromManyThreads);
}

} // namespace
