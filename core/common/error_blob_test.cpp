#include "core/common/error_blob.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "core/common/error_text.h"
#include "core/common/message_catalogue.h"
#include "core/common/text_intern.h"

namespace {

constexpr Common::SourceFile kSource("core/common/error_blob_test");

using Bytes = std::vector<unsigned char>;

// Builds blobs byte by byte.
struct BlobBuilder
{
    Bytes bytes{1};

    BlobBuilder& Raw(std::initializer_list<unsigned char> raw)
    {
        bytes.insert(bytes.end(), raw);
        return *this;
    }
    BlobBuilder& Number(uint64_t value, int size)
    {
        for (int i = 0; i < size; ++i)
            bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
        return *this;
    }
    BlobBuilder& Text(const std::string& text)
    {
        bytes.insert(bytes.end(), text.begin(), text.end());
        bytes.push_back(0);
        return *this;
    }
    BlobBuilder& Head(uint32_t code, uint64_t lineTag, const std::string& text)
    {
        return Number(code, 4).Number(lineTag, 8).Text(text);
    }
    BlobBuilder& A(const std::string& name, const std::string& value) { return Text(name).Raw({'A'}).Text(value); }
    BlobBuilder& W(const std::string& name, const std::string& utf8) { return Text(name).Raw({'W'}).Text(utf8); }
    BlobBuilder& N(const std::string& name, uint64_t value) { return Text(name).Raw({'N'}).Number(value, 8); }
    BlobBuilder& End() { return Raw({0}); }
};

Bytes Serialize(const Common::Error& error)
{
    uint32_t size = 0;
    std::unique_ptr<unsigned char[]> blob(Common::SerializeError(error, size));
    return Bytes(blob.get(), blob.get() + size);
}

// Reads from an exactly sized heap copy, so that any read past the end is
// caught by the address sanitizer.
Common::Error Deserialize(const Bytes& bytes, size_t length)
{
    std::unique_ptr<unsigned char[]> copy(new unsigned char[length ? length : 1]);
    if (length)
        std::memcpy(copy.get(), bytes.data(), length);
    return Common::DeserializeError(copy.get(), static_cast<uint32_t>(length));
}

Common::Error Deserialize(const Bytes& bytes)
{
    return Deserialize(bytes, bytes.size());
}

// Whether the first `length` bytes read as a whole blob (from an exactly sized copy, as above).
bool IsWholeBlob(const Bytes& bytes, size_t length)
{
    std::unique_ptr<unsigned char[]> copy(new unsigned char[length ? length : 1]);
    if (length)
        std::memcpy(copy.get(), bytes.data(), length);
    bool whole = true;
    (void)Common::DeserializeError(copy.get(), static_cast<uint32_t>(length), whole);
    return whole;
}

size_t ChainLength(const Common::Error& error)
{
    size_t length = 0;
    for (const Common::ErrorRecord* record = error.GetRecord(); record; record = record->next)
        ++length;
    return length;
}

// A record kind with one parameter of each type, for the writer.
struct MixedRecord
{
    Common::ErrorRecord header;
};

std::u16string MixedText(const Common::ErrorRecord*)
{
    return u"mixed \u20AC";
}
uint64_t MixedInteger(const Common::ErrorRecord*, const char* name)
{
    return std::strcmp(name, "count") == 0 ? 0x1122334455667788ull : 0;
}
const char* MixedNarrow(const Common::ErrorRecord*, const char* name)
{
    return std::strcmp(name, "host") == 0 ? "example-host" : Common::Detail::GetModuleParameter(name);
}
const char16_t* MixedWide(const Common::ErrorRecord*, const char* name)
{
    return std::strcmp(name, "path") == 0 ? u"/tmp/\u00E9t\u00E9/\U0001F600" : nullptr;
}
const char* MixedNames(const Common::ErrorRecord*)
{
    return "host,,path,count,$module";
}
void FreeMixed(Common::ErrorRecord* record)
{
    Common::Detail::FreeRecordBlock(record);
}
Common::ErrorRecord* CloneMixed(const Common::ErrorRecord* record)
{
    return Common::Detail::CloneRecordBytes(record, record->size);
}

const Common::ErrorRecordKind kMixedKind{FreeMixed,   CloneMixed, MixedText, MixedInteger,
                                         MixedNarrow, MixedWide,  MixedNames};
const Common::ErrorRecordKind kNoNamesKind{FreeMixed,   CloneMixed, MixedText, MixedInteger,
                                           MixedNarrow, MixedWide,  nullptr};

Common::Error MakeRecord(const Common::ErrorRecordKind* kind, unsigned code, Common::Location location)
{
    unsigned char* block = Common::Detail::AllocateRecordBlock(sizeof(Common::ErrorRecord));
    auto* record = reinterpret_cast<Common::ErrorRecord*>(block);
    *record = Common::ErrorRecord{0, code, nullptr, kind, location, sizeof(Common::ErrorRecord)};
    return Common::Error(record);
}

// ---- writing ---------------------------------------------------------------------

TEST(ErrorBlobWrite, SuccessIsTheSingleVersionByte)
{
    EXPECT_EQ(Serialize(Common::Success), Bytes{0x01});
    EXPECT_TRUE(Deserialize(Bytes{0x01}).IsSuccess());
    EXPECT_EQ(Deserialize(Bytes{0x01}).GetRecord(), nullptr);
}

TEST(ErrorBlobWrite, CatalogueErrorWithLocationWritesCodeLineTagTextAndPlace)
{
    const Common::Location at = kSource.At("IOCTL", 28);
    const Common::Error error(0x4000E, Common::GetMessageText(613), at);
    ASSERT_EQ(error.GetText(), u"The operation is not supported.");

    BlobBuilder expected;
    expected.Raw({0x0E, 0x00, 0x04, 0x00}).Number(at.LineTag, 8).Text("The operation is not supported.");
    expected.A("$module", "objpatcher_lxa64_43043")
        .A("$file", "core/common/error_blob_test")
        .A("$func", "IOCTL")
        .N("$line", 28)
        .End();
    EXPECT_EQ(Serialize(error), expected.bytes);
}

TEST(ErrorBlobWrite, ChainOfEveryParameterTypeAndNoLocation)
{
    // Causes come in chain order; empty names are skipped; a record without a
    // location carries no reserved parameters.
    Common::Error error = MakeRecord(&kMixedKind, 0x70001, Common::NoLocation);
    error.AddCause(Common::Error(0x70002, Common::NoLocation));

    BlobBuilder expected;
    expected.Head(0x70001, 0, "mixed \xE2\x82\xAC")
        .A("host", "example-host")
        .W("path", "/tmp/\xC3\xA9t\xC3\xA9/\xF0\x9F\x98\x80")
        .N("count", 0x1122334455667788ull)
        .A("$module", "objpatcher_lxa64_43043")
        .End();
    expected.Head(0x70002, 0, "").A("$module", "objpatcher_lxa64_43043").End();
    EXPECT_EQ(Serialize(error), expected.bytes);
}

TEST(ErrorBlobWrite, KindWithoutParameterNamesFunctionWritesNoParameters)
{
    const Common::Error error = MakeRecord(&kNoNamesKind, 0x70003, kSource.At("F", 9));
    BlobBuilder expected;
    expected.Head(0x70003, kSource.base + 9, "mixed \xE2\x82\xAC")
        .A("$file", "core/common/error_blob_test")
        .A("$func", "F")
        .N("$line", 9)
        .End();
    EXPECT_EQ(Serialize(error), expected.bytes);
}

// ---- reading back ----------------------------------------------------------------

TEST(ErrorBlobRead, RoundTripRendersLikeTheOriginal)
{
    Common::Error error(0x4000E, Common::GetMessageText(613), kSource.At("IOCTL", 28));
    error.AddPosixError(2);
    const Common::Error parsed = Deserialize(Serialize(error));

    EXPECT_EQ(Common::FormatError(parsed), Common::FormatError(error));
    ASSERT_EQ(ChainLength(parsed), 2u);
    EXPECT_EQ(parsed.GetRecord()->kind, &Common::kParsedBlobErrorKind);
    EXPECT_EQ(parsed.GetRecord()->count, 1);
    EXPECT_EQ(parsed.GetRecord()->next->count, 1);
    EXPECT_EQ(parsed.GetCode(), 0x4000Eu);
    EXPECT_EQ(parsed.GetLocation().LineTag, kSource.base + 28);
    EXPECT_EQ(parsed.GetLocation().line, 28u);
    EXPECT_STREQ(parsed.GetLocation().file, "core/common/error_blob_test");
    EXPECT_STREQ(parsed.GetLocation().function, "IOCTL");
    EXPECT_STREQ(parsed.GetParameterNames(), "$module");
    EXPECT_STREQ(parsed.GetTextParameter("$module"), "objpatcher_lxa64_43043");

    const Common::Error cause = parsed.GetCause();
    EXPECT_EQ(cause.GetCode(), 0xFFF1u);
    EXPECT_STREQ(cause.GetParameterNames(), "code,$module");
    EXPECT_EQ(cause.GetIntegerParameter("code"), 2u);
    EXPECT_EQ(cause.GetText(), error.GetCause().GetText());
    EXPECT_STREQ(cause.GetLocation().function, "AddPosixError");
}

TEST(ErrorBlobRead, ParameterLookupByExactName)
{
    const Common::Error parsed = Deserialize(Serialize(MakeRecord(&kMixedKind, 0x70001, kSource.At("F", 3))));
    ASSERT_EQ(parsed.GetCode(), 0x70001u);
    EXPECT_EQ(parsed.GetText(), u"mixed \u20AC");
    EXPECT_STREQ(parsed.GetParameterNames(), "host,path,count,$module");

    const char16_t* path = parsed.GetWideTextParameter("path");
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(path) % alignof(char16_t), 0u);
    EXPECT_EQ(std::u16string(path), u"/tmp/\u00E9t\u00E9/\U0001F600");
    EXPECT_STREQ(parsed.GetTextParameter("host"), "example-host");
    EXPECT_EQ(parsed.GetIntegerParameter("count"), 0x1122334455667788ull);

