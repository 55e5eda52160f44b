// Conversion of file names between the UTF-16 text of the file interfaces and
// the native bytes of the operating system.
//
// One ICU converter for the process's character set does the work. Bytes the
// converter cannot decode travel through UTF-16 as U+F800 + byte (U+F880 to
// U+F8FF for bytes 0x80 to 0xFF) and come back as the same byte, so a name read
// from a directory always converts back to the bytes that were read. The one
// exception: a valid character from U+F880 to U+F8FF in a native name turns
// into the single byte (character - U+F800) on the way back.
//
// Threading: any thread. Once the converter is open both directions run under
// the name-converter mutex; before that, ASCII and private-use names are
// converted to native bytes without locking (the converter handle is read
// atomically).
#pragma once

#include <string>

struct UConverter;

// The native name (NUL-terminated bytes) as UTF-16; the empty text when the
// converter rejects it.
std::u16string NativeToUnicodeName(const char* nativeName);

// The UTF-16 name (NUL-terminated) as native bytes; the empty text when a
// character cannot be represented in the process's character set.
std::string UnicodeToNativeName(const char16_t* name);

// The process's name converter, opened on first use. The caller holds the
// name-converter mutex. A converter that cannot be opened aborts the process.
UConverter* GetFileNameConverter();

namespace FileNameDetail {
// True once the converter has been opened (by either conversion).
bool IsFileNameConverterOpen();
} // namespace FileNameDetail
