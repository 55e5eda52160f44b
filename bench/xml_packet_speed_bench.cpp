// Speed of the XML packet path, each of our operations beside a well-known
// peer doing the same work in the same process, over the sample packet of
// 2,000 composite values (bench/sample_packet.h):
//
//   LoadXmlDocument      load_xml_document + free     | PugixmlParse: parse into its tree
//   TokenizeXml          the text tokenizer alone, every token of the packet
//                        (the part of the load before any tree is built)
//   DeserializePacket    deserializer reads 2,000 values | PugixmlParseWalkConvert: parse,
//                        walk and convert every value
//   WritePacket          packet serializer writes them | PugixmlSave: save of a ready tree
//   Utf8ToUtf16, Utf16ToUtf8 (mixed and ASCII text)     | ICU u_strFromUTF8 / u_strToUTF8
//
// Ratios are our throughput over the peer's; run the binary pinned to few
// cores with --benchmark_repetitions for medians. The heap is told to keep
// freed memory, so that no side pays for fresh pages because of the order
// in which the benchmarks run.
#include <benchmark/benchmark.h>

#include <pugixml.hpp>
#include <unicode/ustring.h>

#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/sample_packet.h"
#include "core/common/text_conversion.h"
#include "core/file/buf_ifile.h"
#include "core/xml/xml_document.h"
#include "core/xml/xml_text_tokenizer.h"
#include "enterprise/serialize/xml_packet_deserializer.h"
#include "enterprise/serialize/xml_packet_serializer.h"

namespace {

const std::vector<unsigned char>& Packet()
{
    static const std::vector<unsigned char> packet = Bench::BuildSamplePacket(Bench::kSampleRecordCount);
    return packet;
}

void CountPacket(benchmark::State& state)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Packet().size()));
}

// ---- document load ----------------------------------------------------------

void BM_LoadXmlDocument(benchmark::State& state)
{
    const std::vector<unsigned char>& packet = Packet();
    for (auto _ : state) {
        buf_ifile<char> source(reinterpret_cast<const char*>(packet.data()), packet.size());
        xml_tag* root = nullptr;
        int32_t line = 0;
        int32_t column = 0;
        if (!load_xml_document(root, source, line, column)) {
            state.SkipWithError("the sample packet did not load");
            break;
        }
        benchmark::DoNotOptimize(root);
        free_xml_tag(root);
        delete root;
    }
    CountPacket(state);
}
BENCHMARK(BM_LoadXmlDocument)->Unit(benchmark::kMicrosecond);

void BM_TokenizeXml(benchmark::State& state)
{
    const std::vector<unsigned char>& packet = Packet();
    xml_text_tokenizer tokenizer;
    for (auto _ : state) {
        buf_ifile<char> source(reinterpret_cast<const char*>(packet.data()), packet.size());
        size_t tokens = 0;
        for (tokenizer.start(&source); tokenizer.token() != xml_text_tokenizer::token_end; tokenizer.advance()) {
            if (tokenizer.token() == xml_text_tokenizer::token_error) {
                state.SkipWithError("the sample packet did not tokenize");
                break;
            }
            ++tokens;
        }
        benchmark::DoNotOptimize(tokens);
    }
    CountPacket(state);
}
BENCHMARK(BM_TokenizeXml)->Unit(benchmark::kMicrosecond);

void BM_PugixmlParse(benchmark::State& state)
{
    const std::vector<unsigned char>& packet = Packet();
    for (auto _ : state) {
        pugi::xml_document document;
        if (!document.load_buffer(packet.data(), packet.size())) {
            state.SkipWithError("the sample packet did not parse");
            break;
        }
        benchmark::DoNotOptimize(document.first_child());
    }
    CountPacket(state);
}
BENCHMARK(BM_PugixmlParse)->Unit(benchmark::kMicrosecond);

// ---- packet read --------------------------------------------------------------