    // Wrong type, prefixes, longer names and the reserved names find nothing.
    EXPECT_EQ(parsed.GetTextParameter("path"), nullptr);
    EXPECT_EQ(parsed.GetWideTextParameter("host"), nullptr);
    EXPECT_EQ(parsed.GetIntegerParameter("host"), 0u);
    EXPECT_EQ(parsed.GetTextParameter("hos"), nullptr);
    EXPECT_EQ(parsed.GetTextParameter("hosts"), nullptr);
    EXPECT_EQ(parsed.GetTextParameter("$file"), nullptr);
    EXPECT_EQ(parsed.GetTextParameter("$func"), nullptr);
    EXPECT_EQ(parsed.GetIntegerParameter("$line"), 0u);
    EXPECT_EQ(parsed.GetTextParameter(""), nullptr);
}

TEST(ErrorBlobRead, WideValuesAreAlignedWhateverTheirBlobOffset)
{
    // Names of lengths 1 to 4 put the value at every offset parity.
    for (const std::string name : {"a", "ab", "abc", "abcd"}) {
        BlobBuilder blob;
        blob.Head(0x70010, 1, "t").N("n", 7).A(name + "x", "q").W(name, "\xC3\xA9").N("m", 9).End();
        const Common::Error parsed = Deserialize(blob.bytes);
        const char16_t* value = parsed.GetWideTextParameter(name.c_str());
        ASSERT_NE(value, nullptr) << name;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(value) % alignof(char16_t), 0u) << name;
        EXPECT_EQ(std::u16string(value), u"\u00E9") << name;
        EXPECT_EQ(parsed.GetIntegerParameter("n"), 7u);
        EXPECT_EQ(parsed.GetIntegerParameter("m"), 9u);
        EXPECT_STREQ(parsed.GetTextParameter((name + "x").c_str()), "q");
    }
}

