// Calls that move data run in a short-lived worker thread while the main
// thread polls every 50 ms with the window live. The web requests have a time
// limit; a worker that outlives it is abandoned, never killed (killing a
// thread inside the network library would leave its locks held): what it
// returns late is released by the worker itself and never seen by the caller.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// FtpPutFileA of the local file to the remote name over the FTP connection
// (`connection` is not used), binary. Waits as long as the transfer takes.
int32_t UploadFile(HINTERNET connection, const char* localPath, const char* remoteName);
// FtpGetFileA of the remote name into the local file, which is replaced.
int32_t DownloadFile(HINTERNET connection, const char* remoteName, const char* localPath);

// InternetOpenUrlA, given up after 301 rounds of 50 ms (about 15 s): null.
HINTERNET OpenUrlTimed(HINTERNET internet, const char* url, const char* headers, DWORD headersLength, DWORD flags,
                       DWORD_PTR context);
// InternetReadFile, given up after 101 rounds (about 5 s): 0. After a time
// out the request belongs to the abandoned read, which closes it when it
// ends: the caller must neither use nor close it.
BOOL ReadUrlTimed(HINTERNET request, void* buffer, DWORD size, DWORD* bytesRead);

// The buffer holds a URL (at most 299 characters). readBody 0: 1 when the URL
// opens, else 0. readBody 1: the body replaces the URL (cut at size bytes)
// and the result is its length; 0 on failure, time out or an empty body.
int32_t FetchUrl(char* buffer, int32_t size, uint16_t readBody);

// Rounds of 50 ms before OpenUrlTimed and ReadUrlTimed give up (301, 101).
// Tests shorten them.
extern int openUrlRounds;
extern int readUrlRounds;