void BM_DeserializePacket(benchmark::State& state)
{
    const std::vector<unsigned char>& packet = Packet();
    std::vector<Bench::SampleRecord> records;
    for (auto _ : state) {
        Serialization::XMLPacketDeserializer deserializer(packet.data(), packet.size(), 0);
        Bench::ReadSamplePacket(deserializer, records);
        benchmark::DoNotOptimize(records.data());
    }
    if (records.size() != Bench::kSampleRecordCount)
        state.SkipWithError("the sample packet did not read back");
    CountPacket(state);
}
BENCHMARK(BM_DeserializePacket)->Unit(benchmark::kMicrosecond);

// The peer's conversions: the C library's number readers, ICU for text, and a
// plain table-driven GUID and Base64 reader.
uint64_t HexNumber(const char* text, int digits)
{
    static const auto table = [] {
        std::vector<uint8_t> values(256, 0);
        const char* lower = "0123456789abcdef";
        const char* upper = "0123456789ABCDEF";
        for (uint8_t i = 0; i < 16; ++i) {
            values[static_cast<unsigned char>(lower[i])] = i;
            values[static_cast<unsigned char>(upper[i])] = i;
        }
        return values;
    }();
    uint64_t value = 0;
    for (int i = 0; i < digits; ++i)
        value = value << 4 | table[static_cast<unsigned char>(text[i])];
    return value;
}

void PeerGuid(const char* text, Common::Guid& guid)
{
    if (std::strlen(text) < Common::kGuidTextLength)
        return;
    guid.first = static_cast<uint32_t>(HexNumber(text, 8));
    guid.second = static_cast<uint16_t>(HexNumber(text + 9, 4));
    guid.third = static_cast<uint16_t>(HexNumber(text + 14, 4));
    guid.last[0] = static_cast<uint8_t>(HexNumber(text + 19, 2));
    guid.last[1] = static_cast<uint8_t>(HexNumber(text + 21, 2));
    for (int i = 0; i < 6; ++i)
        guid.last[2 + i] = static_cast<uint8_t>(HexNumber(text + 24 + 2 * i, 2));
}

void PeerBase64(const char* text, std::vector<unsigned char>& out)
{
    static const auto table = [] {
        std::vector<int> values(256, -1);
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i)
            values[static_cast<unsigned char>(alphabet[i])] = i;
        return values;
    }();
    out.clear();
    uint32_t group = 0;
    int count = 0;
    for (const char* p = text; *p != '\0' && *p != '='; ++p) {
        const int value = table[static_cast<unsigned char>(*p)];
        if (value < 0)
            continue;
        group = group << 6 | static_cast<uint32_t>(value);
        if (++count == 4) {
            out.push_back(static_cast<unsigned char>(group >> 16));
            out.push_back(static_cast<unsigned char>(group >> 8));
            out.push_back(static_cast<unsigned char>(group));
            group = 0;
            count = 0;
        }
    }
    if (count == 2)
        out.push_back(static_cast<unsigned char>(group >> 4));
    if (count == 3) {
        out.push_back(static_cast<unsigned char>(group >> 10));
        out.push_back(static_cast<unsigned char>(group >> 2));
    }
}

void PeerText(const char* utf8, std::u16string& out)
{
    const int32_t length = static_cast<int32_t>(std::strlen(utf8));
    out.resize(static_cast<size_t>(length));
    UErrorCode status = U_ZERO_ERROR;
    int32_t written = 0;
    u_strFromUTF8(out.data(), length, &written, utf8, length, &status);
    out.resize(static_cast<size_t>(written));
}

