// The seventeen value kinds of a unit, their fixed order and their value types.
//
// The kind index (0..16) is the position in ValueKind; 17 stands for no kind.
// The same order indexes the Visit operations of the visitors, the creators of
// the unit factory, the kind-name tables and the tags of the binary unit form.
//
// POR_SCALAR_KINDS(X) and POR_COMPLEX_KINDS(X) expand X(Name, Type) once per
// scalar (Boolean..Double) or complex (Blob..Error) kind, in kind order; they
// spell out the per-kind members of the interfaces.
//
// Threading: constant data only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "core/common/guid.h"

namespace Por {

enum class ValueKind : int
{
    Nil,
    Boolean,
    Byte,
    SByte,
    Word,
    SWord,
    DWord,
    SDWord,
    QWord,
    SQWord,
    Double,
    Blob,
    Guid,
    String,
    Error,
    Array,
    Composite,
};

inline constexpr int kValueKindCount = 17;
inline constexpr int kNoValueKind = 17; // "no Visit ran"
inline constexpr int kArrayKind = static_cast<int>(ValueKind::Array);
inline constexpr int kCompositeKind = static_cast<int>(ValueKind::Composite);

using BlobType = std::vector<unsigned char>;
using GuidType = Common::GuidTemplate<Common::LittleEndian>;

#define POR_SCALAR_KINDS(X)      \
    X(Boolean, bool)             \
    X(Byte, unsigned char)       \
    X(SByte, signed char)        \
    X(Word, unsigned short)      \
    X(SWord, short)              \
    X(DWord, unsigned int)       \
    X(SDWord, int)               \
    X(QWord, unsigned long long) \
    X(SQWord, long long)         \
    X(Double, double)

#define POR_COMPLEX_KINDS(X)  \
    X(Blob, ::Por::BlobType)  \
    X(Guid, ::Por::GuidType)  \
    X(String, std::u16string) \
    X(Error, ::Common::Error)

// The kind whose value type is T (scalar and complex kinds only).
template <typename T>
struct KindOfValue;
#define POR_KIND_OF_VALUE(Name, Type)                                   \
    template <>                                                         \
    struct KindOfValue<Type>                                            \
    {                                                                   \
        static constexpr ValueKind kind = ValueKind::Name;              \
        static constexpr int index = static_cast<int>(ValueKind::Name); \
    };
POR_SCALAR_KINDS(POR_KIND_OF_VALUE)
POR_COMPLEX_KINDS(POR_KIND_OF_VALUE)
#undef POR_KIND_OF_VALUE

// The two kind-name tables: 17 entries of 17 bytes, NUL-terminated ASCII, in
// kind order. The capitalised names are the vocabulary of the text notation;
// the lower-case names appear in the type-mismatch texts.
extern const char kValueKindNames[kValueKindCount][17];
extern const char kValueKindLowerNames[kValueKindCount][17];

} // namespace Por
