// KERNEL32 subset on Linux: files, folders, find, file times, time
// conversion, sleeping, last error. Semantics follow Windows for the arguments
// the program passes; every path goes through PlatformTranslatePath first.
#pragma once

#include "platform/linux/win32_types.h"

// Files.
HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
              LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
               LPOVERLAPPED overlapped);
DWORD SetFilePointer(HANDLE file, LONG distanceToMove, PLONG distanceToMoveHigh,
                     DWORD moveMethod);
BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distanceToMove, PLARGE_INTEGER newFilePointer,
                      DWORD moveMethod);
DWORD GetFileSize(HANDLE file, LPDWORD fileSizeHigh);
BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER fileSize);
BOOL SetEndOfFile(HANDLE file);
BOOL FlushFileBuffers(HANDLE file);
BOOL GetFileTime(HANDLE file, LPFILETIME creationTime, LPFILETIME lastAccessTime,
                 LPFILETIME lastWriteTime);
BOOL SetFileTime(HANDLE file, const FILETIME* creationTime, const FILETIME* lastAccessTime,
                 const FILETIME* lastWriteTime);
BOOL CloseHandle(HANDLE object);

// Names.
DWORD GetFileAttributesA(LPCSTR fileName);
BOOL SetFileAttributesA(LPCSTR fileName, DWORD fileAttributes);
BOOL DeleteFileA(LPCSTR fileName);
BOOL MoveFileA(LPCSTR existingFileName, LPCSTR newFileName);
BOOL MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags);
BOOL CopyFileA(LPCSTR existingFileName, LPCSTR newFileName, BOOL failIfExists);
BOOL CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES security);
BOOL RemoveDirectoryA(LPCSTR pathName);
DWORD GetCurrentDirectoryA(DWORD bufferLength, LPSTR buffer);
BOOL SetCurrentDirectoryA(LPCSTR pathName);

// Find. The mask is the last component of the pattern; "*" and "?" match as
// Windows matches them, without regard to case.
HANDLE FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findFileData);
BOOL FindNextFileA(HANDLE findFile, LPWIN32_FIND_DATAA findFileData);
BOOL FindClose(HANDLE findFile);

// Time.
void GetSystemTimeAsFileTime(LPFILETIME systemTimeAsFileTime);
void GetSystemTime(LPSYSTEMTIME systemTime);
void GetLocalTime(LPSYSTEMTIME systemTime);
BOOL FileTimeToLocalFileTime(const FILETIME* fileTime, LPFILETIME localFileTime);
BOOL LocalFileTimeToFileTime(const FILETIME* localFileTime, LPFILETIME fileTime);
BOOL FileTimeToSystemTime(const FILETIME* fileTime, LPSYSTEMTIME systemTime);
BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, LPFILETIME fileTime);
LONG CompareFileTime(const FILETIME* fileTime1, const FILETIME* fileTime2);
DWORD GetTickCount(void);
void Sleep(DWORD milliseconds);

// Errors, per thread.
DWORD GetLastError(void);
void SetLastError(DWORD errorCode);

// ---------------------------------------------------------------------------
// Threads and processes (threads.cpp, processes.cpp). Thread and process
// handles come from the handle registry: WaitForSingleObject waits for them,
// GetExitCode* reads them and CloseHandle closes them. Closing a handle never
// stops what it names. How Windows program names map to Linux programs is in
// MANIFEST.md ("Threads and processes").

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID parameter);

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu
#define STILL_ACTIVE 259u
#define CREATE_SUSPENDED 0x00000004u
#define STACK_SIZE_PARAM_IS_A_RESERVATION 0x00010000u
#define ERROR_BAD_EXE_FORMAT 193L

typedef struct _STARTUPINFOA {
    DWORD cb;
    LPSTR lpReserved;
    LPSTR lpDesktop;
    LPSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
} STARTUPINFOA, *LPSTARTUPINFOA;

typedef struct _PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
} PROCESS_INFORMATION, *PPROCESS_INFORMATION, *LPPROCESS_INFORMATION;

static_assert(sizeof(STARTUPINFOA) == 104);
static_assert(offsetof(STARTUPINFOA, dwX) == 32);
static_assert(offsetof(STARTUPINFOA, wShowWindow) == 64);
static_assert(offsetof(STARTUPINFOA, hStdInput) == 80);
static_assert(sizeof(PROCESS_INFORMATION) == 24);

// Threads. Flags: 0 or STACK_SIZE_PARAM_IS_A_RESERVATION (CREATE_SUSPENDED:
// ERROR_INVALID_PARAMETER, there is no ResumeThread). The stack is at least
// stackSize bytes. The thread runs to its end whatever happens to the handle.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE startAddress, LPVOID parameter, DWORD creationFlags,
                    LPDWORD threadId);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
DWORD GetCurrentThreadId(void);

// A thread or process handle: WAIT_OBJECT_0 once it has ended, WAIT_TIMEOUT
// after milliseconds (INFINITE: never), WAIT_FAILED with ERROR_INVALID_HANDLE
// for any other handle.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Processes. CreateProcessA takes no application name (the program is the
// first word of the command line), no environment block and the creation
// flags 0; the command line is not modified.
void GetStartupInfoA(LPSTARTUPINFOA startupInfo);
BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                    LPSECURITY_ATTRIBUTES processAttributes,
                    LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                    DWORD creationFlags, LPVOID environment, LPCSTR currentDirectory,
                    LPSTARTUPINFOA startupInfo, LPPROCESS_INFORMATION processInformation);
BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode);