TEST(ErrorBlobRead, ReservedParametersBeforeOrdinaryOnesKeepLookupsRight)
{
    BlobBuilder blob;
    blob.Head(0x70011, 5, "t").N("$line", 12).A("$file", "src/x").N("first", 1).A("$func", "Fn").N("second", 2).End();
    const Common::Error parsed = Deserialize(blob.bytes);
    EXPECT_STREQ(parsed.GetParameterNames(), "first,second");
    EXPECT_EQ(parsed.GetIntegerParameter("first"), 1u);
    EXPECT_EQ(parsed.GetIntegerParameter("second"), 2u);
    EXPECT_EQ(parsed.GetLocation().line, 12u);
    EXPECT_STREQ(parsed.GetLocation().file, "src/x");
    EXPECT_STREQ(parsed.GetLocation().function, "Fn");
}

TEST(ErrorBlobRead, ReservedNameWithAnotherTypeIsAnOrdinaryParameter)
{
    BlobBuilder blob;
    blob.Head(0x70012, 5, "t").N("$file", 44).A("$line", "text").End();
    const Common::Error parsed = Deserialize(blob.bytes);
    EXPECT_STREQ(parsed.GetParameterNames(), "$file,$line");
    EXPECT_EQ(parsed.GetIntegerParameter("$file"), 44u);
    EXPECT_STREQ(parsed.GetTextParameter("$line"), "text");
    EXPECT_EQ(parsed.GetLocation().file, nullptr);
    EXPECT_EQ(parsed.GetLocation().line, 0u);
}

