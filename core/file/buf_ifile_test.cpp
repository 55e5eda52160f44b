#include "core/file/buf_ifile.h"

#include <gtest/gtest.h>

#include <string>

#include "core/file/file_test_support.h"

namespace {

using FileTest::ReadOnce;

TEST(BufIfile, ReadSeekAndSize)
{
    const std::string data = "0123456789";
    buf_ifile<char> file(data.data(), data.size());
    struct Step
    {
        const char* what;
        int op; // 0 Seek, 1 Move, 2 SeekEnd, 3 none
        int64_t argument;
        uint64_t position;
        uint64_t length;
        const char* read;
    } steps[] = {
        {"first read", 3, 0, 0, 4, "0123"},
        {"from the end", 2, -3, 7, 8, "789"},
        {"at the end", 0, 10, 10, 1, ""},
        {"beyond the end", 0, 11, 11, 1, ""},
        {"back inside", 1, -6, 5, 2, "56"},
        {"before the start", 1, -100, static_cast<uint64_t>(-93), 4, ""},
        {"huge unsigned position", 0, -1, static_cast<uint64_t>(-1), 4, ""},
        {"start again", 0, 0, 0, 0, ""},
        {"whole range", 0, 0, 0, 100, "0123456789"},
        {"end plus one", 2, 1, 11, 1, ""},
    };
    for (const Step& s : steps) {
        uint64_t position = 0;
        switch (s.op) {
        case 0:
            position = file.Seek(static_cast<uint64_t>(s.argument));
            break;
        case 1:
            position = file.Move(s.argument);
            break;
        case 2:
            position = file.SeekEnd(s.argument);
            break;
        default:
            position = file.Move(0);
            break;
        }
        EXPECT_EQ(position, s.position) << s.what;
        EXPECT_EQ(ReadOnce(file, s.length), s.read) << s.what;
    }
    file.Seek(3);
    EXPECT_EQ(file.GetSize(), 10u);
    EXPECT_EQ(file.Move(0), 3u);
    EXPECT_TRUE(file.IsClear());
}

TEST(BufIfile, ReadAllRecordsTheEndButGoesOnDelivering)
{
    const std::string data = "0123456789";
    buf_ifile<char> file(data.data(), data.size());
    char buffer[16];
    EXPECT_EQ(file.Read(buffer, 16), 10u);
    EXPECT_EQ(file.GetError().GetCode(), 0x40002u);
    file.Rewind();
    EXPECT_EQ(ReadOnce(file, 3), "012");
    EXPECT_EQ(file.TakeError().GetCode(), 0x40002u);
    EXPECT_EQ(file.Read(buffer, 7), 7u);
    EXPECT_TRUE(file.IsClear());
}

TEST(BufIfile, EmptyAndNullRanges)
{
    buf_ifile<char> empty("", 0);
    EXPECT_EQ(ReadOnce(empty, 4), "");
    EXPECT_EQ(empty.GetSize(), 0u);
    buf_ifile<char> null(nullptr, 5);
    EXPECT_EQ(ReadOnce(null, 4), "");
    EXPECT_EQ(null.GetSize(), 0u);
}

TEST(BufIfile, UnsupportedDefaultsKeepAnEarlierError)
{
    const std::string data = "x";
    buf_ifile<char> file(data.data(), data.size());
    file.LockShared(0, 1, true);
    EXPECT_EQ(file.GetError().GetCode(), 0x4000Eu);
    char c;
    file.Read(&c, 2); // would record the end, but the slot is taken
    EXPECT_EQ(file.TakeError().GetCode(), 0x4000Eu);
    file.Unlock(0, 1);
    EXPECT_EQ(file.GetError().GetCode(), 0x4000Eu);
}

} // namespace
