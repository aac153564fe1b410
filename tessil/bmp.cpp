// Windows bitmap files. Every value read from the file is checked before it
// sizes an allocation or an access; sizes are computed in 64 bits.
//
// File header, 14 bytes, little-endian:
//   0  2  "BM"
//   2  4  bfSize (not trusted; the real size is the buffer's)
//   6  4  reserved
//  10  4  bfOffBits: offset of the pixel rows from the start of the file
// Info header at 14 (BITMAPINFOHEADER and its later versions, which only add
// fields after these):
//   0  4  biSize: 40, 52, 56, 108 or 124
//   4  4  biWidth, > 0
//   8  4  biHeight, != 0; negative = top row first
//  12  2  biPlanes, 1
//  14  2  biBitCount: 1, 4, 8, 24 or 32
//  16  4  biCompression: 0 (BI_RGB), or 3 (BI_BITFIELDS) for 32 bits with
//         the masks 00FF0000, 0000FF00, 000000FF
//  20  4  biSizeImage (not trusted)
//  32  4  biClrUsed: colour-table entries for 1, 4 and 8 bits (0 = all)
//  40 12  red, green and blue masks: part of a 52-byte or longer header, or
//         following a 40-byte one when biCompression is BI_BITFIELDS
// The colour table (blue, green, red, reserved per entry) follows the info
// header (and the masks of a 40-byte BI_BITFIELDS header). Rows are padded
// to a multiple of 4 bytes; the leftmost pixel is in the high bits.
#include "tessil/bmp.h"

namespace tessil {

namespace {

constexpr int64_t kFileHeaderSize = 14;
constexpr int64_t kMaxSide = 16384;
constexpr uint32_t kBiRgb = 0, kBiBitfields = 3;

uint32_t Get16(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}
uint32_t Get32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
int64_t GetSigned32(const uint8_t* p)
{
    return int64_t(int32_t(Get32(p)));
}

bool KnownHeaderSize(uint32_t size)
{
    return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

bool Decode(const uint8_t* data, size_t size, Image& out)
{
    const int64_t fileSize = int64_t(size);
    if (!data || fileSize < kFileHeaderSize + 40 || data[0] != 'B' || data[1] != 'M') return false;
    const int64_t pixelOffset = Get32(data + 10);
    const uint8_t* info = data + kFileHeaderSize;
    const int64_t infoSize = Get32(info);
    if (!KnownHeaderSize(uint32_t(infoSize)) || kFileHeaderSize + infoSize > fileSize) return false;

    const int64_t width = GetSigned32(info + 4);
    const int64_t signedHeight = GetSigned32(info + 8);
    const bool topDown = signedHeight < 0;
    const int64_t height = topDown ? -signedHeight : signedHeight;
    const uint32_t planes = Get16(info + 12), bits = Get16(info + 14), compression = Get32(info + 16);
    if (width <= 0 || width > kMaxSide || height == 0 || height > kMaxSide || planes != 1) return false;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return false;

    int64_t tableStart = kFileHeaderSize + infoSize;
    if (compression == kBiBitfields) {
        // Only the layout that equals BI_RGB at 32 bits.
        if (bits != 32) return false;
        const int64_t masksAt = kFileHeaderSize + 40;
        if (infoSize == 40) tableStart += 12;
        if (masksAt + 12 > fileSize) return false;
        if (Get32(data + masksAt) != 0x00FF0000u || Get32(data + masksAt + 4) != 0x0000FF00u ||
            Get32(data + masksAt + 8) != 0x000000FFu)
            return false;
    } else if (compression != kBiRgb) {
        return false;
    }

    // Indexed colours: biClrUsed entries, or the full 2^bits when it is 0;
    // a count larger than the index range can use is cut to that range.
    // Indices past the table's end give black.
    std::vector<Pixel> palette;
    if (bits <= 8) {
        const int64_t full = int64_t(1) << bits;
        const int64_t used = Get32(info + 32);
        const int64_t entries = used == 0 || used > full ? full : used;
        if (tableStart + entries * 4 > fileSize) return false;
        palette.assign(size_t(full), 0);
        for (int64_t i = 0; i < entries; ++i) {
            const uint8_t* q = data + tableStart + i * 4;
            palette[size_t(i)] = MakePixel(q[2], q[1], q[0]);
        }
    }

    const int64_t stride = (width * bits + 31) / 32 * 4;
    if (pixelOffset < tableStart || pixelOffset > fileSize) return false;
    if (fileSize - pixelOffset < stride * height) return false;

    out.width = int(width);
    out.height = int(height);
    out.pixels.resize(size_t(width) * size_t(height));
    for (int64_t fileRow = 0; fileRow < height; ++fileRow) {
        const uint8_t* src = data + pixelOffset + fileRow * stride;
        const int64_t imageRow = topDown ? fileRow : height - 1 - fileRow;
        Pixel* dst = out.pixels.data() + size_t(imageRow) * size_t(width);
        switch (bits) {
        case 1:
            for (int64_t x = 0; x < width; ++x) dst[x] = palette[(src[x >> 3] >> (7 - (x & 7))) & 1];
            break;
        case 4:
            for (int64_t x = 0; x < width; ++x) dst[x] = palette[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 15];
            break;
        case 8:
            for (int64_t x = 0; x < width; ++x) dst[x] = palette[src[x]];
            break;
        case 24:
            for (int64_t x = 0; x < width; ++x) dst[x] = MakePixel(src[x * 3 + 2], src[x * 3 + 1], src[x * 3]);
            break;
        default: // 32: blue, green, red, unused
            for (int64_t x = 0; x < width; ++x) dst[x] = MakePixel(src[x * 4 + 2], src[x * 4 + 1], src[x * 4]);
            break;
        }
    }
    return true;
}

} // namespace

bool DecodeBmp(const uint8_t* data, size_t size, Image& out)
{
    out = Image{};
    if (Decode(data, size, out)) return true;
    out = Image{};
    return false;
}

} // namespace tessil
