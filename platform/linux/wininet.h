// WinINet subset on Linux: FTP sessions (our own client, ftp_*.cpp) and URL
// requests (libcurl, wininet_url.cpp). Names, types and values are Windows';
// MANIFEST.md ("Internet (FTP and URLs)") lists what is provided and how
// completely.
//
// Handles: InternetOpenA makes the session; InternetConnectA (FTP) and
// InternetOpenUrlA are its children; FtpFindFirstFileA's listing is a child
// of the connection. InternetCloseHandle closes a handle and every handle
// below it. Unknown or closed handles give ERROR_INVALID_HANDLE, a handle of
// the wrong kind ERROR_INTERNET_INCORRECT_HANDLE_TYPE.
//
// Everything a server sends is untrusted: replies have a length limit, every
// read and connect a time limit (KV_INTERNET_TIMEOUT_MS, default 60 s), listed
// names that could not be a plain file name are never returned, and a
// passive-mode address is never connected to unless it is the server's own.
#pragma once

#include "platform/linux/win32_types.h"

typedef LPVOID HINTERNET;
typedef HINTERNET* LPHINTERNET;
typedef WORD INTERNET_PORT;

#define INTERNET_INVALID_PORT_NUMBER 0
#define INTERNET_DEFAULT_FTP_PORT 21
#define INTERNET_DEFAULT_HTTP_PORT 80
#define INTERNET_DEFAULT_HTTPS_PORT 443

// InternetOpenA access types.
#define INTERNET_OPEN_TYPE_PRECONFIG 0
#define INTERNET_OPEN_TYPE_DIRECT 1
#define INTERNET_OPEN_TYPE_PROXY 3
#define INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY 4

// InternetConnectA services.
#define INTERNET_SERVICE_FTP 1
#define INTERNET_SERVICE_GOPHER 2
#define INTERNET_SERVICE_HTTP 3

// Request flags. Only PASSIVE (InternetConnectA), ASYNC (refused) and
// NO_AUTO_REDIRECT (InternetOpenUrlA) change anything here; the cache flags
// are accepted because nothing is cached.
#define INTERNET_FLAG_RELOAD 0x80000000u
#define INTERNET_FLAG_RAW_DATA 0x40000000u
#define INTERNET_FLAG_EXISTING_CONNECT 0x20000000u
#define INTERNET_FLAG_ASYNC 0x10000000u
#define INTERNET_FLAG_PASSIVE 0x08000000u
#define INTERNET_FLAG_NO_CACHE_WRITE 0x04000000u
#define INTERNET_FLAG_DONT_CACHE INTERNET_FLAG_NO_CACHE_WRITE
#define INTERNET_FLAG_MAKE_PERSISTENT 0x02000000u
#define INTERNET_FLAG_FROM_CACHE 0x01000000u
#define INTERNET_FLAG_SECURE 0x00800000u
#define INTERNET_FLAG_KEEP_CONNECTION 0x00400000u
#define INTERNET_FLAG_NO_AUTO_REDIRECT 0x00200000u
#define INTERNET_FLAG_READ_PREFETCH 0x00100000u
#define INTERNET_FLAG_NO_COOKIES 0x00080000u
#define INTERNET_FLAG_NO_AUTH 0x00040000u
#define INTERNET_FLAG_CACHE_IF_NET_FAIL 0x00010000u
#define INTERNET_FLAG_IGNORE_CERT_DATE_INVALID 0x00002000u
#define INTERNET_FLAG_IGNORE_CERT_CN_INVALID 0x00001000u
#define INTERNET_FLAG_RESYNCHRONIZE 0x00000800u
#define INTERNET_FLAG_HYPERLINK 0x00000400u
#define INTERNET_FLAG_NO_UI 0x00000200u
#define INTERNET_FLAG_PRAGMA_NOCACHE 0x00000100u
#define INTERNET_FLAG_NEED_FILE 0x00000010u

// FTP transfer types (the low bits of the flags). UNKNOWN is binary.
#define FTP_TRANSFER_TYPE_UNKNOWN 0x00000000u
#define FTP_TRANSFER_TYPE_ASCII 0x00000001u
#define FTP_TRANSFER_TYPE_BINARY 0x00000002u
#define FTP_TRANSFER_TYPE_MASK (FTP_TRANSFER_TYPE_ASCII | FTP_TRANSFER_TYPE_BINARY)
#define INTERNET_FLAG_TRANSFER_ASCII FTP_TRANSFER_TYPE_ASCII
#define INTERNET_FLAG_TRANSFER_BINARY FTP_TRANSFER_TYPE_BINARY

