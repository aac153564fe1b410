// Calls that move data run in a short-lived worker thread while the main
// thread waits for it, 50 ms at a time, serving the window between waits (a
// call that ends returns at once, not at the next 50 ms). Every call has a time limit;
// a worker that outlives it is abandoned, never killed (killing a
// thread inside the network library would leave its locks held): what it
// returns late is released by the worker itself and never seen by the caller.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// The overall bound of UploadFile and DownloadFile, so that a server that
// trickles or streams without end cannot hold a pass: transferFloorRounds
// rounds of 50 ms (1,200: a minute) plus one round for every
// transferBytesPerRound bytes of the file (410: an average of 8 KiB/s, which
// a slow uplink still meets; the Linux FTP client's own rate bound is 4 KiB/s).
// The file's size is the local file's for an upload, the size the listing
// reported for a download, and kUnknownTransferSize for a download whose
// size is not known. When the bound trips, the FTP connection is closed
// (which ends the worker's blocked call), ftpConnection becomes null and the
// transfer fails: the caller reconnects as after any lost connection. A
// failed download whose connection no longer answers (one that grew past its
// reported size) hands the connection back closed in the same way.
inline constexpr int64_t kUnknownTransferSize = int64_t(16) << 20;
extern int transferFloorRounds;
extern int64_t transferBytesPerRound;

// FtpPutFileA of the local file to the remote name over the FTP connection
// (`connection` is not used), binary. 1 when stored, 0 on failure or when the
// overall bound tripped.
int32_t UploadFile(HINTERNET connection, const char* localPath, const char* remoteName);

// Passed as reportedSize when the listing gave no size.
inline constexpr int64_t kSizeNotReported = -1;

// FtpGetFileA of the remote name into the local file. The remote name and
// the size are untrusted. 1 when the local file now holds the whole remote
// file; 0 otherwise, and then the local file is as it was. The local path
// must pass LocalWriteAllowed (net/file_names.h), else nothing is fetched.
// The bytes go to a fresh hidden scratch file in the target's folder (a
// kScratch name; the first download into a folder in this run first removes
// the scratch files a killed run left there), which replaces the target only
// when the transfer succeeded and, with a reported size, holds exactly that
// many bytes (a download that grows past it is ended at once). Any failure
// deletes the scratch file.
int32_t DownloadFile(HINTERNET connection, const char* remoteName, const char* localPath,
                     int64_t reportedSize = kSizeNotReported);

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
