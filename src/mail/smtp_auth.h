// The SMTP client's login step (LOGIN, PLAIN, CRAM-MD5, DIGEST-MD5) and the Base64 and
// digest helpers it needs.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace hygro {

// RFC 4648 alphabet, "=" padding, no line breaks.
std::string base64_encode(const unsigned char* bytes_to_encode, unsigned int in_len);
std::string base64_encode(std::string_view bytes);
// Stops at the first "=" or at the first character outside the alphabet (a trailing CR LF
// is ignored); an incomplete last group yields the bytes it completes.
std::string base64_decode(std::string_view encoded_string);

// A copy of the text with its terminating zero; null for a null text or when memory is short.
std::unique_ptr<unsigned char[]> CharToUnsignedChar(const char* strIn);

// RFC 2104 HMAC-MD5 as 32 lowercase hex digits; a key over 64 bytes is replaced by its MD5.
std::string HmacMd5Hex(std::string_view key, std::string_view text);

// The decoded RFC 2195 response: login, a space and the HMAC-MD5 of the challenge.
std::string CramMd5Response(std::string_view login, std::string_view password, std::string_view challenge);

// The RFC 2831 response text (qop "auth") to a decoded challenge. Throws 207 when the
// challenge has no nonce or a quoted value is not closed.
std::string DigestMd5Response(std::string_view login, std::string_view password, std::string_view challenge,
                              std::string_view cnonce, std::string_view digestUri);

// "smtp/" + the dotted IPv4 peer address of a connected socket; 208 when there is none.
std::string DigestMd5Uri(int socket);

// Where the login step sends its lines and reads the replies: the client's connection.
class SmtpAuthChannel {
  public:
    virtual ~SmtpAuthChannel() = default;
    // Sends text as the given command of the command table.
    virtual void SendCommand(int command, const std::string& text) = 0;
    // Awaits the reply to command; a code other than the table's throws its error id.
    virtual std::string ReceiveReply(int command) = 0;
    // "smtp/" + the server's IPv4 address (throws 208 when it cannot be determined).
    virtual std::string DigestUri() = 0;
};

// Logs in with the first method that ehloReply offers: LOGIN, PLAIN, CRAM-MD5, DIGEST-MD5.
// Throws 204/205 for an empty login/password, 417 when no method is offered. An empty
// cnonce means the current time in seconds as lowercase hex.
void SmtpLogin(SmtpAuthChannel& channel, std::string_view ehloReply, const std::string& login,
               const std::string& password, std::string cnonce = {});

} // namespace hygro
