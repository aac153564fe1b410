#include "alerts/smtp_client.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "alerts/mail_connection.h"
#include "alerts/show_events.h"
#include "sites/data_files.h"
#include "sites/site_list.h"
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

constexpr int kImplicitTlsPort = 465;
constexpr int kLargestPort = 65535;
// Mail servers seen offering STARTTLS, "host port" a line: such a server's
// EHLO without it is taken for an attack, not for a change of mind.
constexpr size_t kTlsMemoryLines = 64;
constexpr size_t kTlsMemoryLineChars = kServerChars + 16;
constexpr DWORD kTlsMemoryBytes = DWORD(kTlsMemoryLines * (kTlsMemoryLineChars + 2));

constexpr int kReplyServiceReady = 220;
constexpr int kReplyOk = 250;
constexpr int kReplyWillForward = 251;
constexpr int kReplyAuthContinue = 334;
constexpr int kReplyStartMail = 354;
constexpr int kReplySyntaxError = 500;
constexpr int kReplyParameterError = 501;
constexpr int kReplyNotImplemented = 502;
constexpr int kReplyTransactionFailed = 554;

void Status(const char* text)
{
    ShowScreenLine(kSiteLine, text);
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

// Where and how to reach the mail server.
struct MailServer {
    char host[kServerChars + 10] = {};
    int port = 0;
    bool implicitTls = false;
};

bool StartsWith(const char* text, const char* prefix)
{
    size_t n = std::strlen(prefix);
    for (size_t i = 0; i < n; ++i)
        if (!text[i] || std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    return true;
}

// The site's mail server text and port field. A plain name is taken as it
// always was. "smtps://host[:port]" asks for TLS from the first byte (RFC
// 8314, 3.3: "implicit TLS" on the submissions port, 465), and
// "smtp://host[:port]" for the plain form; the port field counts when the
// text names none. In those forms the host is a name or dotted address
// (letters, digits, "." and "-") and the port 1 to 65535 digits; anything
// else is refused. Port 465 always means implicit TLS but after "smtp://".
bool ParseMailServer(const char* text, int portField, MailServer& out)
{
    out.port = portField;
    const char* rest = text;
    bool plainScheme = false;
    if (StartsWith(text, "smtps://")) {
        out.implicitTls = true;
        rest = text + 8;
    } else if (StartsWith(text, "smtp://")) {
        plainScheme = true;
        rest = text + 7;
    } else if (std::strstr(text, "://")) {
        return false;
    } else {
        AlertMailHost(text, out.host, sizeof out.host);
        out.implicitTls = out.port == kImplicitTlsPort;
        return true;
    }
    char name[kServerChars + 1];
    size_t n = 0;
    for (; rest[n] && rest[n] != ':'; ++n) {
        auto c = static_cast<unsigned char>(rest[n]);
        if (!std::isalnum(c) && c != '.' && c != '-')
            return false;
        name[n] = char(c);
    }
    name[n] = '\0';
    if (n == 0)
        return false;
    if (rest[n] == ':') {
        const char* digits = rest + n + 1;
        long port = 0;
        size_t count = 0;
        for (; digits[count]; ++count) {
            if (!std::isdigit(static_cast<unsigned char>(digits[count])) || count == 5)
                return false;
            port = port * 10 + (digits[count] - '0');
        }
        if (count == 0 || port < 1 || port > kLargestPort)
            return false;
        out.port = int(port);
    }
    AlertMailHost(name, out.host, sizeof out.host);
    out.implicitTls = out.implicitTls || (!plainScheme && out.port == kImplicitTlsPort);
    return out.port > 0;
}

// The memory of servers that offered STARTTLS. The file is the user's and
// untrusted: at most kTlsMemoryLines lines of kTlsMemoryLineChars are read,
// longer ones are dropped. A file that cannot be read is an empty one.
class TlsMemory {
public:
    explicit TlsMemory(const MailServer& server)
    {
        std::snprintf(key_, sizeof key_, "%s %d", server.host, server.port);
        for (char* c = key_; *c; ++c)
            *c = char(std::tolower(static_cast<unsigned char>(*c)));
        HANDLE file = CreateFileA(kMailTlsMemory, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return;
        char bytes[kTlsMemoryBytes];
        DWORD got = 0;
        if (!ReadFile(file, bytes, kTlsMemoryBytes, &got, nullptr))
            got = 0;
        CloseHandle(file);
        size_t start = 0;
        for (size_t i = 0; i <= got && count_ < kTlsMemoryLines; ++i) {
            if (i < got && bytes[i] != '\n')
                continue;
            size_t length = i - start;
            if (length > 0 && bytes[start + length - 1] == '\r')
                --length;
            if (length > 0 && length <= kTlsMemoryLineChars && !(i == got && got == kTlsMemoryBytes)) {
                for (size_t k = 0; k < length; ++k)
                    lines_[count_][k] = char(std::tolower(static_cast<unsigned char>(bytes[start + k])));
                lines_[count_][length] = '\0';
                known_ = known_ || std::strcmp(lines_[count_], key_) == 0;
                ++count_;
            }
            start = i + 1;
        }
    }

    bool known() const { return known_; }

    // Adds the server, dropping the oldest line when the file is full. The
    // new file is written aside and renamed over the old one, so a failure
    // on the way loses nothing already remembered.
    void Remember()
    {
        if (known_)
            return;
        known_ = true;
        HANDLE file = CreateFileA(kMailTlsMemoryScratch, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return;
        bool ok = true;
        for (size_t i = count_ == kTlsMemoryLines ? 1 : 0; i < count_; ++i)
            ok = ok && WriteLine(file, lines_[i]);
        ok = ok && WriteLine(file, key_);
        CloseHandle(file);
        if (!ok || !MoveFileExA(kMailTlsMemoryScratch, kMailTlsMemory, MOVEFILE_REPLACE_EXISTING))
            DeleteFileA(kMailTlsMemoryScratch);
    }

private:
    static bool WriteLine(HANDLE file, const char* line)
    {
        char text[kTlsMemoryLineChars + 3];
        int n = std::snprintf(text, sizeof text, "%s\r\n", line);
        DWORD written = 0;
        return n > 0 && WriteFile(file, text, DWORD(n), &written, nullptr) && written == DWORD(n);
    }

    char key_[kTlsMemoryLineChars + 1] = {};
    char lines_[kTlsMemoryLines][kTlsMemoryLineChars + 1] = {};
    size_t count_ = 0;
    bool known_ = false;
};

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
enum class SmtpStep {
    Greeting, Hello, Helo, StartTls, AuthLogin, AuthUser, AuthPassword, MailFrom, RcptTo, Data, Message, Quit, Done
};

// The service extensions an EHLO reply names (RFC 5321, 4.1.1.1):
//
//   ehlo-ok-rsp  = ( "250" SP Domain [ SP ehlo-greet ] CRLF )
//                  / ( "250-" Domain [ SP ehlo-greet ] CRLF
//                      *( "250-" ehlo-line CRLF )
//                      "250" SP ehlo-line CRLF )
//   ehlo-line    = ehlo-keyword *( SP ehlo-param )
//   ehlo-keyword = (ALPHA / DIGIT) *(ALPHA / DIGIT / "-")
//
// Keywords are matched without regard to case; the first line is the
// server's name. RFC 3207, 4: "The STARTTLS keyword is used to tell the SMTP
// client that the SMTP server is currently able to negotiate the use of TLS."
struct Extensions final : ReplyLines {
    bool startTls = false;
    void Line(int index, const char* text) override
    {
        if (index == 0)
            return;
        size_t n = 0;
        while (text[n] && text[n] != ' ')
            ++n;
        startTls = startTls || (n == 8 && StartsWith(text, "starttls"));
    }
};

struct Conversation {
    MailConnection mail;
    const char* recipient = "";
    HANDLE messageFile = INVALID_HANDLE_VALUE;
    const MailServer* server = nullptr;
    TlsMemory* memory = nullptr;
    Extensions extensions;
    uint8_t result = 0;
    // Why the attempt ended before AUTH, for the status line; empty otherwise.
    char failure[80] = {};
};

// The status for a failed TLS handshake or certificate.
void TlsFailure(Conversation& c)
{
    const char* text = c.mail.failureText();
    switch (c.mail.failure()) {
    case PLATFORM_TLS_UNTRUSTED: text = "Certificate Not Trusted"; break;
    case PLATFORM_TLS_EXPIRED: text = "Certificate Expired"; break;
    case PLATFORM_TLS_WRONG_NAME: text = "Certificate for Another Name"; break;
    default: break;
    }
    std::snprintf(c.failure, sizeof c.failure, "Mail Server %.40s - Nothing Sent", text);
}

// After the server's greeting (EHLO or HELO) in clear: TLS when it offers it
// (and it is remembered for next time); no AUTH in clear from a server that
// offered it before. RFC 3207, 6: "A man-in-the-middle attack can be
// launched by deleting the "250 STARTTLS" response from the server."
SmtpStep AfterHello(Conversation& c)
{
    if (c.mail.secure())
        return SmtpStep::AuthLogin;
    if (c.extensions.startTls) {
        c.memory->Remember();
        return SmtpStep::StartTls;
    }
    if (c.memory->known()) {
        std::snprintf(c.failure, sizeof c.failure, "Mail Server Dropped STARTTLS - Nothing Sent");
        return SmtpStep::Quit;
    }
    return SmtpStep::AuthLogin;
}

// Sends the step's command and shows what is under way.
void Begin(Conversation& c, SmtpStep step)
{
    MailConnection& mail = c.mail;
    switch (step) {
    case SmtpStep::Hello:
        Status("Writing a Request to Mail Server");
        SendCommand(mail, "EHLO %s%c%c", kMailClientDomain);
        break;
    case SmtpStep::Helo: SendCommand(mail, "HELO %s%c%c", kMailClientDomain); break;
    case SmtpStep::StartTls: SendCommand(mail, "%s%c%c", "STARTTLS"); break;
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
    // A server that knows no EHLO may know HELO (RFC 5321, 3.2), and then
    // no extensions are known; any other refusal is left to the commands
    // after it, as ever.
    case SmtpStep::Hello:
        if (code != kReplyOk)
            c.extensions = Extensions();
        if (code == kReplySyntaxError || code == kReplyParameterError || code == kReplyNotImplemented)
            return SmtpStep::Helo;
        return AfterHello(c);
    case SmtpStep::Helo: return AfterHello(c);
    // RFC 3207, 4:
    //   220 Ready to start TLS
    //   501 Syntax error (no parameters allowed)
    //   454 TLS not available due to temporary reason
    // Anything but 220 means no TLS, and then nothing more is said. After
    // the handshake (4.2): "The client MUST discard any knowledge obtained
    // from the server, such as the list of SMTP service extensions, which
    // was not obtained from the TLS negotiation itself. The client SHOULD
    // send an EHLO command as the first command after a successful TLS
    // negotiation."
    case SmtpStep::StartTls:
        if (code != kReplyServiceReady) {
            std::snprintf(c.failure, sizeof c.failure, "Mail Server Refused STARTTLS - Nothing Sent");
            return SmtpStep::Quit;
        }
        if (!c.mail.StartTls(c.server->host)) {
            TlsFailure(c);
            return SmtpStep::Done;
        }
        return SmtpStep::Hello;
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
    char text[kServerChars + 1];
    SafeText(text, kServerChars, currentSite.mailServer);
    MailServer server;
    // The field is signed; ports above 32767 are stored as negative numbers.
    if (!ParseMailServer(text, uint16_t(SiteMailPort(currentSite)), server)) {
        FailureStatus("Invalid Mail Server - Nothing Sent");
        return 0;
    }
    Status("Find the Mail Server");
    uint32_t address = 0;
    bool resolved = ResolveHost(server.host, address);
    Status("Contacted the Mail Server");

    MessageFile message(messagePath);
    TlsMemory memory(server);
    Conversation c;
    c.recipient = recipient;
    c.messageFile = message.handle();
    c.server = &server;
    c.memory = &memory;
    MailConnection& mail = c.mail;
    if (resolved) {
        if (!mail.Create(mailWaitMilliseconds, AttemptMilliseconds(message.handle())))
            return 0;
        mail.Connect(address, uint16_t(server.port));
        // RFC 8314, 3.3: on the implicit-TLS port the handshake comes first,
        // before the server's greeting.
        if (server.implicitTls && mail.connected() && !mail.StartTls(server.host))
            TlsFailure(c);
    }
    SmtpStep step = mail.connected() ? SmtpStep::Greeting : SmtpStep::Quit;
    while (step != SmtpStep::Done) {
        Begin(c, step);
        if (step == SmtpStep::Hello)
            c.extensions = Extensions();
        int code = mail.Receive(step >= SmtpStep::Data ? kShortReply : MailConnection::kReplySize,
                                step == SmtpStep::Hello ? &c.extensions : nullptr);
        if (step == SmtpStep::Greeting && code == kReplyTransactionFailed) {
            mail.Close();
            FailureStatus("Unable to Write to Mail Server - Error 554");
            return 2;
        }
        step = After(c, step, code);
    }
    mail.Close();
    if (c.failure[0]) {
        FailureStatus(c.failure);
        return 0;
    }
    std::snprintf(text, sizeof text, "Returning to Calling Code - %d", int(c.result));
    Status(text);
    return c.result;
}
