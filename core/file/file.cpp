#include "core/include/file/file.h"

#include "core/common/file_errors.h"

namespace {
// Locations of these operations carry a tag known outside this program.
constexpr Common::SourceFile kSource("core/include/file/file", 0xd18a9c757ef132f0ull - 27);

Common::Error NotSupported(const char* function, uint32_t line)
{
    return FileErrors::MakeFileMessageError(FileErrors::kNotSupported, FileErrors::kNotSupportedText,
                                            kSource.At(function, line));
}
} // namespace

uint64_t i_file::Read(void* buffer, uint64_t size)
{
    uint64_t count = 0;
    Read(buffer, size, &count);
    if (IsClear() && count < size)
        SetError(FileErrors::MakeFileMessageError(FileErrors::kEndOfFile, FileErrors::kEndOfFileText,
                                                  kSource.At("Read", 27)));
    return count;
}

void o_file::Flush()
{
}

uint64_t o_file::Write(const void* data, uint64_t size)
{
    uint64_t count = 0;
    Write(data, size, &count);
    if (IsClear() && count < size)
        SetError(FileErrors::MakeFileMessageError(FileErrors::kDiskFull, FileErrors::kDiskFullText,
                                                  kSource.At("Write", 41)));
    return count;
}

void raccess_file::Rewind()
{
    Seek(0);
}

uint64_t raccess_file::GetSize()
{
    const uint64_t position = Move(0);
    if (IsFailed())
        return 0;
    const uint64_t size = SeekEnd(0);
    if (IsFailed()) {
        // Go back to where the file stood, but report the failed size.
        Common::Error failure = TakeError();
        Seek(position);
        SetError(static_cast<Common::Error&&>(failure));
        return 0;
    }
    Seek(position);
    return size;
}

void raccess_file::Unlock(uint64_t, uint64_t)
{
    if (IsClear())
        SetError(NotSupported("Unlock", 79));
}

void ri_file::LockShared(uint64_t, uint64_t, bool)
{
    if (IsClear())
        SetError(NotSupported("LockShared", 94));
}
