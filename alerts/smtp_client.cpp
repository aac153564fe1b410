#include "alerts/smtp_client.h"

#include <cstdio>
#include <cstring>

#include "alerts/mail_connection.h"
#include "alerts/show_events.h"
#include "core/site_list.h"
#include "tessil/input.h"
#include "tessil/tessil.h"

int mailWaitMilliseconds = 30000;
int mailAttemptMilliseconds = 120000;
int mailMinimumBytesPerSecond = 16384;

namespace {

constexpr size_t kCommandSize = 500;
constexpr size_t kShortReply = 256;
constexpr size_t kBase64Size = 200;
constexpr size_t kBodyLineChars = 253;
constexpr size_t kServerChars = sizeof SiteRecord::mailServer;
constexpr size_t kAddressChars = sizeof SiteRecord::alertRecipient;
// The longest attempt the bound allows (a day): the clock arithmetic stays
// in range for any file size.
constexpr int64_t kLongestAttemptMs = 24 * 3600 * 1000;

constexpr int kReplyServiceReady = 220;
constexpr int kReplyOk = 250;
constexpr int kReplyWillForward = 251;
constexpr int kReplyAuthContinue = 334;
constexpr int kReplyStartMail = 354;
constexpr int kReplyTransactionFailed = 554;

void Status(const char* text)
{
    ShowScreenLine(27, text);
    tessil::RefreshFields();
}

// A failure the user should read before the caller's next text replaces it.
void FailureStatus(const char* text)
{
    Status(text);
    tessil::WaitTicks(5);
    tessil::RefreshFields();
}

// The first `width` bytes at most of a site record's field (which need not
// end in NUL), cut at its first control character.
void SafeText(char* out, size_t width, const char* text)
{
    size_t n = 0;
    while (n < width && text[n] && static_cast<unsigned char>(text[n]) >= 32 && text[n] != 127)
        ++n;
    std::memcpy(out, text, n);
    out[n] = '\0';
}

// The first `width` bytes at most of an address, NUL-terminated (out holds
// width + 1); false when it is empty or holds a byte no address this client
// sends may hold (see SendAlertMail).
bool MailAddress(char* out, size_t width, const char* text)
{
    size_t n = 0;
    for (; n < width && text[n]; ++n) {
        auto c = static_cast<unsigned char>(text[n]);
        if (c <= 32 || c >= 127 || c == '<' || c == '>')
            return false;
        out[n] = char(c);
    }
    out[n] = '\0';
    return n > 0;
}

} // namespace

void AlertMailHost(const char* server, char* host, size_t hostSize)
{
    const char* dot = std::strchr(server, '.');
    if (std::strstr(server, "spam") && dot)
        std::snprintf(host, hostSize, "mail%s", dot);
    else
        std::snprintf(host, hostSize, "%s", server);
}

namespace {

// A dotted address is taken as it is; a name is looked up.
bool ResolveHost(const char* host, uint32_t& address)
{
    if (host[0] >= '0' && host[0] <= '9') {
        address = inet_addr(host);
        return address != INADDR_NONE;
    }
    hostent* entry = gethostbyname(host);
    if (!entry || entry->h_length != 4 || !entry->h_addr_list || !entry->h_addr_list[0])
        return false;
    std::memcpy(&address, entry->h_addr_list[0], 4);
    return true;
}

void SendCommand(MailConnection& mail, const char* format, const char* text)
{
    char command[kCommandSize];
    int n = std::snprintf(command, sizeof command, format, text, 13, 10);
    if (n > 0)
        mail.Send(command, size_t(n) < sizeof command ? size_t(n) : sizeof command - 1);
}

// One piece of a body line. Control characters become '?' and a line that
// begins with "." gets a second one, so no text in a file name can end the
// message or reach the server as a command; a line ends in CR LF, as SMTP
// requires.
bool SendBodyText(MailConnection& mail, const char* text, size_t length, bool lineStart, bool endOfLine)
{
    char out[kCommandSize + 4];
    size_t n = 0;
    if (lineStart && length > 0 && text[0] == '.')
        out[n++] = '.';
    for (size_t i = 0; i < length && n + 2 < sizeof out; ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        out[n++] = c < 32 || c == 127 ? '?' : char(c);
    }
    if (endOfLine) {
        out[n++] = '\r';
        out[n++] = '\n';
    }
    return mail.Send(out, n);
}

// The message file's lines, read at most 253 characters at a time; a longer
// line goes on in the next piece. Ends as soon as the connection is gone.
bool SendMessageLines(MailConnection& mail, HANDLE file)
{
    if (file == INVALID_HANDLE_VALUE)
        return mail.connected();
    char line[kBodyLineChars];
    size_t length = 0;
    bool lineStart = true;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        for (DWORD i = 0; i < got; ++i) {
            if (chunk[i] == '\n') {
                if (length > 0 && line[length - 1] == '\r')
                    --length;
                if (!SendBodyText(mail, line, length, lineStart, true))
                    return false;
                lineStart = true;
                length = 0;
                continue;
            }
            line[length++] = chunk[i];
            if (length == kBodyLineChars) {
                if (!SendBodyText(mail, line, length, lineStart, false))
                    return false;
                lineStart = false;
                length = 0;
            }
        }
    }
    if (length > 0 || !lineStart)
        return SendBodyText(mail, line, length, lineStart, true);
    return mail.connected();
}

