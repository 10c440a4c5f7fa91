#include "mail/smtp_auth.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "mail/smtp.h"
#include "mail/smtp_protocol.h"
#include "settings/md5.h"

namespace hygro {

std::atomic<int> g_bFlagsAuthLogin{0};

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

std::array<std::uint8_t, 16> Md5Raw(std::string_view data) {
    MD5 md5;
    md5.Update(data);
    return md5.Final();
}

std::string Md5Hex(std::string_view data) { return MD5::HexDigest(data); }

std::string_view AsText(const std::array<std::uint8_t, 16>& digest) {
    return {reinterpret_cast<const char*>(digest.data()), digest.size()};
}

// The text between `name="` and the next quote. Absent: 207 when required, else empty.
std::string QuotedValue(std::string_view challenge, std::string_view name, bool required) {
    const std::size_t pos = challenge.find(name);
    if (pos == std::string_view::npos) {
        if (required) throw ECSmtp(207);
        return {};
    }
    const std::size_t start = pos + name.size() + 2; // past `="`
    if (start > challenge.size()) throw ECSmtp(207);
    const std::size_t end = challenge.find('"', start);
    if (end == std::string_view::npos) throw ECSmtp(207);
    return std::string(challenge.substr(start, end - start));
}

// The Base64 challenge after "334 ".
std::string Challenge(const std::string& reply) {
    return reply.size() > 4 ? base64_decode(std::string_view(reply).substr(4)) : std::string();
}

// Sets the process-wide login flag for the traffic hook; back to 0 when the login ends.
class AuthFlag {
  public:
    AuthFlag() = default;
    AuthFlag(const AuthFlag&) = delete;
    AuthFlag& operator=(const AuthFlag&) = delete;
    ~AuthFlag() { g_bFlagsAuthLogin = 0; }
    void Set(int value) { g_bFlagsAuthLogin = value; }
};

} // namespace

