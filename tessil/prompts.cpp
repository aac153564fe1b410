#include "tessil/prompts.h"

#include <cstring>

#include "tessil/display_commands.h"
#include "tessil/input.h"
#include "tessil/screen_program.h"
#include "tessil/state.h"

namespace tessil {

bool timedChoiceWait = false;

namespace {

int choiceWaits = 0;

struct ButtonRect {
    int left, top, right, bottom;
    uint8_t code;
};

bool IsButtonKind(uint8_t kind) { return kind == kCmdButton206 || (kind >= kCmdButton230 && kind <= kCmdButton233); }

// A button's rectangle in pixels, converted without the rounding term.
ButtonRect RectOf(const uint8_t* record)
{
    const uint8_t* r = record[0] == kCmdButton206 ? record + 1 : record + 2;
    ButtonRect b;
    b.left = UnitsToXExact(Word16(r));
    b.top = UnitsToYExact(Word16(r + 2));
    b.right = UnitsToXExact(Word16(r + 4));
    b.bottom = UnitsToYExact(Word16(r + 6));
    b.code = record[0] == kCmdButton206 ? record[9] : record[12];
    return b;
}

bool Inside(const ButtonRect& b, int x, int y) { return x >= b.left && x <= b.right && y >= b.top && y <= b.bottom; }

// The caret: a two-pixel bar under the cursor's character, drawn by
// exclusive-or so that drawing it again removes it.
struct Caret {
    bool shown = false;
    int x = 0, y = 0, width = 0;

