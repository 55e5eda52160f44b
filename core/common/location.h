// Source locations of raised errors.
//
// Each source file that raises errors declares its source identity once:
//
//     namespace { constexpr Common::SourceFile kSource("core/file/unix/posix_file"); }
//
// and builds locations with kSource.At("Function", line). The path is the
// file's path from the repository root without extension. The per-file base of
// `LineTag` is a 64-bit FNV-1a hash of that path, unless the file is given a
// base of its own (a published LineTag minus its line), which keeps the tags
// that other programs already know:
//
//     constexpr Common::SourceFile kSource("enterprise/serialize/xml_serializer", 0x7e90832cff0290f3);
//
// Where a caller has no published line it passes __LINE__:
//     kSource.At("Open", __LINE__)
//
// Threading: constant data only.
#pragma once

#include <cstdint>

#include "platform/objrep/common_error.h"

namespace Common {

constexpr uint64_t HashSourcePath(const char* path)
{
    uint64_t hash = 0xcbf29ce484222325ull;
    for (; *path; ++path)
        hash = (hash ^ static_cast<unsigned char>(*path)) * 0x100000001b3ull;
    return hash;
}

struct SourceFile
{
    const char* path;
    uint64_t base;

    constexpr explicit SourceFile(const char* sourcePath) : path(sourcePath), base(HashSourcePath(sourcePath)) {}
    constexpr SourceFile(const char* sourcePath, uint64_t lineTagBase) : path(sourcePath), base(lineTagBase) {}

    constexpr Location At(const char* function, uint32_t line) const
    {
        return Location{base + line, path, function, line};
    }
};

constexpr Location NoLocation{0, nullptr, nullptr, 0};

} // namespace Common
