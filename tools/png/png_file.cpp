#include "tools/png/png_file.h"

#include <png.h>

#include <csetjmp>
#include <vector>

#include "platform/win32.h"

using tessil::MakePixel;
using tessil::Pixel;
using tessil::Surface;

namespace {

// libpng reports errors by longjmp; only plain data lives across the jump.
struct FileIo {
    HANDLE file = INVALID_HANDLE_VALUE;
    bool failed = false;
};

void WriteData(png_structp png, png_bytep data, png_size_t length)
{
    auto* io = static_cast<FileIo*>(png_get_io_ptr(png));
    DWORD written = 0;
    if (!WriteFile(io->file, data, DWORD(length), &written, nullptr) || written != length)
        io->failed = true;
}

void FlushData(png_structp) {}

void ReadData(png_structp png, png_bytep data, png_size_t length)
{
    auto* io = static_cast<FileIo*>(png_get_io_ptr(png));
    DWORD got = 0;
    if (!ReadFile(io->file, data, DWORD(length), &got, nullptr) || got != length)
        png_error(png, "short file");
}

// The libpng calls of each direction, alone in a function so that no local
// that changes after setjmp is read after a longjmp.
bool WriteImage(png_structp png, png_infop info, FileIo& io, const Surface& surface, std::vector<png_byte>& row)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, &io, WriteData, FlushData);
    png_set_IHDR(png, info, png_uint_32(surface.width), png_uint_32(surface.height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < surface.height; ++y) {
        const Pixel* p = surface.Row(y);
        for (int x = 0; x < surface.width; ++x) {
            row[3 * size_t(x)] = png_byte(p[x] >> 16);
            row[3 * size_t(x) + 1] = png_byte(p[x] >> 8);
            row[3 * size_t(x) + 2] = png_byte(p[x]);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    return true;
}

bool ReadImage(png_structp png, png_infop info, FileIo& io, Surface& surface, std::vector<png_byte>& row)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_read_fn(png, &io, ReadData);
    png_read_info(png, info);
    png_uint_32 width = png_get_image_width(png, info);
    png_uint_32 height = png_get_image_height(png, info);
    int type = png_get_color_type(png, info);
    if (png_get_bit_depth(png, info) != 8 || (type != PNG_COLOR_TYPE_RGB && type != PNG_COLOR_TYPE_RGBA) ||
        width == 0 || height == 0 || width > 16384 || height > 16384)
        return false;
    int channels = type == PNG_COLOR_TYPE_RGBA ? 4 : 3;
    surface.Resize(int(width), int(height));
    row.resize(size_t(width) * size_t(channels));
    for (png_uint_32 y = 0; y < height; ++y) {
        png_read_row(png, row.data(), nullptr);
        Pixel* p = surface.Row(int(y));
        for (png_uint_32 x = 0; x < width; ++x) {
            const png_byte* c = row.data() + size_t(x) * size_t(channels);
            p[x] = MakePixel(c[0], c[1], c[2]);
        }
    }
    return true;
}

} // namespace

bool WritePng(const Surface& surface, const char* path)
{
    if (surface.width <= 0 || surface.height <= 0)
        return false;
    FileIo io;
    io.file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (io.file == INVALID_HANDLE_VALUE)
        return false;
    std::vector<png_byte> row(size_t(surface.width) * 3);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = png && info && WriteImage(png, info, io, surface, row);
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    CloseHandle(io.file);
    return ok && !io.failed;
}

bool ReadPng(const char* path, Surface& surface)
{
    FileIo io;
    io.file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (io.file == INVALID_HANDLE_VALUE)
        return false;
    std::vector<png_byte> row;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = png && info && ReadImage(png, info, io, surface, row);
    png_destroy_read_struct(png ? &png : nullptr, info ? &info : nullptr, nullptr);
    CloseHandle(io.file);
    return ok;
}
