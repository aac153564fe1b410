// Reading records of screen files ("books"): 3200-byte records numbered from 1.
#include <cstring>

#include "tessil/state.h"

namespace tessil {

namespace {

// The last file named stays open: a picture's or a chain's records are read
// one after the other from the same file.
HANDLE openFile = INVALID_HANDLE_VALUE;
char openPath[MAX_PATH];

bool Open(const char* path)
{
    if (openFile != INVALID_HANDLE_VALUE && std::strcmp(openPath, path) == 0)
        return true;
    CloseScreenFiles();
    if (std::strlen(path) >= sizeof openPath)
        return false;
    openFile = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (openFile == INVALID_HANDLE_VALUE)
        return false;
    std::strcpy(openPath, path);
    return true;
}

} // namespace

int ReadScreenRecord(const char* path, int number, uint8_t* buffer)
{
    if (!path || !path[0] || number < 1 || !Open(path))
        return 0;
    LARGE_INTEGER offset;
    offset.QuadPart = LONGLONG(number - 1) * kRecordSize;
    DWORD got = 0;
    if (!SetFilePointerEx(openFile, offset, nullptr, FILE_BEGIN) ||
        !ReadFile(openFile, buffer, kRecordSize, &got, nullptr) || got == 0)
        return 0;
    // The last record of a file may be short; what it lacks ends the list.
    std::memset(buffer + got, 255, kRecordSize - got);
    return int(got);
}

void CloseScreenFiles()
{
    if (openFile != INVALID_HANDLE_VALUE)
        CloseHandle(openFile);
    openFile = INVALID_HANDLE_VALUE;
    openPath[0] = 0;
}

} // namespace tessil
