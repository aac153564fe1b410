// Fixed-record files: every record file of the program (the site list, the
// font record, the editor alias, the palette and the bitmap fonts) is read
// and written through these, and every text field read from one is taken
// through FieldText.
//
// Record N (from 1) lies at byte (N-1) * size. Each call opens and closes the
// file; no handle is kept. A caller treats a count other than the record size
// as the absence of that record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

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

// The text of a fixed-width field as read from disk: its bytes up to the
// first NUL, or all `width` of them when it holds none. A file may be damaged
// or made by another program, so a field is never taken to end with a NUL:
// no strlen, strcpy or "%s" on a field, only this (print it with "%.*s").
inline std::string_view FieldText(const char* field, size_t width)
{
    return {field, strnlen(field, width)};
}
inline std::string_view FieldText(const uint8_t* field, size_t width)
{
    return FieldText(reinterpret_cast<const char*>(field), width);
}
template <size_t N>
std::string_view FieldText(const char (&field)[N])
{
    return FieldText(field, N);
}