std::string base64_encode(const unsigned char* bytes, unsigned int in_len) {
    std::string out;
    if (!bytes) return out;
    out.reserve((in_len + 2) / 3 * 4);
    unsigned int i = 0;
    for (; i + 3 <= in_len; i += 3) {
        const unsigned v = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += kAlphabet[v >> 6 & 63];
        out += kAlphabet[v & 63];
    }
    const unsigned rest = in_len - i;
    if (rest > 0) {
        const unsigned v = bytes[i] << 16 | (rest == 2 ? bytes[i + 1] << 8 : 0);
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += rest == 2 ? kAlphabet[v >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

std::string base64_encode(std::string_view bytes) {
    return base64_encode(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<unsigned>(bytes.size()));
}

std::string base64_decode(std::string_view encoded) {
    std::string out;
    out.reserve(encoded.size() / 4 * 3);
    unsigned acc = 0;
    int bits = 0;
    for (const char c : encoded) {
        const int v = Base64Value(c);
        if (v < 0) break; // "=" included
        acc = (acc << 6 | static_cast<unsigned>(v)) & 0xFFFFFF;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>(acc >> bits & 0xFF);
        }
    }
    return out;
}

std::unique_ptr<unsigned char[]> CharToUnsignedChar(const char* strIn) {
    if (!strIn) return nullptr;
    const std::size_t n = std::strlen(strIn) + 1;
    try {
        auto out = std::make_unique_for_overwrite<unsigned char[]>(n);
        std::memcpy(out.get(), strIn, n);
        return out;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::string HmacMd5Hex(std::string_view key, std::string_view text) {
    std::array<std::uint8_t, 16> shortened{};
    if (key.size() > 64) {
        shortened = Md5Raw(key);
        key = AsText(shortened);
    }
    std::array<char, 64> ipad{}, opad{};
    std::memcpy(ipad.data(), key.data(), key.size());
    std::memcpy(opad.data(), key.data(), key.size());
    for (std::size_t i = 0; i < 64; ++i) {
        ipad[i] = static_cast<char>(ipad[i] ^ 0x36);
        opad[i] = static_cast<char>(opad[i] ^ 0x5C);
    }
    MD5 inner;
    inner.Update({ipad.data(), ipad.size()});
    inner.Update(text);
    const auto innerDigest = inner.Final();
    MD5 outer;
    outer.Update({opad.data(), opad.size()});
    outer.Update(AsText(innerDigest));
    std::string hex;
    for (const std::uint8_t b : outer.Final()) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", b);
        hex += two;
    }
    return hex;
}

std::string CramMd5Response(std::string_view login, std::string_view password, std::string_view challenge) {
    std::string out(login);
    out += ' ';
    out += HmacMd5Hex(password, challenge);
    return out;
}

std::string DigestMd5Response(std::string_view login, std::string_view password, std::string_view challenge,
                              std::string_view cnonce, std::string_view digestUri) {
    const std::string nonce = QuotedValue(challenge, "nonce", true);
    const std::string realm = QuotedValue(challenge, "realm", false);
    const std::string nc = "00000001";
    const std::string qop = "auth";

    std::string a1(login);
    a1 += ':';
    a1 += realm;
    a1 += ':';
    a1 += password;
    std::string ha1Input(AsText(Md5Raw(a1)));
    ha1Input += ':' + nonce + ':';
    ha1Input += cnonce;
    const std::string ha1 = Md5Hex(ha1Input);
    const std::string ha2 = Md5Hex("AUTHENTICATE:" + std::string(digestUri));
    const std::string response = Md5Hex(ha1 + ':' + nonce + ':' + nc + ':' + std::string(cnonce) + ':' + qop + ':' + ha2);

    std::string text = "charset=utf-8,username=\"" + std::string(login) + "\"";
    if (!realm.empty()) text += ",realm=\"" + realm + "\"";
    text += ",nonce=\"" + nonce + "\"";
    text += ",nc=" + nc;
    text += ",cnonce=\"" + std::string(cnonce) + "\"";
    text += ",digest-uri=\"" + std::string(digestUri) + "\"";
    text += ",response=" + response;
    text += ",qop=" + qop;
    return text;
}

std::string DigestMd5Uri(int socket) {
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    if (socket < 0 || ::getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &len) != 0 ||
        peer.ss_family != AF_INET)
        throw ECSmtp(208);
    char dotted[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(&peer);
    if (!::inet_ntop(AF_INET, &in->sin_addr, dotted, sizeof dotted)) throw ECSmtp(208);
    return std::string("smtp/") + dotted;
}

void SmtpLogin(SmtpAuthChannel& channel, std::string_view ehloReply, const std::string& login,
               const std::string& password, std::string cnonce) {
    if (login.empty()) throw ECSmtp(204);
    if (password.empty()) throw ECSmtp(205);

    AuthFlag flag;
    try {
        if (IsKeywordSupported(ehloReply, "LOGIN")) {
            channel.SendCommand(command_AUTHLOGIN, "AUTH LOGIN\r\n");
            flag.Set(1);
            channel.ReceiveReply(command_AUTHLOGIN);
            flag.Set(2);
            channel.SendCommand(command_USER, base64_encode(login) + "\r\n");
            flag.Set(1);
            channel.ReceiveReply(command_USER);
            flag.Set(2);
            channel.SendCommand(command_PASSWORD, base64_encode(password) + "\r\n");
            flag.Set(0);
            channel.ReceiveReply(command_PASSWORD);
        } else if (IsKeywordSupported(ehloReply, "PLAIN")) {
            // authzid NUL authcid NUL password: a "^" in either stays a "^".
            std::string token = login;
            token += '\0';
            token += login;
            token += '\0';
            token += password;
            flag.Set(2);
            channel.SendCommand(command_AUTHPLAIN, "AUTH PLAIN " + base64_encode(token) + "\r\n");
            flag.Set(0);
            channel.ReceiveReply(command_AUTHPLAIN);
        } else if (IsKeywordSupported(ehloReply, "CRAM-MD5")) {
            channel.SendCommand(command_AUTHCRAMMD5, "AUTH CRAM-MD5\r\n");
            const std::string challenge = Challenge(channel.ReceiveReply(command_AUTHCRAMMD5));
            const std::string line = base64_encode(CramMd5Response(login, password, challenge)) + "\r\n";
            flag.Set(2);
            channel.SendCommand(command_PASSWORD, line);
            flag.Set(0);
            channel.ReceiveReply(command_PASSWORD);
        } else if (IsKeywordSupported(ehloReply, "DIGEST-MD5")) {
            channel.SendCommand(command_AUTHDIGESTMD5, "AUTH DIGEST-MD5\r\n");
            const std::string challenge = Challenge(channel.ReceiveReply(command_AUTHDIGESTMD5));
            if (cnonce.empty()) {
                char hex[16];
                std::snprintf(hex, sizeof hex, "%x", static_cast<std::uint32_t>(std::time(nullptr)));
                cnonce = hex;
            }
            const std::string text = DigestMd5Response(login, password, challenge, cnonce, channel.DigestUri());
            flag.Set(2);
            channel.SendCommand(command_DIGESTMD5, base64_encode(text) + "\r\n");
            flag.Set(0);
            channel.ReceiveReply(command_DIGESTMD5);
            channel.SendCommand(command_PASSWORD, "\r\n");
            channel.ReceiveReply(command_PASSWORD);
        } else {
            throw ECSmtp(417);
        }
    } catch (const std::bad_alloc&) {
        throw ECSmtp(206);
    }
}

} // namespace hygro
