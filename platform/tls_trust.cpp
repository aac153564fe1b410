// The trust file: PEM certificate blocks and SHA-256 pins, one per line.
#include "platform/tls_trust.h"

#include <cstring>

#include "platform/win32.h"

namespace {

constexpr char kBegin[] = "-----BEGIN CERTIFICATE-----";
constexpr char kEnd[] = "-----END CERTIFICATE-----";
// A certificate block longer than this is no certificate we could use.
constexpr size_t kBlockLimit = 64 * 1024;

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    size_t n = std::strlen(prefix);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        char a = text[i], b = prefix[i];
        if (a >= 'A' && a <= 'Z') a = char(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = char(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

// "AB12...", "ab:12:...", after an optional "sha256 " or "SHA256=": 32 bytes
// written as 64 digits, either all together or in pairs split by ':'.
bool ParsePin(std::string line, TlsFingerprint& pin) {
    if (StartsWithNoCase(line, "sha256 ") || StartsWithNoCase(line, "sha256=")) line.erase(0, 7);
    bool colons = line.size() == kTlsFingerprintSize * 3 - 1;
    if (!colons && line.size() != kTlsFingerprintSize * 2) return false;
    size_t step = colons ? 3 : 2;
    for (size_t i = 0; i < kTlsFingerprintSize; ++i) {
        size_t at = i * step;
        if (colons && i > 0 && line[at - 1] != ':') return false;
        int high = HexValue(line[at]), low = HexValue(line[at + 1]);
        if (high < 0 || low < 0) return false;
        pin[i] = static_cast<unsigned char>(high * 16 + low);
    }
    return true;
}

// The base64 body of one PEM block; false on any character outside the
// alphabet or padding in the middle.
bool DecodeBase64(const std::string& text, std::vector<unsigned char>& out) {
    unsigned bits = 0;
    int count = 0;
    bool padded = false;
    for (char c : text) {
        if (c == '=') {
            padded = true;
            continue;
        }
        int value = Base64Value(c);
        if (value < 0 || padded) return false;
        bits = (bits << 6) | unsigned(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<unsigned char>(bits >> count));
            bits &= (1u << count) - 1;
        }
    }
    return !out.empty();
}

}  // namespace

TlsTrust TlsParseTrust(const std::string& text) {
    TlsTrust trust;
    std::string block;
    bool inBlock = false;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        size_t first = line.find_first_not_of(" \t\r");
        size_t last = line.find_last_not_of(" \t\r");
        line = first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
        if (inBlock) {
            if (line == kEnd) {
                std::vector<unsigned char> der;
                if (DecodeBase64(block, der)) trust.certificates.push_back(std::move(der));
                inBlock = false;
            } else if (line == kBegin || block.size() + line.size() > kBlockLimit) {
                // A block cut short: what follows starts afresh.
                inBlock = line == kBegin;
                block.clear();
            } else {
                block += line;
            }
            continue;
        }
        if (line.empty() || line[0] == '#') continue;
        if (line == kBegin) {
            inBlock = true;
            block.clear();
            continue;
        }
        TlsFingerprint pin;
        if (ParsePin(line, pin)) trust.pins.push_back(pin);
    }
    return trust;
}

TlsTrust TlsReadTrust(const char* path) {
    if (!path || !*path) return {};
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string text;
    char chunk[16 * 1024];
    DWORD got = 0;
    while (text.size() < kTlsTrustFileLimit && ReadFile(file, chunk, sizeof chunk, &got, NULL) && got > 0)
        text.append(chunk, got);
    CloseHandle(file);
    if (text.size() > kTlsTrustFileLimit) text.resize(kTlsTrustFileLimit);
    return TlsParseTrust(text);
}

bool TlsPinned(const TlsTrust& trust, const unsigned char* digest) {
    for (const TlsFingerprint& pin : trust.pins)
        if (std::memcmp(pin.data(), digest, pin.size()) == 0) return true;
    return false;
}
