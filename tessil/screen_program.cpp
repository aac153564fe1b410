#include "tessil/screen_program.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tessil/display_commands.h"
#include "tessil/input.h"
#include "tessil/prompts.h"
#include "tessil/state.h"

namespace tessil {

namespace {

constexpr int kMaxChains = 64;
constexpr int kMaxFollowUps = 16;

int currentRecord = 0;
char previousBook[sizeof DynamicBlock::screenFilePath];
char menuScreen[sizeof DynamicBlock::screenFilePath];
bool keepEntryText = true;
int followUp = 0;
bool rerunPending = false;
int loading = 0;

// Appends a command to the output list, executing what the list holds first
// when it would not fit.
struct Output {
    uint8_t* buffer;
    size_t used = 0;
    int mode;

    bool Draws() const { return mode <= 1; }
    void Flush()
    {
        if (Draws() && used) {
            buffer[used++] = kCmdEnd;
            ExecuteDisplayList(buffer, buffer + used, 0);
        }
        used = 0;
    }
    // A command to draw (modes 0 and 1).
    void Append(const uint8_t* command, size_t length)
    {
        if (!Draws())
            return;
        if (used + length + 1 > kCommandBufferSize)
            Flush();
        std::memcpy(buffer + used, command, length);
        used += length;
    }
    // Mode 4's copy of every command; what does not fit is cut off.
    void Copy(const uint8_t* command, size_t length)
    {
        if (used + length + 1 > kCommandBufferSize)
            return;
        std::memcpy(buffer + used, command, length);
        used += length;
    }
};

// The field area's next free byte, and room for a record of `size` bytes.
size_t fieldFree = 0;

uint8_t* NewField(size_t size)
{
    if (fieldCount >= kMaxFields) {
        ShowMessageLine("DYNAMIC ADDRESS TABLE OVERFLOW", 0, 0, 227);
        WaitTicks(2);
        return nullptr;
    }
    if (fieldFree + size > sizeof dyn->fieldArea) {
        ShowMessageLine("DYNAMIC TABLES OVERFLOW...TESSIL Abort", 0, 0, 227);
        WaitTicks(2);
        return nullptr;
    }
    uint8_t* record = dyn->fieldArea + fieldFree;
    fieldFree += size;
    fieldTable[fieldCount++] = record;
    return record;
}

void StartScreen()
{
    std::fill(fieldMasked, fieldMasked + kMaxFields, false);
    fieldCount = 0;
    fieldFree = 0;
    keepEntryText = true;
    followUp = 0;
}

// Replaces the extension of name (or appends one) with ".plt".
void BookName(const char* name, char* out, size_t size)
{
    const char* dot = std::strrchr(name, '.');
    const char* slash = std::strrchr(name, '\\');
    const char* forward = std::strrchr(name, '/');
    if (forward && (!slash || forward > slash))
        slash = forward;
    size_t stem = dot && (!slash || dot > slash) ? size_t(dot - name) : std::strlen(name);
    std::snprintf(out, size, "%.*s.plt", int(stem), name);
}

int LoadMode(int runMode)
{
    switch (runMode) {
    case 3: return 3;
    case 6: return 0;
    default: return 1;
    }
}

} // namespace

int LoadScreenProgram(const uint8_t* record, uint8_t* output, int mode)
{
    if (!dyn || !record || !output)
        return 0;
    ++loading;
    Output out{output, 0, mode};
    const uint8_t* p = record;
    const uint8_t* end = record + kRecordSize;
    int chains = 0;
    bool cut = false;
    while (p < end && !cut) {
        uint8_t op = *p;
        if (op == kCmdEnd)
            break;
        size_t length = IsDisplayOpcode(op) ? DisplayCommandLength(p, size_t(end - p)) : 0;
        if (length == 0) {
            // Not a command, or one that runs off the record: the dispatcher
            // reports a byte that is no opcode; a cut command is dropped.
            if (!IsDisplayOpcode(op))
                out.Append(p, 1);
            break;
        }
        if (mode == 4)
            out.Copy(p, length);
        switch (op) {
        case kCmdRestoreFont:
        case kCmdClearScreen:
            StartScreen();
            out.Append(p, length);
            break;
        case kCmdTextField:
        case kCmdTextField2:
            if (p[1] & kFieldFlag) {
                uint8_t width = p[2];
                uint8_t* f = NewField(kFieldTextOffset + size_t(width) + kFieldOverrun);
                if (!f) {
                    cut = true;
                    break;
                }
                f[0] = kCmdTextFieldRecord;
                std::memcpy(f + 1, p + 1, kFieldTextOffset - 1);
                std::memcpy(f + kFieldTextOffset, p + kFieldTextOffset, width);
                std::memset(f + kFieldTextOffset + width, 0, kFieldOverrun);
            }
            out.Append(p, length);
            break;
        case kCmdButton205:
        case kCmdButton206: {
            size_t text = op == kCmdButton206 ? size_t(p[11]) + 1 : 0;
            uint8_t* f = NewField(10 + text);
            if (!f) {
                cut = true;
                break;
            }
            f[0] = op;
            std::memcpy(f + 1, p + 2, 9);
            if (text) {
                std::memcpy(f + 10, p + 12, text - 1);
                f[10 + text - 1] = 0;
            }
            // The button is drawn as a flat box.
            uint8_t box[12] = {kCmdFlatFrame, p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8], p[9], 0, 0};
            out.Append(box, sizeof box);
            break;
        }
        case kCmdButton230:
        case kCmdButtonFrame:
        case kCmdButton232:
        case kCmdButton233: {
            uint8_t* f = NewField(length);
            if (!f) {
                cut = true;
                break;
            }
            std::memcpy(f, p, length);
            out.Append(p, length);
            break;
        }
        case kCmdChain:
        case kCmdChain2: {
            int next = p[1];
            out.Flush();
            if (++chains > kMaxChains || ReadScreenRecord(dyn->screenFilePath, next, dyn->screenRecord) <= 0) {
                cut = true;
                break;
            }
            p = dyn->screenRecord;
            end = p + kRecordSize;
            continue;
        }
        case kCmdScreenOptions:
            followUp = p[1];
            keepEntryText = p[2] != 0;
            break;
        default:
            // The dispatcher passes over the data-only commands.
            out.Append(p, length);
            break;
        }
        p += length;
    }
    if (mode == 4) {
        if (out.used < kCommandBufferSize)
            output[out.used] = kCmdEnd;
    } else {
        out.Flush();
    }
    --loading;
    RunPendingRerun();
    return 1;
}

