// The data readers: files read whole through the file layer, with their
// failures as error 1 caused by the file layer's error, and texts in memory.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "core/common/file_errors.h"
#include "core/common/text_conversion.h"
#include "core/file/unix/posix_dir.h"
#include "enterprise/common/por/parser/file_io.h"
#include "testing/error_matchers.h"
#include "testing/temporary_folder.h"

namespace {

using namespace Testing;
using ::testing::AllOf;

std::u16string Wide(const std::string& text)
{
    return Common::FromUtf8(text.c_str());
}

std::string Read(Utils::DataReader& reader, std::vector<char> bytes = {'o', 'l', 'd'})
{
    reader.ReadData(bytes);
    return std::string(bytes.begin(), bytes.end());
}

::testing::Matcher<const Common::Error&> CannotRead(const std::string& path, int line, uint64_t lineTag)
{
    return AllOf(ErrorIs(1), HasText(u"Cannot read from file '" + Wide(path) + u"'"),
                 RaisedAt("enterprise/common/por/parser/file_io", "ReadData", line), HasLineTag(lineTag));
}

TEST(FileReader, ReadsTheWholeFileInPlaceOfTheVectorsContent)
{
    const Testing::TemporaryFolder scratch("file_io_test");
    const std::string content("a\0b\xFF\n", 5);
    Utils::FileReader file(Wide(scratch.Write("data", content)));
    EXPECT_EQ(Read(file), content);
    Utils::FileReader empty(Wide(scratch.Write("empty", "")));
    EXPECT_EQ(Read(empty), "");
}

// The reader takes no lock of its own: a file that someone else holds locked
// for writing is still read. (An open-file-description lock conflicts with
// the record locks of this very process too.)
TEST(FileReader, ReadsAFileLockedForWritingElsewhere)
{
    const Testing::TemporaryFolder scratch("file_io_test");
    const std::string path = scratch.Write("locked", "content");
    struct Holder
    {
        int descriptor;
        ~Holder() { close(descriptor); }
    } holder{open(path.c_str(), O_RDWR | O_CLOEXEC)};
    ASSERT_NE(holder.descriptor, -1);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    ASSERT_EQ(fcntl(holder.descriptor, F_OFD_SETLK, &lock), 0);
    Utils::FileReader file(Wide(path));
    EXPECT_EQ(Read(file), "content");
}

TEST(FileReader, ResolvesRelativePathsAgainstTheDirectory)
{
    const Testing::TemporaryFolder scratch("file_io_test");
    std::filesystem::create_directory(scratch.Path() + "/sub");
    scratch.Write("top", "top");
    posix_dir directory(scratch.Path() + "/sub");
    std::vector<char> bytes;
    Utils::Detail::ReadFileData(directory, u"../sub/../top", bytes);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "top");
}

TEST(FileReader, AMissingFileIsError1CausedByTheOpenError)
{
    const Testing::TemporaryFolder scratch("file_io_test");
    const std::string path = scratch.Path() + "/missing";
    Utils::FileReader file(Wide(path));
    std::vector<char> bytes{'x'};
    try {
        file.ReadData(bytes);
        ADD_FAILURE() << "no exception";
    } catch (const Common::Error& error) {
        EXPECT_THAT(error, AllOf(CannotRead(path, 53, 0x5885574d4c2aba8ull), CausedBy(ErrorIs(0x40011))));
    }
    EXPECT_EQ(bytes, std::vector<char>{'x'}) << "the vector is left as it was";
}

// A directory that hands out one prepared file.
class FakeFile final : public si_file
{
public:
    uint64_t size = 0;
    uint64_t delivered = 0; // bytes that Read transfers
    void Read(void* buffer, uint64_t count, uint64_t* bytesRead) override
    {
        const uint64_t n = count < delivered ? count : delivered;
        std::memset(buffer, 'z', n);
        *bytesRead = n;
    }
    using i_file::Read;
    void Rewind() override {}
    uint64_t GetSize() override { return size; }
};

