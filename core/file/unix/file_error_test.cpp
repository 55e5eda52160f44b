#include "core/file/unix/file_error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "core/common/file_errors.h"
#include "core/common/message_catalogue.h"
#include "testing/error_matchers.h"

namespace {

using ::testing::AllOf;
using Testing::CausedBy;
using Testing::ErrorIs;
using Testing::HasPosixCause;
using Testing::HasText;
using Testing::IsSuccessError;
using Testing::RaisedAt;

constexpr Common::SourceFile kTestSource("core/file/unix/file_error_test");

TEST(MakeFileError, ErrnoTableGivesCodeTextAndPaths)
{
    struct Case
    {
        int error;
        unsigned callerCode;
        unsigned code;
        const char16_t* text;
    } cases[] = {
        {EPERM, 0x40007, 0x40014, u"Access to the file is denied."},
        {EACCES, 0x40007, 0x40014, u"Access to the file is denied."},
        {ETXTBSY, 0x40007, 0x40014, u"Access to the file is denied."},
        {EACCES, 0x40017, 0x40017, u"Failed to lock the file."}, // a lock failure keeps its own
        {EPERM, 0x40017, 0x40017, u"Failed to lock the file."},
        {ENOENT, 0x40007, 0x40011, u"The specified file does not exist."},
        {ENOENT, 0x40017, 0x40011, u"The specified file does not exist."},
        {ENOMEM, 0x40007, 0x40006, u"Not enough memory to complete the operation."},
        {EBUSY, 0x40007, 0x4000B, u"The drive is not ready."},
        {ENODEV, 0x40007, 0x4000B, u"The drive is not ready."},
        {ENOMEDIUM, 0x40007, 0x4000B, u"The drive is not ready."},
        {EEXIST, 0x40007, 0x40013, u"The file (folder) already exists."},
        {ENOSPC, 0x40003, 0x40004, u"The disk is full."},
        {EROFS, 0x40003, 0x4000C, u"The file is read-only."},
        {EOPNOTSUPP, 0x40003, 0x4000E, u"The operation is not supported."},
        {EIO, 0x40007, 0x40007, u"Error occurred while opening the file."}, // unmapped: the caller's pair
        {EAGAIN, 0x40017, 0x40017, u"Failed to lock the file."},
    };
    const unsigned callerKey[] = {FileErrors::kOpenFailedText, FileErrors::kWriteFailedText,
                                  FileErrors::kLockFailedText};
    for (const Case& c : cases) {
        const unsigned key = c.callerCode == 0x40017 ? callerKey[2]
            : c.callerCode == 0x40003                ? callerKey[1]
                                                     : callerKey[0];
        // The number form must not read errno, so errno holds another number then.
        for (const bool fromErrno : {true, false}) {
            for (int paths = 0; paths < 3; ++paths) {
                SCOPED_TRACE(std::string(std::strerror(c.error)) + (fromErrno ? ", from errno" : ", given") +
                             ", paths " + std::to_string(paths));
                const char* path1 = paths > 0 ? "/a/one" : nullptr;
                const char* path2 = paths > 1 ? "/b/two" : nullptr;
                errno = fromErrno ? c.error : EILSEQ;
                const Common::Error error = fromErrno
                    ? MakeFileError(c.callerCode, key, path1, path2, kTestSource.At("Case", 7))
                    : MakeFileError(c.error, c.callerCode, key, path1, path2, kTestSource.At("Case", 7));
                EXPECT_EQ(errno, fromErrno ? c.error : EILSEQ);
                EXPECT_THAT(error,
                            AllOf(ErrorIs(c.code), HasText(c.text),
                                  RaisedAt("core/file/unix/file_error_test", "Case", 7), HasPosixCause(c.error),
                                  CausedBy(CausedBy(IsSuccessError())))); // the POSIX record is the only cause
                switch (paths) {
                case 0:
                    EXPECT_STREQ(error.GetParameterNames(), "$module");
                    EXPECT_EQ(error.GetTextParameter("path"), nullptr);
                    break;
                case 1:
                    EXPECT_STREQ(error.GetParameterNames(), "path,$module");
                    EXPECT_STREQ(error.GetTextParameter("path"), "/a/one");
                    EXPECT_EQ(error.GetTextParameter("path1"), nullptr);
                    break;
                default:
                    EXPECT_STREQ(error.GetParameterNames(), "path1,path2,$module");
                    EXPECT_STREQ(error.GetTextParameter("path1"), "/a/one");
                    EXPECT_STREQ(error.GetTextParameter("path2"), "/b/two");
                    EXPECT_EQ(error.GetTextParameter("path"), nullptr);
                    break;
                }
                EXPECT_STREQ(error.GetTextParameter("$module"), Common::kBuildTag);
            }
        }
    }
}

TEST(FilePathError, PathsAreCopiedAndTheCatalogueTextIsReferenced)
{
    std::string path = "/tmp/some file";
    Common::Error error = MakeFilePathError(0x40001, FileErrors::kReadFailedText, path.c_str(), nullptr,
                                            kTestSource.At("Copy", 1));
    path.assign(path.size(), 'z'); // the record keeps its own copy
    EXPECT_STREQ(error.GetTextParameter("path"), "/tmp/some file");
    EXPECT_EQ(error.GetText(), u"Error occurred while reading the file.");
    EXPECT_TRUE(error.GetCause().IsSuccess());
    auto* record = reinterpret_cast<const Common::TextErrorRecord*>(error.GetRecord());
    EXPECT_EQ(reinterpret_cast<const char16_t*>(static_cast<uintptr_t>(record->text)),
              Common::GetMessageText(FileErrors::kReadFailedText));

    // A copy of the record (made when a cause is chained to a shared record)
    // answers the same.
    Common::Error shared = error;
    shared.AddCause(Common::Error(0x40002, Common::NoLocation));
    EXPECT_NE(shared.GetRecord(), error.GetRecord());
    EXPECT_STREQ(shared.GetTextParameter("path"), "/tmp/some file");
    EXPECT_EQ(shared.GetText(), u"Error occurred while reading the file.");
    EXPECT_EQ(shared.GetCause().GetCode(), 0x40002u);

    EXPECT_TRUE(MakeFilePathError(0, FileErrors::kReadFailedText, "/x", nullptr, Common::NoLocation).IsSuccess());
}

TEST(FilePathError, AllocationFailureGivesTheOutOfMemoryRecord)
{
    Common::Detail::SetRecordAllocatorForTesting([](size_t) -> unsigned char* { return nullptr; });
    const Common::Error one = MakeFilePathError(0x40001, FileErrors::kReadFailedText, "/x", nullptr,
                                                Common::NoLocation);
    const Common::Error two = MakeFilePathError(0x40009, FileErrors::kRenameFailedText, "/x", "/y", Common::NoLocation);
    Common::Detail::SetRecordAllocatorForTesting(nullptr);
    EXPECT_EQ(one.GetRecord(), Common::GetOutOfMemoryErrorRecord());
    EXPECT_EQ(two.GetRecord(), Common::GetOutOfMemoryErrorRecord());
}

} // namespace
