// The display-command dispatcher: one switch over the opcode table of
// display_commands.h.
#include <cstdio>

#include "tessil/display_commands.h"
#include "tessil/draw.h"
#include "tessil/input.h"
#include "tessil/screen_program.h"
#include "tessil/state.h"

namespace tessil {

namespace {

// A screen record that chains to itself would otherwise run for ever.
constexpr int kMaxChains = 64;

void SetRectFromUnits(const uint8_t* corners)
{
    draw.x1 = UnitsToX(Word16(corners));
    draw.y1 = UnitsToY(Word16(corners + 2));
    draw.x2 = UnitsToX(Word16(corners + 4));
    draw.y2 = UnitsToY(Word16(corners + 6));
}

void FilledRectangle(uint8_t colour, const uint8_t* corners, bool exclusiveOr)
{
    draw.colour = colour;
    draw.fillColour = colour;
    SetRectFromUnits(corners);
    uint8_t saved = draw.forcedMode;
    if (exclusiveOr)
        draw.forcedMode = kForcedXor;
    FillCurrentRect();
    draw.forcedMode = saved;
}

void ShowNow(uint8_t pause)
{
    PresentSurface();
    if (pause < 255) {
        if (pause)
            PauseLive(int(pause) * 50);
    } else {
        WaitAndRerunScreen();
    }
}

} // namespace

void DispatchDisplayCommands(const uint8_t* start, const uint8_t* end, int mode)
{
    if (!start || !end || end <= start)
        return;
    if (mode != 0) {
        size_t length = DisplayCommandLength(start, size_t(end - start));
        if (start[0] == kCmdText && length)
            DrawTextCommand(start);
        return;
    }

    int chains = 0;
    const uint8_t* p = start;
    while (p < end) {
        uint8_t op = *p;
        if (op == kCmdEnd)
            return;
        if (!IsDisplayOpcode(op)) {
            char text[64];
            std::snprintf(text, sizeof text, "Invalid TWINDOW Event %d, encountered", int(op));
            ShowNotice(text, 2);
            return;
        }
        size_t length = DisplayCommandLength(p, size_t(end - p));
        if (length == 0)
            return; // the command runs past its list: a damaged screen

        switch (op) {
        case kCmdRestoreFont:
            RestoreUserTextFont();
            break;
        case kCmdClearScreen:
            if (draw.pictureDepth == 0)
                CreateScreenBitmap();
            RestoreUserTextFont();
            break;
        case kCmdImage:
            DrawImageCommand(p, length);
            break;
        case kCmdPolyline:
        case kCmdDashedPolyline:
            DrawPolyline(p, op == kCmdDashedPolyline);
            break;
        case kCmdEllipse:
        case kCmdEllipseHeight:
            DrawEllipse(p);
            break;
        case kCmdCurve:
            DrawCurve(p);
            break;
        case kCmdText:
            DrawTextCommand(p);
            break;
        case kCmdTextField:
        case kCmdTextField2:
            DrawTextField(p);
            break;
        case kCmdColourParameter:
            draw.colourParameter = int(p[1]) - 16;
            break;
        case kCmdChain:
        case kCmdChain2: {
            // The chained record replaces the list being run.
            if (!dyn || ++chains > kMaxChains)
                return;
            uint8_t* buffer = draw.pictureDepth ? PictureRecordArea() : dyn->screenRecord;
            if (ReadScreenRecord(dyn->screenFilePath, p[1], buffer) <= 0)
                return;
            p = buffer;
            end = buffer + kRecordSize;
            continue;
        }
        case kCmdShowNow:
            ShowNow(p[1]);
            break;
        case kCmdFillRect:
            FilledRectangle(p[1], p + 2, false);
            break;
        case kCmdFloodFill:
            FillArea(p);
            break;
        case kCmdCharSize:
            draw.charSize[0] = p[1];
            draw.charSize[1] = p[2];
            break;
        case kCmdTextGrid:
            draw.textGridColumns = Word16(p + 1);
            draw.textGridRows = Word16(p + 3);
            DropUserTextFont();
            break;
        case kCmdOpaqueText:
            draw.textBackground = 0;
            break;
        case kCmdTransparentText:
            draw.textBackground = 1;
            break;
        case kCmdSavedRect:
        case kCmdXorRect:
            if (p[1] || p[2])
                FilledRectangle(p[1], p + 3, op == kCmdXorRect);
            break;
        case kCmdViewport:
            BeginViewport(p + 2);
            break;
        case kCmdEndViewport:
            EndViewport();
            break;
        case kCmdFlatFrame:
        case kCmdRaisedFrame:
        case kCmdSunkenFrame:
        case kCmdButtonFrame:
            DrawFrame(p);
            break;
        case kCmdShadowFrame:
        case kCmdShadowFrame2:
            DrawShadowFrame(p);
            break;
        case kCmdRoundBox:
        case kCmdRoundBox2:
            DrawRoundBox(p);
            break;
        case kCmdTableLookup210:
        case kCmdTableLookup212:
        case kCmdTableLookup213:
        case kCmdTableLookup214:
            // Table lookups need a table file this program does not ship.
            ShowNotice("MOXTBL File does not exist for this display", 0);
            break;
        case kCmdPolygon:
            DrawPolygonCommand(p);
            break;
        case kCmdPicture:
            DrawPicture(p);
            break;
        default:
            // Data-only commands and buttons draw nothing when executed.
            break;
        }
        p += length;
    }
}

} // namespace tessil
