// Fixed-record files: every record file of the program (the site list, the
// font record, the editor alias) is read and written through these two.
//
// Record N (from 1) lies at byte (N-1) * size. Each call opens and closes the
// file; no handle is kept. A caller treats a count other than the record size
// as the absence of that record.
#pragma once

#include <cstdint>

// Reads record `number` (from 1) of `size` bytes into `buffer`. Returns the
// count of bytes read: size, less at the end of the file, 0 past it; -1 when
// the file cannot be opened (or number or size is not positive).
int32_t ReadRecord(const char* path, void* buffer, int32_t number, int32_t size);

// Writes record `number` (from 1) of `size` bytes from `buffer`, creating the
// file when missing. Writing past the end extends the file; the gap reads as
// zero bytes. Returns the count of bytes written, or -1 when the file cannot
// be opened (for instance when its folder does not exist).
int32_t WriteRecord(const char* path, const void* buffer, int32_t number, int32_t size);

// As WriteRecord, for files that hold passwords: a file it creates is
// readable by its owner only.
int32_t WritePrivateRecord(const char* path, const void* buffer, int32_t number, int32_t size);
