// The binary error blob: the byte form in which an error's record chain crosses
// library and process borders (inside XML packets, between object-model
// factories). Layout, little-endian throughout:
//
//   blob    := version(1 byte = 1) record*
//   record  := code(u32) LineTag(u64) text(UTF-8, 0-ended) parameter* 0
//   parameter := name(0-ended, no ',') type('A' | 'W' | 'N') value
//     'A': 8-bit text, 0-ended   'W': UTF-8 text, 0-ended (UTF-16 in memory)
//     'N': u64
//
// The location travels as the reserved parameters "$file" 'A', "$func" 'A' and
// "$line" 'N', written after all others. The single byte 1 stands for success.
// The reader rebuilds a chain of records of its own kind (one block each, all
// references by offset) and never reads outside the bytes it is given: a
// malformed blob yields the records read before the fault, or success. Every
// well-formed record is read, however many: the chain grows with the blob.
//
// Threading: both directions are reentrant; they only read shared records.
#pragma once

#include <cstdint>

#include "platform/objrep/common_error.h"

namespace Common {

struct ErrorRecordKind;

// The blob of `error`'s whole chain as a new array (release with delete[]);
// `size` receives its length. Success gives the single byte 1. Throws
// std::bad_alloc when memory runs out.
unsigned char* SerializeError(const Error& error, uint32_t& size);

// The error rebuilt from `size` bytes at `data` (null allowed with size 0).
// Never throws for malformed input; throws std::bad_alloc when memory runs out.
Error DeserializeError(const void* data, uint32_t size);
// The same; `whole` tells whether every byte was read: the version byte and
// then only well-formed records (the single byte 1 is a whole blob).
Error DeserializeError(const void* data, uint32_t size, bool& whole);

// The record kind of chains rebuilt by DeserializeError.
extern const ErrorRecordKind kParsedBlobErrorKind;

} // namespace Common