int OpenBook(const char* path, int record, int mode)
{
    if (!CreateDynamicBuffers() || !path)
        return 0;
    char before[sizeof previousBook];
    std::memcpy(before, dyn->screenFilePath, sizeof before);
    std::snprintf(dyn->screenFilePath, sizeof dyn->screenFilePath, "%s", path);
    if (ReadScreenRecord(dyn->screenFilePath, record, dyn->screenRecord) <= 0) {
        std::memcpy(dyn->screenFilePath, before, sizeof before);
        if (ReadScreenRecord(dyn->screenFilePath, record, dyn->screenRecord) <= 0) {
            char text[160];
            std::snprintf(text, sizeof text, "%s - book not found, support@kestrovane.com", path);
            ShowMessageLine(text, 0, 0, 195);
            WaitTicks(5);
            if (screenHost.exitProgram)
                screenHost.exitProgram();
            return 0;
        }
    }
    std::memcpy(previousBook, before, sizeof previousBook);
    currentRecord = record;
    LoadScreenProgram(dyn->screenRecord, dyn->commandBuffer, mode);
    // A follow-up names the next record of the same book; a chain of them ends.
    for (int n = 0; followUp && n < kMaxFollowUps; ++n) {
        int next = followUp;
        followUp = 0;
        if (ReadScreenRecord(dyn->screenFilePath, next, dyn->screenRecord) <= 0)
            break;
        currentRecord = next;
        LoadScreenProgram(dyn->screenRecord, dyn->commandBuffer, mode);
    }
    return 0;
}

int RunScreen(const char* name, int record, int mode)
{
    if (!CreateDynamicBuffers() || !name)
        return 1;
    char path[sizeof DynamicBlock::screenFilePath];
    BookName(name, path, sizeof path);
    std::memcpy(menuScreen, path, sizeof menuScreen);
    uint8_t buffer[kRecordSize];
    int got = ReadScreenRecord(path, record, buffer);
    if (got >= kRecordSize) {
        OpenBook(path, record, LoadMode(mode));
        return 0;
    }
    if (got <= 0 || buffer[0] == kCmdEnd)
        return 1;
    std::snprintf(dyn->screenFilePath, sizeof dyn->screenFilePath, "%s", path);
    std::memcpy(dyn->screenRecord, buffer, sizeof buffer);
    currentRecord = record;
    LoadScreenProgram(dyn->screenRecord, dyn->commandBuffer, LoadMode(mode));
    return 0;
}

const char* MenuScreenName() { return menuScreen; }

bool ScreenKeepsEntryText() { return keepEntryText; }

void WaitAndRerunScreen()
{
    uint16_t field = 0;
    int result = WaitForChoice(field, 255, 0);
    bool functionKey = (mouseButton >= 59 && mouseButton <= 66) || (mouseButton >= 94 && mouseButton <= 101);
    if (result != 2 && !functionKey)
        rerunPending = true;
}

// The re-run waits until the list (and any load) that asked for it is done,
// so that it does not rebuild the field table under a loader's feet.
void RunPendingRerun()
{
    if (!rerunPending || loading || !dyn || currentRecord <= 0)
        return;
    rerunPending = false;
    if (ReadScreenRecord(dyn->screenFilePath, currentRecord, dyn->screenRecord) > 0)
        LoadScreenProgram(dyn->screenRecord, dyn->commandBuffer, 3);
}

} // namespace tessil
