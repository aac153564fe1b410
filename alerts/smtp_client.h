// The alert mail: one message of event lines to one recipient through the
// current site's mail server, over plain SMTP with AUTH LOGIN. Blocking, on
// the UI thread; progress is shown on the monitor screen's site line.
#pragma once

#include <cstddef>
#include <cstdint>

// The name this client gives after EHLO and the product's own mailbox that
// alerts come from.
inline constexpr const char* kMailClientDomain = "kestrovane.com";
inline constexpr const char* kAlertSender = "alerts@kestrovane.com";

// Longest wait, in milliseconds, for the connection to the mail server and
// for each of its replies (30 s): a server that never answers costs one wait,
// not the program. Tests shorten it.
extern int mailWaitMilliseconds;

// Sends the lines of the message file (`messagePath`) to `recipient`.
// 1: the server accepted the message (250); 2: it refused with 554 (to the
// greeting or the recipient), which is final; 0: anything else (no address,
// no connection, recipient or message not accepted, no reply in time), which
// is worth another attempt later.
uint8_t SendAlertMail(const char* recipient, const char* messagePath);

// The host to contact for a configured mail server name: the name of a
// "spam" filter with a dot stands for the domain's mail host
// ("spam.example.com" -> "mail.example.com"); any other name is itself.
void AlertMailHost(const char* server, char* host, size_t hostSize);

// Writes the base64 encoding (standard alphabet, "=" padding, no line
// breaks) of the NUL-terminated text into out, NUL-terminated. An output that
// does not fit is cut after the last whole group of four.
void Base64Encode(const char* text, char* out, size_t outSize);
