// Windows: the WinINet FTP calls of the program go through these
// dispatchers (platform/win/wininet_routing.cpp). The system's WinINet has
// no FTP over TLS, so a connection asked for with INTERNET_FLAG_SECURE (or
// PLATFORM_FLAG_IMPLICIT_TLS) is the program's own client, and every call on
// one of its handles goes there; every other connection and handle is the
// system's, unchanged. The macros rename the calls rather than redefine the
// functions, which the system's header declares as imported.
// InternetGetLastResponseInfoA answers from whichever served this thread's
// last routed call.
#pragma once

#define InternetConnectA PlatformInternetConnectA
#define FtpGetCurrentDirectoryA PlatformFtpGetCurrentDirectoryA
#define FtpSetCurrentDirectoryA PlatformFtpSetCurrentDirectoryA
#define FtpCreateDirectoryA PlatformFtpCreateDirectoryA
#define FtpRemoveDirectoryA PlatformFtpRemoveDirectoryA
#define FtpDeleteFileA PlatformFtpDeleteFileA
#define FtpRenameFileA PlatformFtpRenameFileA
#define FtpCommandA PlatformFtpCommandA
#define FtpFindFirstFileA PlatformFtpFindFirstFileA
#define InternetFindNextFileA PlatformInternetFindNextFileA
#define FtpPutFileA PlatformFtpPutFileA
#define FtpGetFileA PlatformFtpGetFileA
#define InternetCloseHandle PlatformInternetCloseHandle
#define InternetGetLastResponseInfoA PlatformInternetGetLastResponseInfoA

HINTERNET PlatformInternetConnectA(HINTERNET internet, LPCSTR serverName,
                                   INTERNET_PORT serverPort, LPCSTR userName, LPCSTR password,
                                   DWORD service, DWORD flags, DWORD_PTR context);
BOOL PlatformFtpGetCurrentDirectoryA(HINTERNET connect, LPSTR currentDirectory, LPDWORD length);
BOOL PlatformFtpSetCurrentDirectoryA(HINTERNET connect, LPCSTR directory);
BOOL PlatformFtpCreateDirectoryA(HINTERNET connect, LPCSTR directory);
BOOL PlatformFtpRemoveDirectoryA(HINTERNET connect, LPCSTR directory);
BOOL PlatformFtpDeleteFileA(HINTERNET connect, LPCSTR fileName);
BOOL PlatformFtpRenameFileA(HINTERNET connect, LPCSTR existing, LPCSTR newName);
// The own client takes only expectResponse FALSE (platform/linux/wininet.h).
BOOL PlatformFtpCommandA(HINTERNET connect, BOOL expectResponse, DWORD flags, LPCSTR command,
                         DWORD_PTR context, HINTERNET* ftpCommand);
HINTERNET PlatformFtpFindFirstFileA(HINTERNET connect, LPCSTR searchFile,
                                    LPWIN32_FIND_DATAA findFileData, DWORD flags,
                                    DWORD_PTR context);
BOOL PlatformInternetFindNextFileA(HINTERNET find, LPVOID findData);
BOOL PlatformFtpPutFileA(HINTERNET connect, LPCSTR localFile, LPCSTR newRemoteFile, DWORD flags,
                         DWORD_PTR context);
BOOL PlatformFtpGetFileA(HINTERNET connect, LPCSTR remoteFile, LPCSTR newFile,
                         BOOL failIfExists, DWORD flagsAndAttributes, DWORD flags,
                         DWORD_PTR context);
BOOL PlatformInternetCloseHandle(HINTERNET internet);
BOOL PlatformInternetGetLastResponseInfoA(LPDWORD error, LPSTR buffer, LPDWORD length);
