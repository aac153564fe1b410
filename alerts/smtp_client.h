// The alert mail: one message of event lines to one recipient through the
// current site's mail server, over SMTP with AUTH LOGIN, inside TLS whenever
// the site asks for it or the server offers STARTTLS. Blocking, on
// the UI thread; progress is shown on the monitor screen's site line.
#pragma once

#include <cstddef>
#include <cstdint>

// The name this client gives after EHLO and the product's own mailbox that
// alerts come from.
inline constexpr const char* kMailClientDomain = "kestrovane.com";
inline constexpr const char* kAlertSender = "alerts@kestrovane.com";

// Longest wait, in milliseconds, for the connection to the mail server, for
// each of its replies and for each send to make progress (30 s): a server
// that never answers or stops reading costs one wait, not the program.
extern int mailWaitMilliseconds;

// One attempt, from the connection to the reply to QUIT, ends at the latest
// after mailAttemptMilliseconds (120 s) plus the message file's size at
// mailMinimumBytesPerSecond (16 KiB/s): 8 MB of alert may take at most
// about ten minutes, however slowly the server keeps reading. Tests shorten
// all three.
extern int mailAttemptMilliseconds;
extern int mailMinimumBytesPerSecond;

// Sends the lines of the message file (`messagePath`) to `recipient`, of
// which at most the first 80 bytes (the site record's field) are read.
// 1: the server accepted the message (250); 2: it refused with 554 (to the
// greeting or the recipient), which is final; 0: anything else (an address
// this client will not send, no connection, sender, recipient or message not
// accepted, no reply in time, the attempt's time used up), which is worth
// another attempt later. An address is refused before anything is sent when
// it is empty or holds a control character (0-31, 127), a blank, "<", ">"
// or a byte above 127 (no internationalised addresses are negotiated): such
// a text would break out of "RCPT TO:<...>" or the "To:" header, and no
// address this client may send holds one.
//
// The mail server is the site's name and port, "smtps://name[:port]" (TLS
// from the first byte, as on port 465) or "smtp://name[:port]" (plain); any
// other "://" text, or a malformed name or port in those forms, is refused
// before anything is sent. TLS is started whenever the server offers
// STARTTLS; the server is verified against the system's trust and
// kTrustFile (sites/data_files.h). Servers seen offering STARTTLS are
// remembered in "\kestrovane\mailtls.txt" ("host port" lines); when one no
// longer offers it, the attempt ends before AUTH. Whenever TLS was asked for
// or offered and cannot be had (refused, failed, certificate not good), the
// attempt ends before AUTH, the status line says why and the result is 0:
// a server's certificate may be renewed, or the file of trust mended, before
// the next attempt.
uint8_t SendAlertMail(const char* recipient, const char* messagePath);

// The host to contact for a configured mail server name: the name of a
// "spam" filter with a dot stands for the domain's mail host
// ("spam.example.com" -> "mail.example.com"); any other name is itself.
void AlertMailHost(const char* server, char* host, size_t hostSize);

// Writes the base64 encoding (standard alphabet, "=" padding, no line
// breaks) of the NUL-terminated text into out, NUL-terminated. An output that
// does not fit is cut after the last whole group of four.
void Base64Encode(const char* text, char* out, size_t outSize);
