#include "enterprise/common/por/parser/file_io.h"

#include <memory>

#include "core/common/file_errors.h"
#include "core/common/location.h"
#include "core/common/message_format.h"
#include "core/common/text_conversion.h"
#include "core/file/unix/posix_dir.h"
#include "core/include/file/dir.h"
#include "core/include/file/file.h"

namespace Utils {

namespace {

constexpr Common::SourceFile kSource("enterprise/common/por/parser/file_io", 0x5885574d4c2ab73);
const std::u16string kCannotReadTemplate = u"Cannot read from file '{0}'";
constexpr uint64_t kMaxFileSize = 0xFFFFFFFFull;

[[noreturn]] void CannotRead(const std::u16string& path, uint32_t line, const Common::Error& cause)
{
    const std::u16string text = Common::FormatMessageWithArgument(kCannotReadTemplate, path);
    Common::Error error(1, text.c_str(), kSource.At("ReadData", line));
    error.AddCause(cause);
    throw error;
}

} // namespace

namespace Detail {

void ReadFileData(si_dir& directory, const std::u16string& path, std::vector<char>& bytes)
{
    const std::unique_ptr<si_file> file(directory.OpenRead(path.c_str(), false));
    if (!file)
        CannotRead(path, 53, directory.TakeError());
    if (file->IsFailed())
        CannotRead(path, 53, file->TakeError());
    const uint64_t size = file->GetSize();
    if (file->IsClear() && size > kMaxFileSize)
        file->SetError(FileErrors::MakeFileMessageError(FileErrors::kReadFailed, FileErrors::kReadFailedText,
                                                        kSource.At("ReadData", __LINE__)));
    std::vector<char> buffer;
    if (file->IsClear()) {
        buffer.resize(static_cast<size_t>(size));
        (void)file->Read(buffer.data(), buffer.size()); // a short read stores its own error
    }
    if (file->IsFailed())
        CannotRead(path, 60, file->TakeError());
    bytes.swap(buffer);
}

} // namespace Detail

void FileReader::ReadData(std::vector<char>& bytes)
{
    const std::unique_ptr<posix_dir> directory(OpenCurrentDir());
    Detail::ReadFileData(*directory, m_path, bytes);
}

void InMemoryDataReader::ReadData(std::vector<char>& bytes)
{
    std::string utf8;
    (void)Common::ConvertUtf16ToUtf8(utf8, m_text.c_str(), Common::kWholeText); // never fails
    bytes.assign(utf8.begin(), utf8.end());
}

} // namespace Utils