// Headers, the site line, the message file's lines and the closing line.
void SendMessage(MailConnection& mail, const char* recipient, HANDLE messageFile)
{
    char text[kCommandSize];
    std::snprintf(text, sizeof text, "From: %s %c%c", kAlertSender, 13, 10);
    mail.Send(text);
    SendCommand(mail, "To: %s %c%c", recipient);
    std::snprintf(text, sizeof text, "Subject: Kestrovane Alert %c%c", 13, 10);
    mail.Send(text);
    mail.Send("\r\n");

    const SiteRecord& site = currentSite;
    int n = site.remoteFolder[0]
                ? std::snprintf(text, sizeof text, "%.99s/%.199s/%.49s ", site.ftpHost, site.remoteFolder, site.fileMask)
                : std::snprintf(text, sizeof text, "%.99s/%.49s ", site.ftpHost, site.fileMask);
    SendBodyText(mail, text, n > 0 ? std::strlen(text) : 0, true, true);

    if (!SendMessageLines(mail, messageFile))
        return;

    std::snprintf(text, sizeof text, "%c%cThis Email was generated by Kestrovane %c%c", 13, 10, 13, 10);
    mail.Send(text);
    mail.Send("\r\n.\r\n", 5);
}

// One AUTH LOGIN credential, base64 of the whole field.
template <size_t N>
void SendCredential(MailConnection& mail, const char (&value)[N])
{
    char field[N + 1];
    std::snprintf(field, sizeof field, "%.*s", int(N), value);
    char encoded[kBase64Size];
    Base64Encode(field, encoded, sizeof encoded);
    SendCommand(mail, "%s%c%c", encoded);
}

// The steps of one conversation, in their usual order. Each step but the
// greeting sends its command; every step then reads the reply to it, in one
// place (SendAlertMail), and that reply chooses the next step (After).
enum class SmtpStep { Greeting, Hello, AuthLogin, AuthUser, AuthPassword, MailFrom, RcptTo, Data, Message, Quit, Done };

struct Conversation {
    MailConnection mail;
    const char* recipient = "";
    HANDLE messageFile = INVALID_HANDLE_VALUE;
    uint8_t result = 0;
};

// Sends the step's command and shows what is under way.
void Begin(Conversation& c, SmtpStep step)
{
    MailConnection& mail = c.mail;
    switch (step) {
    case SmtpStep::Hello:
        Status("Writing a Request to Mail Server");
        SendCommand(mail, "EHLO %s%c%c", kMailClientDomain);
        break;
    case SmtpStep::AuthLogin: SendCommand(mail, "%s%c%c", "AUTH LOGIN"); break;
    case SmtpStep::AuthUser: SendCredential(mail, currentSite.mailUserName); break;
    case SmtpStep::AuthPassword: SendCredential(mail, currentSite.mailPassword); break;
    case SmtpStep::MailFrom: SendCommand(mail, "MAIL FROM:<%s>%c%c", kAlertSender); break;
    case SmtpStep::RcptTo: SendCommand(mail, "RCPT TO:<%s>%c%c", c.recipient); break;
    case SmtpStep::Data:
        Status("Sending Message to Mail Server");
        SendCommand(mail, "%s%c%c", "DATA");
        break;
    case SmtpStep::Message: SendMessage(mail, c.recipient, c.messageFile); break;
    case SmtpStep::Quit:
        Status("Sending QUIT Message to Mail Server");
        SendCommand(mail, "%s%c%c", "QUIT");
        break;
    case SmtpStep::Greeting:
    case SmtpStep::Done: break;
    }
}