// GetLastError values of the Internet functions.
#define INTERNET_ERROR_BASE 12000
#define ERROR_INTERNET_OUT_OF_HANDLES 12001L
#define ERROR_INTERNET_TIMEOUT 12002L
#define ERROR_INTERNET_EXTENDED_ERROR 12003L
#define ERROR_INTERNET_INTERNAL_ERROR 12004L
#define ERROR_INTERNET_INVALID_URL 12005L
#define ERROR_INTERNET_UNRECOGNIZED_SCHEME 12006L
#define ERROR_INTERNET_NAME_NOT_RESOLVED 12007L
#define ERROR_INTERNET_LOGIN_FAILURE 12015L
#define ERROR_INTERNET_INVALID_OPERATION 12016L
#define ERROR_INTERNET_OPERATION_CANCELLED 12017L
#define ERROR_INTERNET_INCORRECT_HANDLE_TYPE 12018L
#define ERROR_INTERNET_INCORRECT_HANDLE_STATE 12019L
#define ERROR_INTERNET_CANNOT_CONNECT 12029L
#define ERROR_INTERNET_CONNECTION_ABORTED 12030L
#define ERROR_INTERNET_CONNECTION_RESET 12031L
#define ERROR_INTERNET_SEC_CERT_DATE_INVALID 12037L
#define ERROR_INTERNET_SEC_CERT_CN_INVALID 12038L
#define ERROR_INTERNET_INVALID_CA 12045L
#define ERROR_INTERNET_SEC_CERT_ERRORS 12055L
#define ERROR_INTERNET_SECURITY_CHANNEL_ERROR 12157L
#define ERROR_FTP_TRANSFER_IN_PROGRESS 12110L
#define ERROR_FTP_DROPPED 12111L
#define ERROR_HTTP_INVALID_SERVER_RESPONSE 12152L
#define ERROR_HTTP_REDIRECT_FAILED 12156L

// The session. agent is sent as the HTTP User-Agent; accessType DIRECT
// ignores proxies, PRECONFIG takes them from the environment (http_proxy,
// https_proxy, no_proxy), PROXY uses the proxy text given. ASYNC is refused
// (ERROR_INVALID_PARAMETER).
HINTERNET InternetOpenA(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR proxyBypass,
                        DWORD flags);

// Connects to an FTP server and logs in (anonymous when userName is NULL).
// Port 0 is 21. Fails with ERROR_INTERNET_NAME_NOT_RESOLVED,
// ERROR_INTERNET_CANNOT_CONNECT, ERROR_INTERNET_TIMEOUT,
// ERROR_INTERNET_LOGIN_FAILURE (a refused user or password), or the reply
// errors below. Only INTERNET_SERVICE_FTP in passive mode is provided: other
// services and active mode give ERROR_INVALID_PARAMETER.
HINTERNET InternetConnectA(HINTERNET internet, LPCSTR serverName, INTERNET_PORT serverPort,
                           LPCSTR userName, LPCSTR password, DWORD service, DWORD flags,
                           DWORD_PTR context);

// FTP calls. A refusing reply gives ERROR_INTERNET_EXTENDED_ERROR (its text
// through InternetGetLastResponseInfoA); 425 gives
// ERROR_INTERNET_CANNOT_CONNECT, 426 ERROR_INTERNET_CONNECTION_ABORTED, 530
// ERROR_INTERNET_LOGIN_FAILURE. A server that closes the connection gives
// ERROR_INTERNET_CONNECTION_ABORTED (or _RESET), one that stays silent past
// the limit, or transfers below the minimum average rate,
// ERROR_INTERNET_TIMEOUT; after either the connection is dead and
// every further call fails with ERROR_INTERNET_CONNECTION_ABORTED. Names
// holding CR or LF are refused (ERROR_INVALID_PARAMETER), never sent.
// While a listing handle of the connection is open, a second
// FtpFindFirstFileA fails with ERROR_FTP_TRANSFER_IN_PROGRESS; every other
// call works (the listing was read whole), so entries can be acted on as
// they are taken.