class FakeDir final : public si_dir
{
public:
    FakeFile* file = nullptr; // handed out once
    si_file* OpenRead(const char16_t*, bool) override { return std::exchange(file, nullptr); }
    si_file* OpenRead(const iterator*, bool) override { return nullptr; }
    si_file* OpenRead(const file_identifier*, bool) override { return nullptr; }
    si_dir* OpenDir(const char16_t*) override { return nullptr; }
    si_dir* OpenDir(const iterator*) override { return nullptr; }
    si_dir* OpenDir(const file_identifier*) override { return nullptr; }
    si_dir* OpenParentDir(const char16_t*&) override { return nullptr; }
    iterator* GetIterator() override { return nullptr; }
    iterator* GetIterator(const char16_t*) override { return nullptr; }
    iterator* GetIterator(const file_identifier*) override { return nullptr; }
    iterator* GetSelfIterator() override { return nullptr; }
    uint32_t IsSameDir(const i_dir*) override { return 2; }
    int CompareIdentifiers(const file_identifier*, const file_identifier*) override { return 0; }
    ~FakeDir() override { delete file; }
};

std::vector<char> ReadFake(FakeDir& directory)
{
    std::vector<char> bytes{'o', 'l', 'd'};
    Utils::Detail::ReadFileData(directory, u"f", bytes);
    return bytes;
}

TEST(FileReader, AFileThatOpensInErrorGivesItsOwnErrorAsCause)
{
    FakeDir directory;
    directory.SetError(Common::Error(0x40007, u"the directory's", Common::NoLocation));
    directory.file = new FakeFile;
    directory.file->SetError(Common::Error(0x40014, u"the file's", Common::NoLocation));
    try {
        (void)ReadFake(directory);
        ADD_FAILURE() << "no exception";
    } catch (const Common::Error& error) {
        EXPECT_THAT(error, AllOf(CannotRead("f", 53, 0x5885574d4c2aba8ull), CausedBy(ErrorIs(0x40014))));
    }
}

TEST(FileReader, AShortReadIsTheEndOfFileError)
{
    FakeDir directory;
    directory.file = new FakeFile;
    directory.file->size = 10;
    directory.file->delivered = 4;
    try {
        (void)ReadFake(directory);
        ADD_FAILURE() << "no exception";
    } catch (const Common::Error& error) {
        EXPECT_THAT(error,
                    AllOf(CannotRead("f", 60, 0x5885574d4c2abafull),
                          CausedBy(AllOf(ErrorIs(0x40002), HasText(u"The end of the file has been reached.")))));
    }
}

TEST(FileReader, AFileOf4GiBOrMoreIsRefused)
{
    FakeDir directory;
    directory.file = new FakeFile;
    directory.file->size = uint64_t(1) << 32;
    try {
        (void)ReadFake(directory);
        ADD_FAILURE() << "no exception";
    } catch (const Common::Error& error) {
        EXPECT_THAT(error, AllOf(CannotRead("f", 60, 0x5885574d4c2abafull), CausedBy(ErrorIs(0x40001))));
    }
    FakeDir fits;
    fits.file = new FakeFile;
    fits.file->size = fits.file->delivered = 3;
    EXPECT_EQ(ReadFake(fits), (std::vector<char>{'z', 'z', 'z'}));
}

TEST(InMemoryDataReader, GivesTheUtf8BytesUpToTheFirstNul)
{
    Utils::InMemoryDataReader accented(u"\u00e9!");
    EXPECT_EQ(Read(accented), "\xC3\xA9!");
    Utils::InMemoryDataReader cut(std::u16string(u"ab\0cd", 5));
    EXPECT_EQ(Read(cut), "ab");
    Utils::InMemoryDataReader empty(u"");
    EXPECT_EQ(Read(empty), "");
}

} // namespace