// The step after `step`, whose reply had `code` (0: none came, and the
// connection is closed, so that QUIT then sends and waits for nothing).
SmtpStep After(Conversation& c, SmtpStep step, int code)
{
    if (code == 0 && step != SmtpStep::Quit)
        return SmtpStep::Quit;
    switch (step) {
    case SmtpStep::Greeting: return code == kReplyServiceReady ? SmtpStep::Hello : SmtpStep::Quit;
    // A server that knows no EHLO may still take the mail.
    case SmtpStep::Hello: return SmtpStep::AuthLogin;
    // Both credentials go only where AUTH LOGIN asked for them: a server
    // that refused it would otherwise log the password as an unknown
    // command. Without a login a server may still take mail from this
    // client; a refused login shows in the reply to MAIL FROM.
    case SmtpStep::AuthLogin: return code == kReplyAuthContinue ? SmtpStep::AuthUser : SmtpStep::MailFrom;
    case SmtpStep::AuthUser: return code == kReplyAuthContinue ? SmtpStep::AuthPassword : SmtpStep::MailFrom;
    case SmtpStep::AuthPassword: return SmtpStep::MailFrom;
    case SmtpStep::MailFrom: return code / 100 == 2 ? SmtpStep::RcptTo : SmtpStep::Quit;
    case SmtpStep::RcptTo:
        if (code == kReplyTransactionFailed)
            c.result = 2;
        return code == kReplyOk || code == kReplyWillForward ? SmtpStep::Data : SmtpStep::Quit;
    // Without the go-ahead the message's lines would be read as commands.
    case SmtpStep::Data: return code == kReplyStartMail ? SmtpStep::Message : SmtpStep::Quit;
    case SmtpStep::Message:
        if (code == kReplyOk)
            c.result = 1;
        return SmtpStep::Quit;
    case SmtpStep::Quit:
    case SmtpStep::Done: break;
    }
    return SmtpStep::Done;
}

// The whole attempt's time: the fixed part plus the message at the minimum
// rate (see smtp_client.h).
int AttemptMilliseconds(HANDLE messageFile)
{
    LARGE_INTEGER size;
    int64_t bytes = messageFile != INVALID_HANDLE_VALUE && GetFileSizeEx(messageFile, &size) ? size.QuadPart : 0;
    int64_t rate = mailMinimumBytesPerSecond > 0 ? mailMinimumBytesPerSecond : 1;
    int64_t ms = int64_t(mailAttemptMilliseconds) + bytes / rate * 1000 + bytes % rate * 1000 / rate;
    return int(ms < kLongestAttemptMs ? ms : kLongestAttemptMs);
}

class MessageFile {
public:
    explicit MessageFile(const char* path)
        : handle_(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr))
    {
    }
    ~MessageFile()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    MessageFile(const MessageFile&) = delete;
    MessageFile& operator=(const MessageFile&) = delete;
    HANDLE handle() const { return handle_; }

private:
    HANDLE handle_;
};

} // namespace

uint8_t SendAlertMail(const char* recipientText, const char* messagePath)
{
    char recipient[kAddressChars + 1];
    if (!MailAddress(recipient, kAddressChars, recipientText)) {
        FailureStatus("Invalid Recipient Address - Nothing Sent");
        return 0;
    }
    Status("Find the Mail Server");
    char server[kServerChars + 1], host[kServerChars + 10];
    SafeText(server, kServerChars, currentSite.mailServer);
    AlertMailHost(server, host, sizeof host);
    uint32_t address = 0;
    bool resolved = ResolveHost(host, address);
    Status("Contacted the Mail Server");

    MessageFile message(messagePath);
    Conversation c;
    c.recipient = recipient;
    c.messageFile = message.handle();
    MailConnection& mail = c.mail;
    if (resolved) {
        if (!mail.Create(mailWaitMilliseconds, AttemptMilliseconds(message.handle())))
            return 0;
        mail.Connect(address, uint16_t(SiteMailPort(currentSite)));
    }
    SmtpStep step = mail.connected() ? SmtpStep::Greeting : SmtpStep::Quit;
    while (step != SmtpStep::Done) {
        Begin(c, step);
        int code = mail.Receive(step >= SmtpStep::Data ? kShortReply : MailConnection::kReplySize);
        if (step == SmtpStep::Greeting && code == kReplyTransactionFailed) {
            mail.Close();
            FailureStatus("Unable to Write to Mail Server - Error 554");
            return 2;
        }
        step = After(c, step, code);
    }
    mail.Close();
    char text[40];
    std::snprintf(text, sizeof text, "Returning to Calling Code - %d", int(c.result));
    Status(text);
    return c.result;
}
