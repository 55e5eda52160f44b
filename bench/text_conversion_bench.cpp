// Throughput of the UTF-8 <-> UTF-16 converters on ASCII and on mixed text
// (Latin-1 accents, three-byte units and surrogate pairs), in bytes of UTF-8
// per second, each beside ICU's converter doing the same work into a buffer
// of the right size.
#include <benchmark/benchmark.h>

#include <unicode/ustring.h>

#include <string>
#include <vector>

#include "core/common/text_conversion.h"

namespace {

constexpr size_t kTextUnits = 64 * 1024;

std::u16string MakeText(bool mixed)
{
    const std::u16string piece = mixed ? u"Caf\u00E9 \u20AC10 \U0001F600 na\u00EFve \u4E2D\u6587 text, "
                                       : u"Plain ASCII text of a message, 0123456789. ";
    std::u16string text;
    while (text.size() < kTextUnits)
        text += piece;
    return text;
}

void Utf16ToUtf8(benchmark::State& state, bool mixed)
{
    const std::u16string text = MakeText(mixed);
    std::string out;
    for (auto _ : state) {
        Common::ConvertUtf16ToUtf8(out, text.data(), text.size());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}

void IcuUtf16ToUtf8(benchmark::State& state, bool mixed)
{
    const std::u16string text = MakeText(mixed);
    std::vector<char> out(text.size() * 3 + 1);
    int32_t length = 0;
    for (auto _ : state) {
        UErrorCode status = U_ZERO_ERROR;
        u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &length, text.data(),
                    static_cast<int32_t>(text.size()), &status);
        if (U_FAILURE(status)) {
            state.SkipWithError("u_strToUTF8 failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * static_cast<size_t>(length)));
}

void Utf8ToUtf16(benchmark::State& state, bool mixed)
{
    const std::u16string text = MakeText(mixed);
    std::string utf8;
    Common::ConvertUtf16ToUtf8(utf8, text.data(), text.size());
    std::u16string out;
    for (auto _ : state) {
        Common::ConvertUtf8ToUtf16(out, utf8.data(), utf8.size());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * utf8.size()));
}

void IcuUtf8ToUtf16(benchmark::State& state, bool mixed)
{
    const std::u16string text = MakeText(mixed);
    std::string utf8;
    Common::ConvertUtf16ToUtf8(utf8, text.data(), text.size());
    std::vector<UChar> out(utf8.size() + 1);
    for (auto _ : state) {
        UErrorCode status = U_ZERO_ERROR;
        int32_t length = 0;
        u_strFromUTF8(out.data(), static_cast<int32_t>(out.size()), &length, utf8.data(),
                      static_cast<int32_t>(utf8.size()), &status);
        if (U_FAILURE(status)) {
            state.SkipWithError("u_strFromUTF8 failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * utf8.size()));
}

BENCHMARK_CAPTURE(Utf16ToUtf8, ascii, false);
BENCHMARK_CAPTURE(IcuUtf16ToUtf8, ascii, false);
BENCHMARK_CAPTURE(Utf16ToUtf8, mixed, true);
BENCHMARK_CAPTURE(IcuUtf16ToUtf8, mixed, true);
BENCHMARK_CAPTURE(Utf8ToUtf16, ascii, false);
BENCHMARK_CAPTURE(IcuUtf8ToUtf16, ascii, false);
BENCHMARK_CAPTURE(Utf8ToUtf16, mixed, true);
BENCHMARK_CAPTURE(IcuUtf8ToUtf16, mixed, true);

} // namespace

BENCHMARK_MAIN();