    void Toggle()
    {
        RasterFillRect(DrawCanvas(), x, y, x + width - 1, y + 1, ColourPixel(3), RasterOp::Xor);
        shown = !shown;
        PresentSurface();
    }
    void Show(int atX, int atY, int w)
    {
        Hide();
        x = atX;
        y = atY;
        width = w > 0 ? w : 1;
        Toggle();
    }
    void Hide()
    {
        if (shown)
            Toggle();
    }
};

int CaretX(const uint8_t* field, int left, int cursor)
{
    if (screenMode == 1)
        return left + int(cursor * (screen.width / 80.0));
    int x = left;
    const uint8_t* text = field + kFieldTextOffset;
    for (int i = 0; i < cursor; ++i) {
        unsigned c = text[i];
        int advance = screenMode == 3 ? font16x16[34 * c + 33] : font12x12[20 * c + 19];
        x += advance ? advance : screen.cellWidthPx;
    }
    return x;
}

void CopyOut(const uint8_t* field, char* text, size_t textSize)
{
    if (!text || textSize == 0)
        return;
    size_t n = size_t(field[2]) + kFieldOverrun;
    if (n > textSize - 1)
        n = textSize - 1;
    std::memcpy(text, field + kFieldTextOffset, n);
    text[n] = 0;
}

} // namespace

bool ChoiceWaitRunning() { return choiceWaits > 0; }

uint8_t ButtonCode(uint16_t field)
{
    if (field >= fieldCount || !fieldTable[field] || !IsButtonKind(fieldTable[field][0]))
        return 0;
    return RectOf(fieldTable[field]).code;
}

uint16_t WaitForChoice(uint16_t& field, uint8_t wait, uint16_t entry)
{
    struct Running {
        Running() { ++choiceWaits; }
        ~Running() { --choiceWaits; }
    } running;
    screenHost.outputEnabled = true;
    uint16_t editorResult = 0;
    if (wait == 255) {
        SystemRequest(3);
        if (entry == 0) {
            do
                SystemRequest(2);
            while (!mouseButton && !shutdownRequested && CanWaitForInput());
        } else {
            timedChoiceWait = true;
            do
                editorResult = EditField(entry, nullptr, 0, ScreenKeepsEntryText());
            while (!editorResult && !mouseButton && !shutdownRequested && CanWaitForInput());
            timedChoiceWait = false;
        }
    }
    if (!mouseButton && !shutdownRequested) {
        field = editorResult;
        return kChoiceEdited;
    }
    if (mouseButton == 2 || shutdownRequested)
        return kChoiceCancel;
    if (mouseButton >= 201) {
        field = editorResult;
        return mouseButton;
    }
    for (uint16_t i = field; i < fieldCount; ++i) {
        const uint8_t* record = fieldTable[i];
        if (!record || !IsButtonKind(record[0]))
            continue;
        ButtonRect b = RectOf(record);
        if (b.code == 255 || !Inside(b, mouseX, mouseY))
            continue;
        field = i;
        if (record[0] != kCmdButton206) {
            // The pressed button is drawn sunken once.
            uint8_t box[13] = {kCmdSunkenFrame, record[1], record[2], record[3], record[4], record[5], record[6],
                               record[7], record[8], record[9], record[10], record[11], kCmdEnd};
            ExecuteDisplayList(box, box + sizeof box, 0);
        }
        return kChoiceButton;
    }
    if (entry == 0) {
        MessageBeep(UINT(-1));
        return kChoiceMissed;
    }
    field = editorResult;
    return kChoiceEdited;
}

uint16_t PlaceCursorOnButton(uint16_t from)
{
    for (uint16_t i = from; i < fieldCount; ++i) {
        const uint8_t* record = fieldTable[i];
        if (!record || !IsButtonKind(record[0]))
            continue;
        ButtonRect b = RectOf(record);
        if (b.code != 255)
            continue;
        if (!Inside(b, mouseX, mouseY)) {
            mouseX = uint16_t((b.left + b.right) / 2);
            mouseY = uint16_t((b.top + b.bottom) / 2);
            draw.x1 = b.left;
            draw.y1 = b.top;
            draw.x2 = b.right;
            draw.y2 = b.bottom;
            SystemRequest(10);
        }
        SystemRequest(3);
        return uint16_t(i + 1);
    }
    return 0;
}

uint16_t EditField(uint16_t entry, char* text, size_t textSize, bool keep)
{
    uint16_t index = FindField(kCmdTextFieldRecord, entry);
    if (index == 65535)
        return 0;
    uint8_t* field = fieldTable[index];
    const int width = field[2];
    const int capacity = width + kFieldOverrun;
    char* buffer = reinterpret_cast<char*>(field + kFieldTextOffset);

    static const uint8_t opaque[] = {kCmdOpaqueText, kCmdEnd};
    DispatchDisplayCommands(opaque, opaque + sizeof opaque, 0);
    const int left = UnitsToX(Word16(field + 3));
    const int caretRow = UnitsToY(Word16(field + 5)) + 2 * screen.strokeY;
    field[1] &= 0x7F;
    if (keep && text) {
        size_t n = 0;
        while (n < textSize && text[n])
            ++n;
        std::memset(buffer, 0, size_t(capacity));
        std::memcpy(buffer, text, n < size_t(capacity) ? n : size_t(capacity));
    } else if (!keep) {
        std::memset(buffer, 0, size_t(capacity));
    }
    scrollOffset = 0;
    RefreshFields();
    draw.colour = 3;
    functionKeyMode = 1;
    Caret caret;
    caret.Show(CaretX(field, left, 0), caretRow, screen.cellWidthPx);

    uint16_t readAt = inputWrite;
    int result = -1;
    while (result < 0) {
        if (shutdownRequested || !CanWaitForInput()) {
            result = 0;
            break;
        }
        SystemRequest(2);
        if (mouseButton)
            QueueInput(13);
        while (readAt != inputWrite && result < 0) {
            auto next = [&]() {
                uint8_t b = inputQueue[readAt];
                readAt = uint16_t((readAt + 1) % kInputQueueSize);
                return b;
            };
            int cursor = scrollOffset;
            uint8_t c = next();
            if (c == kMouseRecord) {
                uint8_t record[5];
                for (uint8_t& b : record)
                    b = next();
                mouseButton = record[0];
                mouseX = uint16_t((record[1] << 8) | record[2]);
                mouseY = uint16_t((record[3] << 8) | record[4]);
                result = cursor == 0 ? 255 : 0;
            } else if (c == 0) {
                switch (next()) {
                case kScanUp: result = 253; break;
                case kScanDown: result = 254; break;
                case kScanLeft:
                    if (cursor > 0)
                        --cursor;
                    break;
                case kScanRight:
                    if (cursor < capacity) {
                        if (buffer[cursor] == 0)
                            buffer[cursor] = ' ';
                        ++cursor;
                    }
                    break;
                case kScanDelete:
                    if (cursor < capacity) {
                        std::memmove(buffer + cursor, buffer + cursor + 1, size_t(capacity - cursor - 1));
                        buffer[capacity - 1] = 0;
                    }
                    break;
                case kScanCtrlDelete:
                    std::memset(buffer + cursor, 0, size_t(capacity - cursor));
                    result = width;
                    break;
                default:
                    break;
                }
            } else if (c == 8) {
                if (cursor > 0) {
                    std::memmove(buffer + cursor - 1, buffer + cursor, size_t(capacity - cursor));
                    buffer[capacity - 1] = ' ';
                    --cursor;
                }
            } else if (c == 9 || c == 13) {
                result = cursor == 0 ? 255 : width;
            } else if (c == 27) {
                mouseButton = 2;
                result = 0;
            } else if (c >= 32 && cursor < capacity) {
                if (insertMode && cursor < width - 1)
                    std::memmove(buffer + cursor + 1, buffer + cursor, size_t(width - 1 - cursor));
                buffer[cursor++] = char(c);
                field[1] = draw.colour;
            }
            scrollOffset = uint16_t(cursor);
            field[1] &= 0x7F;
            caret.Hide();
            RefreshFields();
            CopyOut(field, text, textSize);
            int shown = cursor >= width ? width - 1 : cursor;
            caret.Show(CaretX(field, left, shown), caretRow, screen.cellWidthPx);
        }
    }
    caret.Hide();
    functionKeyMode = 0;
    CopyOut(field, text, textSize);
    return uint16_t(result);
}

uint16_t GetFieldText(int16_t field, char* out, size_t outSize, char stop)
{
    if (field < 0 || field >= int(fieldCount) || !fieldTable[field] || fieldTable[field][0] != kCmdTextFieldRecord ||
        !out || outSize == 0)
        return 0;
    const uint8_t* record = fieldTable[field];
    size_t capacity = size_t(record[2]) + kFieldOverrun;
    size_t room = outSize - 1 < capacity ? outSize - 1 : capacity;
    std::memset(out, 0, room + 1);
    size_t n = 0;
    for (; n < room; ++n) {
        char c = char(record[kFieldTextOffset + n]);
        if (c == stop)
            break;
        out[n] = c ? c : ' ';
    }
    scrollOffset = 0;
    return uint16_t(n);
}

} // namespace tessil
