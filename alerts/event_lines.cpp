#include "alerts/event_lines.h"

#include <cstdio>
#include <cstring>

namespace {

// Only the directory bit makes a folder: a read-only folder is one too.
bool IsFolderEntry(uint32_t attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

const char* SiteEntryText(const EventRecord& r, const char* name)
{
    switch (r.detail) {
    case kDetailPutBackFailed: return "PUTB FAIL (SW  ) %s";
    case kDetailLink: return r.changed ? "LINK RELO (SW  ) %s" : "LINK FND  (SW  ) %s";
    case kDetailModeChanged: return r.changed ? "MODE RELO (SW  ) %s" : "MODE CHNG (SW  ) %s";
    case kDetailClockShift: return "CLCK SHFT (SW  ) %s";
    case kDetailListTruncated: return "LIST TRNC (SW  ) %s";
    default: break;
    }
    if (IsFolderEntry(r.attributes()))
        return std::strlen(name) < 3 && name[0] == '.' ? nullptr : "FLDR CHNG (SW  ) %s";
    return r.changed ? "FILE RELO (SW  ) %s" : "FILE XFND (SW  ) %s";
}

// The text after the stamp; "%s" takes the entry's name. nullptr: no line.
const char* EventText(const EventRecord& r, const char* name)
{
    bool folder = IsFolderEntry(r.attributes());
    switch (r.type) {
    case kEventSiteEntry: return SiteEntryText(r, name);
    case kEventCleanUpload:
        if (folder || !r.changed)
            return nullptr;
        return r.detail == kDetailNewFile ? "NEWF UPLD (CWU ) %s" : "FILE CHUP (CWU ) %s";
    case kEventSiteCheckLost: return "COMM STAT (SW  ) UNABLE TO CONNECT TO WEBSERVER";
    case kEventSiteCheckBack: return "COMM STAT (SW  ) CONNECTION RE-ESTABLISHED";
    case kEventUploadLost: return "COMM STAT (CWU ) UNABLE TO CONNECT TO WEBSERVER";
    case kEventUploadBack: return "COMM STAT (CWU ) CONNECTION RE-ESTABLISHED";
    case kEventRestoreLost: return "COMM STAT (MFS ) UNABLE TO CONNECT TO WEBSERVER";
    case kEventRestoreBack: return "COMM STAT (MFS ) CONNECTION RE-ESTABLISHED";
    case kEventFileDeleted: return r.detail == kDetailNotDeleted ? "FILE NDEL (STAT) %s" : "FILE DEL  (STAT) %s";
    case kEventFileDownloaded: return "FILE DWNL (DYN ) %s";
    case kEventBaselineLost: return "COMM STAT (BLNE) UNABLE TO CONNECT TO WEBSERVER";
    case kEventBaselineBack: return "COMM STAT (BLNE) CONNECTION RE-ESTABLISHED";
    case kEventMirrorLost: return "COMM STAT (MFW ) UNABLE TO CONNECT TO WEBSERVER";
    case kEventMirrorBack: return "COMM STAT (MFW ) CONNECTION RE-ESTABLISHED";
    case kEventInternetLost: return "COMM STAT (OPEN) UNABLE TO CONNECT TO INTERNET";
    case kEventInternetBack: return "COMM STAT (OPEN) CONNECTION TO INTERNET RE-ESTABLISHED";
    case kEventFolderDeleted: return r.detail == kDetailNotDeleted ? "FLDR NDEL (STAT) %s" : "FLDR DEL  (STAT) %s";
    default: return nullptr;
    }
}

// The "unable to connect" types, whose name field holds why, when known.
bool IsLostEvent(uint8_t type)
{
    return type == kEventSiteCheckLost || type == kEventUploadLost || type == kEventRestoreLost ||
           type == kEventBaselineLost || type == kEventMirrorLost || type == kEventInternetLost;
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
    const bool reason = IsLostEvent(record.type) && name[0];
    std::snprintf(line, lineSize, "%s%s%s%s", stamp, tail, reason ? ": " : "", reason ? name : "");
    return true;
}

uint8_t EventLineColour(const char* line)
{
    if (std::strstr(line, "FLDR CHNG") || std::strstr(line, "CLCK SHFT"))
        return 11;
    if (std::strstr(line, "PUTB FAIL") || std::strstr(line, "LIST TRNC") || std::strstr(line, " NDEL "))
        return 4;
    if (std::strstr(line, "COMM STAT"))
        return std::strstr(line, "UNABLE TO") ? 4 : 5;
    if (std::strstr(line, "FILE XFND") || std::strstr(line, "LINK FND") || std::strstr(line, "MODE CHNG"))
        return 7;
    return 3;
}
