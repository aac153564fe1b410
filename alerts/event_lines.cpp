#include "alerts/event_lines.h"

#include <cstdio>
#include <cstring>

namespace {

bool IsFolderEntry(uint32_t attributes)
{
    return attributes == 16 || attributes == 18 || attributes == 48;
}

// The text after the stamp; "%s" takes the entry's name. nullptr: no line.
const char* EventText(const EventRecord& r, const char* name)
{
    bool folder = IsFolderEntry(r.attributes());
    switch (r.type) {
    case 1:
        if (folder)
            return std::strlen(name) < 3 && name[0] == '.' ? nullptr : "FLDR CHNG (SW  ) %s";
        return r.changed ? "FILE RELO (SW  ) %s" : "FILE XFND (SW  ) %s";
    case 2:
        if (folder || !r.changed)
            return nullptr;
        return r.detail == 2 ? "NEWF UPLD (CWU ) %s" : "FILE CHUP (CWU ) %s";
    case 3: return "COMM STAT (SW  ) UNABLE TO CONNECT TO WEBSERVER";
    case 4: return "COMM STAT (SW  ) CONNECTION RE-ESTABLISHED";
    case 5: return "COMM STAT (CWU ) UNABLE TO CONNECT TO WEBSERVER";
    case 6: return "COMM STAT (CWU ) CONNECTION RE-ESTABLISHED";
    case 7: return "COMM STAT (MFS ) UNABLE TO CONNECT TO WEBSERVER";
    case 8: return "COMM STAT (MFS ) CONNECTION RE-ESTABLISHED";
    case 9: return "FILE DEL  (STAT) %s";
    case 10: return "FILE DWNL (DYN ) %s";
    case 11: return "COMM STAT (BLNE) UNABLE TO CONNECT TO WEBSERVER";
    case 12: return "COMM STAT (BLNE) CONNECTION RE-ESTABLISHED";
    case 13: return "COMM STAT (MFW ) UNABLE TO CONNECT TO WEBSERVER";
    case 14: return "COMM STAT (MFW ) CONNECTION RE-ESTABLISHED";
    case 15: return "COMM STAT (OPEN) UNABLE TO CONNECT TO INTERNET";
    case 16: return "COMM STAT (OPEN) CONNECTION TO INTERNET RE-ESTABLISHED";
    case 17: return "FLDR DEL  (STAT) %s";
    default: return nullptr;
    }
}

} // namespace

bool FormatEventLine(const EventRecord& record, char* line, size_t lineSize)
{
    if (lineSize == 0)
        return false;
    line[0] = '\0';
    char name[MAX_PATH];
    record.fileName(name, sizeof name);
    for (char* c = name; *c; ++c)
        if (static_cast<unsigned char>(*c) < 32 || *c == 127)
            *c = '?';
    const char* text = EventText(record, name);
    if (!text)
        return false;
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%02d-%02d %02d:%02d ", int(record.stampField(4) + 1),
                  int(record.stampField(3)), int(record.stampField(2)), int(record.stampField(1)));
    char tail[kEventLineSize];
    // The texts are fixed above; only the name is data.
    std::snprintf(tail, sizeof tail, text, name);
    std::snprintf(line, lineSize, "%s%s", stamp, tail);
    return true;
}

uint8_t EventLineColour(const char* line)
{
    if (std::strstr(line, "FLDR CHNG"))
        return 11;
    if (std::strstr(line, "COMM STAT"))
        return std::strstr(line, "UNABLE TO") ? 4 : 5;
    if (std::strstr(line, "FILE XFND"))
        return 7;
    return 3;
}
