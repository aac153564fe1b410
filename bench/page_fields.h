// The monitor page's shape for the benchmarks: 27 text fields of 80
// characters down the screen, loaded as a screen program would load them.
#pragma once

#include <cstdint>
#include <cstring>

#include "tessil/display_commands.h"
#include "tessil/screen_program.h"

// Field i gets colour colourOf(i) (bits 0-3 text, 4-7 band).
inline void LoadPageFields(uint8_t (*colourOf)(int))
{
    static uint8_t record[tessil::kRecordSize];
    static uint8_t output[tessil::kCommandBufferSize];
    std::memset(record, tessil::kCmdEnd, sizeof record);
    uint8_t* p = record;
    for (int i = 0; i < 27; ++i) {
        int v = 400 + i * 350;
        const uint8_t command[7] = {tessil::kCmdTextField, uint8_t(0x80 | colourOf(i)), 80, 0, 0, uint8_t(v >> 8),
                                    uint8_t(v)};
        std::memcpy(p, command, sizeof command);
        std::memset(p + sizeof command, ' ', 80);
        p += sizeof command + 80;
    }
    tessil::LoadScreenProgram(record, output, 2);
}