void BM_PugixmlParseWalkConvert(benchmark::State& state)
{
    const std::vector<unsigned char>& packet = Packet();
    std::vector<Bench::SampleRecord> records;
    for (auto _ : state) {
        pugi::xml_document document;
        if (!document.load_buffer(packet.data(), packet.size())) {
            state.SkipWithError("the sample packet did not parse");
            break;
        }
        records.clear();
        const pugi::xml_node vector = document.child("XML_SERIALIZER").child("records").child("vector");
        for (pugi::xml_node item = vector.child("item"); item; item = item.next_sibling("item")) {
            records.emplace_back();
            Bench::SampleRecord& r = records.back();
            PeerGuid(item.child_value("id"), r.id);
            r.name = item.child_value("name");
            PeerText(item.child_value("title"), r.title);
            r.count = static_cast<uint32_t>(std::strtoull(item.child_value("count"), nullptr, 10));
            r.size = std::strtoull(item.child_value("size"), nullptr, 10);
            r.offset = std::strtoll(item.child_value("offset"), nullptr, 10);
            r.ratio = std::strtod(item.child_value("ratio"), nullptr);
            r.enabled = std::strtoull(item.child_value("enabled"), nullptr, 10) != 0;
            PeerBase64(item.child_value("data"), r.data);
        }
        benchmark::DoNotOptimize(records.data());
    }
    if (records.size() != Bench::kSampleRecordCount)
        state.SkipWithError("the sample packet did not walk");
    CountPacket(state);
}
BENCHMARK(BM_PugixmlParseWalkConvert)->Unit(benchmark::kMicrosecond);

// ---- packet write ---------------------------------------------------------------

void BM_WritePacket(benchmark::State& state)
{
    const std::vector<Bench::SampleRecord> records = Bench::MakeSampleRecords(Bench::kSampleRecordCount);
    std::vector<unsigned char> packet;
    for (auto _ : state) {
        Serialization::XMLPacketSerializer serializer(2, 0);
        Bench::WriteSamplePacket(serializer, records);
        serializer.GetData(packet);
        benchmark::DoNotOptimize(packet.data());
    }
    CountPacket(state);
}
BENCHMARK(BM_WritePacket)->Unit(benchmark::kMicrosecond);

struct StringWriter : pugi::xml_writer
{
    std::string text;
    void write(const void* data, size_t size) override { text.append(static_cast<const char*>(data), size); }
};

void BM_PugixmlSave(benchmark::State& state)
{
    const std::vector<unsigned char>& packet = Packet();
    pugi::xml_document document;
    if (!document.load_buffer(packet.data(), packet.size())) {
        state.SkipWithError("the sample packet did not parse");
        return;
    }
    StringWriter writer;
    for (auto _ : state) {
        writer.text.clear();
        document.save(writer, "", pugi::format_raw | pugi::format_write_bom, pugi::encoding_utf8);
        benchmark::DoNotOptimize(writer.text.data());
    }
    CountPacket(state);
}
BENCHMARK(BM_PugixmlSave)->Unit(benchmark::kMicrosecond);

// ---- text conversion ----------------------------------------------------------------

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

std::string MakeUtf8(bool mixed)
{
    const std::u16string text = MakeText(mixed);
    std::string utf8;
    Common::ConvertUtf16ToUtf8(utf8, text.data(), text.size());
    return utf8;
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
    const std::string utf8 = MakeUtf8(mixed);
    std::u16string out;
    for (auto _ : state) {
        Common::ConvertUtf8ToUtf16(out, utf8.data(), utf8.size());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * utf8.size()));
}

void IcuUtf8ToUtf16(benchmark::State& state, bool mixed)
{
    const std::string utf8 = MakeUtf8(mixed);
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

BENCHMARK_CAPTURE(Utf8ToUtf16, mixed, true);
BENCHMARK_CAPTURE(IcuUtf8ToUtf16, mixed, true);
BENCHMARK_CAPTURE(Utf8ToUtf16, ascii, false);
BENCHMARK_CAPTURE(IcuUtf8ToUtf16, ascii, false);
BENCHMARK_CAPTURE(Utf16ToUtf8, mixed, true);
BENCHMARK_CAPTURE(IcuUtf16ToUtf8, mixed, true);
BENCHMARK_CAPTURE(Utf16ToUtf8, ascii, false);
BENCHMARK_CAPTURE(IcuUtf16ToUtf8, ascii, false);

} // namespace

int main(int argc, char** argv)
{
    // The heap keeps what is freed instead of handing it back to the system:
    // otherwise which side pays for fresh pages depends on the order in which
    // the benchmarks run and on what the one before left behind.
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