TEST(ErrorBlobRead, ParsedRecordSurvivesCloning)
{
    // AddPosixError on a shared first record clones it through its kind.
    const Common::Error parsed = Deserialize(Serialize(MakeRecord(&kMixedKind, 0x70001, kSource.At("F", 3))));
    Common::Error copy = parsed;
    copy.AddPosixError(13);
    ASSERT_NE(copy.GetRecord(), parsed.GetRecord());
    EXPECT_EQ(copy.GetRecord()->size, parsed.GetRecord()->size);
    EXPECT_EQ(copy.GetText(), parsed.GetText());
    EXPECT_EQ(std::u16string(copy.GetWideTextParameter("path")), u"/tmp/\u00E9t\u00E9/\U0001F600");
    EXPECT_EQ(copy.GetIntegerParameter("count"), 0x1122334455667788ull);
    EXPECT_EQ(copy.GetCause().GetIntegerParameter("code"), 13u);
    EXPECT_EQ(ChainLength(parsed), 1u);
}

// ---- malformed blobs --------------------------------------------------------------

BlobBuilder ValidFirst()
{
    BlobBuilder blob;
    blob.Head(0x70020, 0x10, "first").N("n", 1).End();
    return blob;
}

TEST(ErrorBlobRead, MalformedBlobsKeepTheValidPrefix)
{
    struct Case
    {
        const char* what;
        Bytes bytes;
        size_t records;
        bool whole = false; // every byte read
    };
    std::vector<Case> cases;
    cases.push_back({"empty", {}, 0});
    cases.push_back({"twelve bytes", BlobBuilder().Number(0x70020, 4).Raw({1, 2, 3, 4, 5, 6, 0}).bytes, 0});
    {
        Bytes twelve = ValidFirst().bytes;
        twelve.resize(12);
        cases.push_back({"a valid start cut to 12 bytes", twelve, 0});
    }
    {
        Bytes version = ValidFirst().bytes;
        version[0] = 2;
        cases.push_back({"version 2", version, 0});
    }
    cases.push_back({"first code 0", BlobBuilder().Head(0, 1, "t").End().bytes, 0});
    cases.push_back({"text without its 0", BlobBuilder().Number(0x70020, 4).Number(1, 8).Raw({'a', 'b'}).bytes, 0});
    cases.push_back({"bad type in the second record",
                     ValidFirst().Head(0x70021, 2, "second").Text("p").Raw({'X', 1}).End().bytes, 1});
    cases.push_back({"name with a comma", BlobBuilder().Head(0x70020, 1, "t").N("a,b", 1).End().bytes, 0});
    cases.push_back(
        {"name with a comma in the second record", ValidFirst().Head(0x70021, 2, "t").A("x,", "v").End().bytes, 1});
    cases.push_back({"name running to the end", ValidFirst().Head(0x70021, 2, "t").Raw({'n', 'a'}).bytes, 1});
    cases.push_back({"name without a type byte", ValidFirst().Head(0x70021, 2, "t").Text("name").bytes, 1});
    cases.push_back({"number cut short", ValidFirst().Head(0x70021, 2, "t").Text("n").Raw({'N', 1, 2, 3}).bytes, 1});
    cases.push_back(
        {"text value without its 0", ValidFirst().Head(0x70021, 2, "t").Text("n").Raw({'A', 'v'}).bytes, 1});
    cases.push_back({"wide value without its 0", ValidFirst().Head(0x70021, 2, "t").Text("n").Raw({'W'}).bytes, 1});
    cases.push_back({"no ending 0", ValidFirst().Head(0x70021, 2, "t").N("n", 1).bytes, 1});
    cases.push_back({"text not UTF-8", ValidFirst().Head(0x70021, 2, "\xFF").End().bytes, 1});
    cases.push_back({"wide value not UTF-8", ValidFirst().Head(0x70021, 2, "t").W("w", "\xC0\x80").End().bytes, 1});
    cases.push_back({"second code 0", ValidFirst().Head(0, 2, "t").End().Head(0x70022, 3, "t").End().bytes, 1});
    cases.push_back(
        {"fewer than 12 bytes after a record", ValidFirst().Raw({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}).bytes, 1});
    cases.push_back(
        {"three good records", ValidFirst().Head(0x70021, 2, "").End().Head(0x70022, 3, "").End().bytes, 3, true});
    cases.push_back({"success", BlobBuilder().bytes, 0, true});

    for (const Case& c : cases) {
        const Common::Error parsed = Deserialize(c.bytes);
        EXPECT_EQ(ChainLength(parsed), c.records) << c.what;
        EXPECT_EQ(IsWholeBlob(c.bytes, c.bytes.size()), c.whole) << c.what;
        if (c.records != 0) {
            EXPECT_EQ(parsed.GetCode(), 0x70020u) << c.what;
            EXPECT_EQ(parsed.GetText(), u"first") << c.what;
            EXPECT_EQ(parsed.GetIntegerParameter("n"), 1u) << c.what;
        }
    }
}

