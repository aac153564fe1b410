#include <cstring>

#include "alerts/smtp_client.h"

void Base64Encode(const char* text, char* out, size_t outSize)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (outSize == 0)
        return;
    const auto* in = reinterpret_cast<const unsigned char*>(text);
    size_t length = std::strlen(text);
    size_t at = 0;
    for (size_t i = 0; i < length && at + 4 < outSize; i += 3) {
        unsigned group = unsigned(in[i]) << 16;
        if (i + 1 < length)
            group |= unsigned(in[i + 1]) << 8;
        if (i + 2 < length)
            group |= in[i + 2];
        out[at++] = kAlphabet[(group >> 18) & 63];
        out[at++] = kAlphabet[(group >> 12) & 63];
        out[at++] = i + 1 < length ? kAlphabet[(group >> 6) & 63] : '=';
        out[at++] = i + 2 < length ? kAlphabet[group & 63] : '=';
    }
    out[at] = '\0';
}
