// Text fields: the records a screen's text lives in, and their refresh.
//
// Text field record (in the dynamic block's field area):
//   byte 0          252
//   byte 1          bits 0-6 colour index; bit 7 set = drawn, clear = changed
//   byte 2          width w, the characters shown
//   bytes 3-4       u, left edge in screen units, high byte first
//   bytes 5-6       v, top edge
//   bytes 7..w+106  w + 100 characters, padded with the fill character, not
//                   terminated; the 100 beyond the width scroll into view
//                   while the field is edited
#include <cstdio>
#include <cstring>

#include "tessil/display_commands.h"
#include "tessil/state.h"

namespace tessil {

bool fieldMasked[kMaxFields];

namespace {

constexpr uint8_t kDrawn = 0x80;
// A refresh executes its list once it holds more than this, so that a list
// always fits the command buffer with one more field and the end byte.
constexpr size_t kRefreshBatch = 2880;

uint8_t* TextField(int16_t field)
{
    if (field < 0 || field >= int(fieldCount))
        return nullptr;
    uint8_t* record = fieldTable[field];
    return record && record[0] == kCmdTextFieldRecord ? record : nullptr;
}

// A non-zero fill wants opaque text, a zero fill transparent text.
void MatchBackground(char fill)
{
    static const uint8_t opaque[] = {kCmdOpaqueText, kCmdEnd};
    static const uint8_t transparent[] = {kCmdTransparentText, kCmdEnd};
    if (fill && draw.textBackground != 0)
        DispatchDisplayCommands(opaque, opaque + 2, 0);
    else if (!fill && draw.textBackground == 0)
        DispatchDisplayCommands(transparent, transparent + 2, 0);
}

enum class ValueKind { None, Int32, Int16, Float };

struct Conversion {
    ValueKind kind = ValueKind::None;
    bool hex = false;
};

// The value's type comes from the format's one numeric conversion: "%ld" a
// 32-bit integer, "%d" a 16-bit one, "%lx"/"%lX" 32 bits, "%x"/"%X" 16 bits,
// "%f", "%g", "%e" a float. Anything else, or more than one conversion, or a
// '*' that would read another argument, is refused.
Conversion ParseFormat(const char* format)
{
    Conversion found;
    int conversions = 0;
    for (const char* p = format; *p; ++p) {
        if (*p != '%')
            continue;
        if (p[1] == '%') {
            ++p;
            continue;
        }
        if (++conversions > 1)
            return {};
        const char* q = p + 1;
        while (*q && std::strchr("-+ #0123456789.", *q))
            ++q;
        bool isLong = *q == 'l';
        if (isLong)
            ++q;
        switch (*q) {
        case 'd':
        case 'i':
            found.kind = isLong ? ValueKind::Int32 : ValueKind::Int16;
            break;
        case 'x':
        case 'X':
            found.kind = isLong ? ValueKind::Int32 : ValueKind::Int16;
            found.hex = true;
            break;
        case 'f':
        case 'g':
        case 'e':
        case 'E':
        case 'G':
            if (isLong)
                return {};
            found.kind = ValueKind::Float;
            break;
        default:
            return {};
        }
        p = q;
    }
    return found;
}

// "%ld" wants a long, whose size differs between the systems, so a 32-bit
// value is widened to one; "%x" of a 16-bit value shows its 16 bits.
int FormatValue(char* out, size_t size, const char* format, Conversion c, const void* value)
{
    switch (c.kind) {
    case ValueKind::Int32: {
        int32_t v;
        std::memcpy(&v, value, sizeof v);
        return c.hex ? std::snprintf(out, size, format, static_cast<unsigned long>(uint32_t(v)))
                     : std::snprintf(out, size, format, static_cast<long>(v));
    }
    case ValueKind::Int16: {
        int16_t v;
        std::memcpy(&v, value, sizeof v);
        return c.hex ? std::snprintf(out, size, format, unsigned(uint16_t(v))) : std::snprintf(out, size, format, int(v));
    }
    case ValueKind::Float: {
        float v;
        std::memcpy(&v, value, sizeof v);
        return std::snprintf(out, size, format, double(v));
    }
    default:
        return -1;
    }
}

} // namespace

uint16_t FindField(uint8_t kind, uint16_t ordinal)
{
    uint16_t seen = 0;
    for (uint16_t i = 0; i < fieldCount; ++i) {
        if (fieldTable[i] && fieldTable[i][0] == kind && ++seen == ordinal)
            return i;
    }
    return 65535;
}

uint16_t SetFieldText(int16_t field, const char* text, char fill)
{
    if (field < 0)
        return 0;
    MatchBackground(fill);
    uint8_t* record = TextField(field);
    if (!record)
        return 0;
    record[1] &= uint8_t(~kDrawn);
    int capacity = record[2] + kFieldOverrun;
    char* buffer = reinterpret_cast<char*>(record + kFieldTextOffset);
    int n = 0;
    if (text) {
        while (n < capacity) {
            buffer[n] = text[n];
            if (text[n++] == 0)
                break;
        }
    }
    std::memset(buffer + n, fill, size_t(capacity - n));
    return uint16_t(capacity);
}

uint16_t SetFieldValue(int16_t field, const char* format, const void* value, char fill)
{
    if (field < 0 || !format || !value)
        return 0;
    MatchBackground(fill);
    uint8_t* record = TextField(field);
    if (!record)
        return 0;
    char text[512];
    int length = FormatValue(text, sizeof text, format, ParseFormat(format), value);
    if (length < 0)
        return 0;
    record[1] &= uint8_t(~kDrawn);
    int width = record[2];
    char* buffer = reinterpret_cast<char*>(record + kFieldTextOffset);
    int n = 0;
    for (; n < width && n < length && text[n]; ++n)
        buffer[n] = text[n] == ' ' ? fill : text[n];
    std::memset(buffer + n, fill, size_t(width - n));
    return uint16_t(width);
}

int MaskField(int16_t field)
{
    uint8_t* record = TextField(field);
    if (!record)
        return 0;
    fieldMasked[field] = true;
    record[1] &= uint8_t(~kDrawn);
    return 1;
}

int SetFieldColour(int16_t field, uint8_t colour)
{
    if (field < 0 || field >= int(fieldCount) || !fieldTable[field])
        return 0;
    fieldTable[field][1] = colour;
    return 1;
}

void RefreshFields()
{
    if (!dyn)
        return;
    uint8_t* buffer = dyn->commandBuffer;
    size_t used = 0;
    for (uint16_t i = 0; i < fieldCount; ++i) {
        uint8_t* record = fieldTable[i];
        if (!record || record[0] != kCmdTextFieldRecord || (record[1] & kDrawn))
            continue;
        int width = record[2];
        buffer[used] = kCmdTextField;
        std::memcpy(buffer + used + 1, record + 1, 6);
        // While a field is edited past its width, the cursor's character is
        // the last one shown.
        int first = scrollOffset >= width ? scrollOffset - width + 1 : 0;
        if (first + width > width + kFieldOverrun)
            first = kFieldOverrun;
        uint8_t* shown = buffer + used + kFieldTextOffset;
        std::memcpy(shown, record + kFieldTextOffset + first, size_t(width));
        if (fieldMasked[i])
            for (int c = 0; c < width; ++c)
                if (shown[c] > ' ')
                    shown[c] = '*';
        used += kFieldTextOffset + size_t(width);
        record[1] |= kDrawn;
        if (used > kRefreshBatch) {
            buffer[used++] = kCmdEnd;
            ExecuteDisplayList(buffer, buffer + used, 0);
            used = 0;
        }
    }
    if (used) {
        buffer[used++] = kCmdEnd;
        ExecuteDisplayList(buffer, buffer + used, 0);
    }
    if (!timedChoiceWait)
        ScheduleRepaint(250);
}

} // namespace tessil