TEST(ErrorBlobRead, OverlongLocationNamesAreNotKept)
{
    // A peer's 16 KiB file and function names: the record is read, but the
    // names are not kept for the rest of the process.
    const std::string file(16 << 10, 'f');
    const std::string function(16 << 10, 'g');
    const Common::Error parsed = Deserialize(
        BlobBuilder().Head(0x70050, 7, "t").A("$file", file).A("$func", function).N("$line", 3).End().bytes);
    ASSERT_EQ(ChainLength(parsed), 1u);
    EXPECT_STREQ(parsed.GetLocation().file, Common::kNotInternedText);
    EXPECT_STREQ(parsed.GetLocation().function, Common::kNotInternedText);
    EXPECT_EQ(parsed.GetLocation().line, 3u);
    EXPECT_EQ(parsed.GetText(), u"t");
}

TEST(ErrorBlobRead, EveryWellFormedRecordIsRead)
{
    // Far more records than any chain a program builds: none is dropped, and
    // the last one keeps its place at the end.
    constexpr unsigned kRecords = 20000;
    BlobBuilder blob;
    for (unsigned i = 0; i < kRecords; ++i)
        blob.Head(0x70040 + i % 7, i, "").End();
    const Common::Error parsed = Deserialize(blob.bytes);
    EXPECT_EQ(ChainLength(parsed), size_t{kRecords});
    EXPECT_EQ(parsed.GetRecord()->location.LineTag, 0u);
    const Common::ErrorRecord* last = parsed.GetRecord();
    while (last->next != nullptr)
        last = last->next;
    EXPECT_EQ(last->location.LineTag, kRecords - 1);
    EXPECT_EQ(last->code, 0x70040u + (kRecords - 1) % 7);
}

TEST(ErrorBlobRead, LineIsCutTo32Bits)
{
    const Common::Error parsed = Deserialize(
        BlobBuilder().Head(0x70030, 9, "t").N("$line", (uint64_t{1} << 32) + 5).End().bytes);
    ASSERT_EQ(ChainLength(parsed), 1u);
    EXPECT_EQ(parsed.GetLocation().line, 5u);
    EXPECT_EQ(parsed.GetLocation().LineTag, 9u);
}

TEST(ErrorBlobRead, EveryPrefixOfAThreeRecordBlobIsReadSafely)
{
    Common::Error error(0x4000E, u"outer \u00E9rror\nsecond line", kSource.At("Outer", 10));
    Common::Error middle = MakeRecord(&kMixedKind, 0x70001, kSource.At("Middle", 20));
    middle.AddPosixError(2);
    error.AddCause(middle);
    const Bytes blob = Serialize(error);
    ASSERT_EQ(ChainLength(Deserialize(blob)), 3u);

    size_t previous = 0;
    std::vector<size_t> wholePrefixes;
    for (size_t length = 0; length <= blob.size(); ++length) {
        const Common::Error parsed = Deserialize(blob, length);
        const size_t records = ChainLength(parsed);
        EXPECT_GE(records, previous) << "prefix " << length;
        previous = records;
        // Every record read from a prefix is complete and renders.
        EXPECT_FALSE(Common::FormatError(parsed).empty());
        if (IsWholeBlob(blob, length))
            wholePrefixes.push_back(length);
    }
    EXPECT_EQ(previous, 3u);
    // Whole: the version byte alone, and each prefix that ends with a record.
    ASSERT_EQ(wholePrefixes.size(), 4u);
    EXPECT_EQ(wholePrefixes.front(), 1u);
    EXPECT_EQ(wholePrefixes.back(), blob.size());
}

TEST(ErrorBlobRead, RewritingAParsedChainGivesTheSameBlob)
{
    Common::Error error = MakeRecord(&kMixedKind, 0x70001, kSource.At("F", 3));
    error.AddPosixError(5);
    const Bytes once = Serialize(error);
    EXPECT_EQ(Serialize(Deserialize(once)), once);
}

} // namespace