// The current folder from the 257 reply, its doubled quotes undone.
// *length: the buffer's size in, the text's length (without the NUL) out;
// ERROR_INSUFFICIENT_BUFFER when the text and its NUL do not fit.
BOOL FtpGetCurrentDirectoryA(HINTERNET connect, LPSTR currentDirectory, LPDWORD length);
BOOL FtpSetCurrentDirectoryA(HINTERNET connect, LPCSTR directory);
BOOL FtpCreateDirectoryA(HINTERNET connect, LPCSTR directory);
BOOL FtpRemoveDirectoryA(HINTERNET connect, LPCSTR directory);
BOOL FtpDeleteFileA(HINTERNET connect, LPCSTR fileName);
// RNFR existing, which must be answered 350, then RNTO newName. The server
// renames as rename(2) does: a newName that is a symbolic link is replaced,
// the file it pointed to is untouched.
BOOL FtpRenameFileA(HINTERNET connect, LPCSTR existing, LPCSTR newName);
// Sends command ("SITE CHMOD 604 name") on the control connection and reads
// its reply; TRUE only for a 2xx reply (after any 1xx). flags and context
// are ignored. Only expectResponse FALSE is provided: TRUE (a command whose
// answer comes over a data connection) fails with ERROR_INVALID_PARAMETER.
// *ftpCommand, when given, is set to NULL.
BOOL FtpCommandA(HINTERNET connect, BOOL expectResponse, DWORD flags, LPCSTR command,
                 DWORD_PTR context, HINTERNET* ftpCommand);

// Lists a folder (searchFile: an optional folder part and a mask; NULL or
// empty lists everything) with MLSD when the server offers it, else LIST.
// The whole listing is read before the first entry is returned; a listing
// that breaks off fails here with the error of the break, and one with no
// listing line in it with ERROR_HTTP_INVALID_SERVER_RESPONSE, never with
// ERROR_NO_MORE_FILES, which means "nothing matched". Every name an entry
// can hold is returned as listed; whether it is safe is the caller's to
// judge.
HINTERNET FtpFindFirstFileA(HINTERNET connect, LPCSTR searchFile,
                            LPWIN32_FIND_DATAA findFileData, DWORD flags, DWORD_PTR context);
// FALSE with ERROR_NO_MORE_FILES after the last entry, as often as asked;
// ERROR_MORE_DATA instead when the server said it truncated the listing
// (FtpFindFirstFileA fails with it when no entry came). Links, permission
// bits and hidden entries: platform/extensions.h.
BOOL InternetFindNextFileA(HINTERNET find, LPVOID findData);

// Uploads a local file (STOR). A missing local file: ERROR_FILE_NOT_FOUND,
// before the server is asked anything.
BOOL FtpPutFileA(HINTERNET connect, LPCSTR localFile, LPCSTR newRemoteFile, DWORD flags,
                 DWORD_PTR context);
// Downloads a remote file (RETR) into newFile, written in place, replacing an
// existing one unless failIfExists (ERROR_FILE_EXISTS). In binary type the
// byte count must agree with the server's SIZE, else the call fails
// (ERROR_INTERNET_CONNECTION_ABORTED). A failed download removes what it
// created or began to overwrite; an existing file it never wrote to stays as
// it was. Never executable.
BOOL FtpGetFileA(HINTERNET connect, LPCSTR remoteFile, LPCSTR newFile, BOOL failIfExists,
                 DWORD flagsAndAttributes, DWORD flags, DWORD_PTR context);

BOOL InternetCloseHandle(HINTERNET internet);

// The last server reply this thread received (FTP), its lines separated by
// CR LF; *error is the error it caused (ERROR_INTERNET_EXTENDED_ERROR and
// the like for a refusal), 0 for a reply that did not refuse. *length:
// buffer size in, text length out; too small: FALSE with
// ERROR_INSUFFICIENT_BUFFER and the length of the text.
BOOL InternetGetLastResponseInfoA(LPDWORD error, LPSTR buffer, LPDWORD length);

// Opens an http or https URL (libcurl). Returns once the response's headers
// have arrived; any HTTP status is a success, as on Windows. Other schemes
// give ERROR_INTERNET_UNRECOGNIZED_SCHEME.
HINTERNET InternetOpenUrlA(HINTERNET internet, LPCSTR url, LPCSTR headers, DWORD headersLength,
                           DWORD flags, DWORD_PTR context);
// Reads the body: blocks until bytesToRead bytes have come or the body ends
// (TRUE with 0 bytes at the end).
BOOL InternetReadFile(HINTERNET file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead);
