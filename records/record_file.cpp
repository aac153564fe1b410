#include "records/record_file.h"

#include "platform/win32.h"

namespace {

bool SeekToRecord(HANDLE file, int32_t number, int32_t size) {
    LARGE_INTEGER position;
    position.QuadPart = (LONGLONG)(number - 1) * size;
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) != 0;
}

int32_t WriteRecordTo(HANDLE file, const void* buffer, int32_t number, int32_t size) {
    if (file == INVALID_HANDLE_VALUE) return -1;
    DWORD written = 0;
    if (SeekToRecord(file, number, size)) WriteFile(file, buffer, (DWORD)size, &written, nullptr);
    CloseHandle(file);
    return (int32_t)written;
}

}  // namespace

int32_t ReadRecord(const char* path, void* buffer, int32_t number, int32_t size) {
    if (number < 1 || size < 1) return -1;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    DWORD got = 0;
    if (SeekToRecord(file, number, size)) ReadFile(file, buffer, (DWORD)size, &got, nullptr);
    CloseHandle(file);
    return (int32_t)got;
}

int32_t WriteRecord(const char* path, const void* buffer, int32_t number, int32_t size) {
    if (number < 1 || size < 1) return -1;
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return WriteRecordTo(file, buffer, number, size);
}

int32_t WritePrivateRecord(const char* path, const void* buffer, int32_t number, int32_t size) {
    if (number < 1 || size < 1) return -1;
    HANDLE file = PlatformCreatePrivateFile(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    return WriteRecordTo(file, buffer, number, size);
}
