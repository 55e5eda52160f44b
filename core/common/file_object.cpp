#include "core/common/file_object.h"

#include <cstring>

#include "core/common/file_errors.h"

namespace {
constexpr Common::SourceFile kSource("core/common/file_object");
}

file_object::~file_object() = default;

void file_object::IOCTL(void*)
{
    if (IsClear())
        SetError(FileErrors::MakeFileMessageError(FileErrors::kNotSupported, FileErrors::kNotSupportedText,
                                                  kSource.At("IOCTL", 28)));
}

Common::Error file_object::TakeError() noexcept
{
    Common::Error taken(static_cast<Common::Error&&>(m_error));
    m_error = Common::Success;
    return taken;
}

uint64_t GetControlCode(const void* request) noexcept
{
    uint64_t code = 0;
    if (request)
        std::memcpy(&code, request, sizeof code);
    return code;
}
