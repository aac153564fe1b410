// Names of the files the core keeps in the data folder, "\kestrovane" on the
// current drive. The driver and the setup use the absolute forms; relative
// names (the per-site files) lie in the current directory, which start-up makes
// the data folder.
#pragma once

inline constexpr const char* kDataFolder = "\\Kestrovane";
inline constexpr const char* kDefaultSiteList = "c:\\kestrovane\\sites.info";
inline constexpr const char* kSiteListScratch = "\\kestrovane\\temp.info";
inline constexpr const char* kFrameworkSettings = "\\kestrovane\\rttw.ini";
inline constexpr const char* kFontRecordFile = "\\kestrovane\\winfont.ini";
inline constexpr const char* kMonitorBook = "kestrvane.bk";
inline constexpr const char* kEditorAlias = "\\kestrovane\\notepad.alias";
inline constexpr const char* kStatusFil = "STATUS.FIL";
inline constexpr const char* kStatusDat = "STATUS.DAT";
inline constexpr const char* kReconnectBatch = "\\kestrovane\\monitor.bat";
inline constexpr const char* kHelpText = "\\kestrovane\\KSVHELP.TXT";
inline constexpr const char* kSetupText = "\\kestrovane\\setup.txt";
inline constexpr const char* kEmailSetupText = "\\kestrovane\\emailsetup.txt";
inline constexpr const char* kAlertMessageFile = "\\kestrovane\\message.txt";
inline constexpr const char* kQuarantineFolder = "\\kestrovane\\quarantine";
// The user's extra trust for TLS servers (format in platform/tls.h): the
// alert mail's and the FTP sites' own authorities and pinned certificates.
inline constexpr const char* kTrustFile = "\\kestrovane\\trusted.txt";
// Mail servers seen offering STARTTLS ("host port" lines), and its scratch copy.
inline constexpr const char* kMailTlsMemory = "\\kestrovane\\mailtls.txt";
inline constexpr const char* kMailTlsMemoryScratch = "\\kestrovane\\mailtls.tmp";

// Record sizes of the small fixed-record files.
inline constexpr int kFontRecordSize = 60;
inline constexpr int kEditorAliasSize = 100;
