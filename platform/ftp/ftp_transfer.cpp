// FtpPutFileA and FtpGetFileA: what a transfer asks of the local file
// (FtpLocalFile, each system's) and of the server (the transfer itself:
// ftp_data.cpp).
#include "platform/ftp/ftp_session.h"

namespace {

char TransferType(DWORD flags) {
    return (flags & FTP_TRANSFER_TYPE_MASK) == FTP_TRANSFER_TYPE_ASCII ? 'A' : 'I';
}

}  // namespace

BOOL FtpSessionPutFile(HINTERNET connect, LPCSTR localFile, LPCSTR newRemoteFile, DWORD flags) {
    if (!localFile || !*localFile || !newRemoteFile || !*newRemoteFile) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FtpCall call(connect);
    if (!call.ok()) return FALSE;
    FtpLocalFile file;  // closed on every path
    if (!file.OpenSource(localFile)) return FALSE;
    if (!FtpSetType(*call, TransferType(flags))) return FALSE;
    FtpDataSink sink;
    sink.send = [&file](char* buffer, size_t size) { return file.Read(buffer, size); };
    return FtpTransfer(*call, "STOR", newRemoteFile, sink) ? TRUE : FALSE;
}

BOOL FtpSessionGetFile(HINTERNET connect, LPCSTR remoteFile, LPCSTR newFile, BOOL failIfExists,
                       DWORD flagsAndAttributes, DWORD flags, int64_t knownSize) {
    if (!remoteFile || !*remoteFile || !newFile || !*newFile) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FtpCall call(connect);
    if (!call.ok()) return FALSE;
    // The target itself is written, as Windows writes it.
    FtpLocalFile file;
    if (!file.OpenTarget(newFile, failIfExists)) return FALSE;
    const char type = TransferType(flags);
    uint64_t size = 0, written = 0;
    bool sizeKnown = false;
    bool ok = FtpSetType(*call, type);
    // SIZE counts the bytes as stored, which only a binary transfer moves.
    if (ok && type == 'I' && knownSize >= 0) {
        size = uint64_t(knownSize);
        sizeKnown = true;
    } else if (ok && type == 'I') {
        ok = FtpAskSize(*call, remoteFile, sizeKnown, size);
    }
    if (ok) {
        FtpDataSink sink;
        sink.maximumBytes = sizeKnown ? size : ftpTransferLimits.unknownSizeBytes;
        sink.receive = [&file, &written](const char* data, size_t count) {
            if (!file.Write(data, count)) return false;
            written += count;
            return true;
        };
        ok = FtpTransfer(*call, "RETR", remoteFile, sink);
    }
    // A transfer that ended early with 226 is no copy of the file.
    if (ok && sizeKnown && written != size) {
        SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
        ok = false;
    }
    if (ok) ok = file.Finish(written, flagsAndAttributes);
    // A failed download leaves no partial file: what this call created or
    // began to overwrite is removed; a file it never wrote to stays as it was.
    if (!ok && (file.created() || written > 0)) file.Remove();
    return ok ? TRUE : FALSE;
}
