// Backup of one file item as typed chunks, the part every platform shares:
// the DOS attribute word (chunk 1), the data (4), the times (5) and the POSIX
// attribute record (6), in that order, each when present. The platform's own
// backup (core/file/unix/posix_backup.h) runs it and adds the rest.
//
// Chunks go to the caller's backup_chunk_sink (backup_chunks.h). Every
// buffer, writer, file and iterator the backup makes is destroyed on every
// path; chunks written before a failure stay written.
//
// Threading: a backup runs on the caller's thread; the directory, the sink
// and the progress object are used by it alone meanwhile.
#pragma once

#include <cstdint>
#include <memory>

#include "core/common/error.h"
#include "core/file/backup_chunks.h"
#include "core/include/file/dir.h"

// The record kind of backup failures: a UTF-16 message and the UTF-16 text
// parameters "path" (the directory) and "name" (the item); parameter names
// "path,name,$module".
extern const Common::ErrorRecordKind kBackupErrorKind;

// A backup failure of `code` with the catalogue message `messageKey`; `path`
// and `name` may be null (absent). Texts are held by the rule of the text
// constructors.
Common::Error MakeBackupError(unsigned code, unsigned messageKey, const char16_t* path, const char16_t* name,
                              Common::Location location) noexcept;

// Backs up the entry `item` of `directory` (null: the directory itself).
// Failures of the item-level step come back as 0x40019 "Error occurred while
// backing up." with "path" and "name" and the failure as cause; a missing
// item or a data file that cannot be opened is the directory's error.
Common::Error CommonBackupFile(i_dir* directory, const file_identifier* item, const backup_parameters* parameters);

// The item-level step: chunks 1, 4 (from `file`, when given), 5 and 6 of the
// entry `iterator` stands on.
Common::Error CommonBackupFile(i_file* file, i_dir::iterator* iterator, const backup_parameters* parameters);

// Copies `file` into `writer` in buffers of 16384 bytes, one Read per buffer,
// asking for cancellation before and after each read and reporting the
// running total of bytes.
Common::Error BackupPlainStream(i_file& file, backup_chunk_writer& writer, const backup_parameters* parameters);

// Writes one chunk of `type` with the fixed `payload` of `size` bytes. With
// `checkWriter` a failed writer slot is the result.
Common::Error WriteFixedChunk(backup_chunk_sink& sink, uint32_t type, const void* payload, uint64_t size,
                              bool checkWriter);

// A writer of `type` from `sink`, or null with the reason in `error`: the
// sink's error, or 0x40003 when the sink refused without one.
std::unique_ptr<backup_chunk_writer> GetChunkWriter(backup_chunk_sink& sink, uint32_t type, Common::Error& error);

// A buffer of `size` payload bytes from `writer`, or null (0x40006 in `error`)
// when the writer gave none or a smaller one.
std::unique_ptr<raw_data> AllocateChunkBuffer(backup_chunk_writer& writer, uint64_t size, Common::Error& error);

// Hands `buffer` to the writer; a buffer the writer did not take over is
// destroyed.
void WriteChunkBuffer(backup_chunk_writer& writer, std::unique_ptr<raw_data> buffer);
