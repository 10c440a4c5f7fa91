#include "mail/smtp_auth.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <deque>
#include <string>
#include <vector>

#include "mail/smtp.h"
#include "mail/smtp_protocol.h"
#include "settings/md5.h"

namespace hygro {
namespace {

using namespace std::string_literals;

std::string Md5RawText(const std::string& data) {
    MD5 md5;
    md5.Update(data);
    const auto digest = md5.Final();
    return std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
}

TEST(Base64, Rfc4648Vectors) {
    const struct {
        std::string plain, encoded;
    } vectors[] = {
        {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
        // every byte value class, including the two non-alphanumeric digits
        {"\x00\xFF\xFE\xFB\xEF\xBF"s, "AP/++++/"},
    };
    for (const auto& v : vectors) {
        EXPECT_EQ(base64_encode(v.plain), v.encoded) << v.encoded;
        EXPECT_EQ(base64_encode(reinterpret_cast<const unsigned char*>(v.plain.data()),
                                static_cast<unsigned>(v.plain.size())),
                  v.encoded);
        EXPECT_EQ(base64_decode(v.encoded), v.plain) << v.encoded;
    }
    EXPECT_EQ(base64_encode(nullptr, 5), "");
}

TEST(Base64, DecodeStopsAtPaddingAndAtForeignCharacters) {
    const struct {
        const char* encoded;
        std::string plain;
    } cases[] = {
        {"Zm9vYg==\r\n", "foob"},         // a challenge line with its CR LF
        {"Zm9vYmFy\r\n", "foobar"},       // CR LF without padding
        {"Zm9v=YmFy", "foo"},             // nothing after the first "="
        {"Zm9v YmFy", "foo"},             // a blank is outside the alphabet
        {"Zm9vYmF", "fooba"},            // a missing pad still gives the complete bytes
        {"Z", ""},                        // six bits make no byte
        {"\xC3\xA4Zm9v", ""},             // UTF-8 up front: nothing decoded
    };
    for (const auto& c : cases) EXPECT_EQ(base64_decode(c.encoded), c.plain) << c.encoded;
}

TEST(CharToUnsignedChar, CopiesTheTextWithItsZero) {
    const auto copy = CharToUnsignedChar("a^b");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(copy.get()), 4), "a^b\0"s);
    EXPECT_EQ(CharToUnsignedChar(nullptr), nullptr);
    const auto empty = CharToUnsignedChar("");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty[0], 0);
}

TEST(HmacMd5, Rfc2202Vectors) {
    const struct {
        std::string key, data, hex;
    } vectors[] = {
        {std::string(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
        {"Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
        {std::string(16, '\xaa'), std::string(50, '\xdd'), "56be34521d144c88dbb8c733f0e8b3f6"},
        // keys longer than a block are digested first
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "6f630fad67cda0ee1fb1f562db3aa53e"},
    };
    for (const auto& v : vectors) EXPECT_EQ(HmacMd5Hex(v.key, v.data), v.hex) << v.data;
    // 65 bytes are digested first; exactly one block is used as it is.
    EXPECT_EQ(HmacMd5Hex(std::string(65, 'k'), "x"), HmacMd5Hex(Md5RawText(std::string(65, 'k')), "x"));
    EXPECT_NE(HmacMd5Hex(std::string(64, 'k'), "x"), HmacMd5Hex(Md5RawText(std::string(64, 'k')), "x"));
}

TEST(CramMd5, Rfc2195WorkedExample) {
    const std::string challenge = base64_decode("PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+");
    EXPECT_EQ(challenge, "<1896.697170952@postoffice.reston.mci.net>");
    const std::string response = CramMd5Response("tim", "tanstaaftanstaaf", challenge);
    EXPECT_EQ(response, "tim b913a602c7eda7a495b4e6e7334d3890");
    EXPECT_EQ(base64_encode(response), "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw");
}

constexpr const char* kRfc2831Challenge =
    "realm=\"elwood.innosoft.com\",nonce=\"OA6MG9tEQGm2hh\",qop=\"auth\",algorithm=md5-sess,charset=utf-8";
constexpr const char* kRfc2831Response =
    "charset=utf-8,username=\"chris\",realm=\"elwood.innosoft.com\",nonce=\"OA6MG9tEQGm2hh\",nc=00000001,"
    "cnonce=\"OA6MHXh6VqTrRk\",digest-uri=\"imap/elwood.innosoft.com\","
    "response=d388dad90d4bbd760a152321f2143af7,qop=auth";

TEST(DigestMd5, Rfc2831WorkedExample) {
    EXPECT_EQ(DigestMd5Response("chris", "secret", kRfc2831Challenge, "OA6MHXh6VqTrRk", "imap/elwood.innosoft.com"),
              kRfc2831Response);
}

TEST(DigestMd5, ChallengeShapes) {
    // Without a realm the response has none, and the digest is taken over an empty realm.
    const std::string noRealm = DigestMd5Response("u", "p", "nonce=\"abc\",qop=\"auth\"", "c", "smtp/10.0.0.1");
    EXPECT_EQ(noRealm.find("realm="), std::string::npos);
    EXPECT_NE(noRealm.find(",nonce=\"abc\",nc=00000001,cnonce=\"c\",digest-uri=\"smtp/10.0.0.1\",response="),
              std::string::npos);

    const char* broken[] = {
        "realm=\"x\",qop=\"auth\"",        // no nonce
        "nonce=\"abc",                     // nonce never closed
        "nonce=\"abc\",realm=\"unclosed",  // realm never closed
        "nonce",                           // the name at the very end
        "",
    };
    for (const char* challenge : broken) {
        try {
            DigestMd5Response("u", "p", challenge, "c", "smtp/10.0.0.1");
            ADD_FAILURE() << "no error for " << challenge;
        } catch (const ECSmtp& e) {
            EXPECT_EQ(e.GetErrorNum(), 207) << challenge;
        }
    }
}

TEST(DigestMd5, UriIsTheSocketsIPv4Peer) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_EQ(DigestMd5Uri(client), "smtp/127.0.0.1");

    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    for (const int fd : {listener, pair[0], -1}) { // not connected, not IPv4, no socket
        try {
            DigestMd5Uri(fd);
            ADD_FAILURE() << "no error for fd " << fd;
        } catch (const ECSmtp& e) {
            EXPECT_EQ(e.GetErrorNum(), 208);
        }
    }
    for (const int fd : {listener, client, pair[0], pair[1]}) ::close(fd);
}

// The client's side of a login, scripted: records what was sent and the login flag at
// every send and receive.
class FakeChannel : public SmtpAuthChannel {
  public:
    struct Event {
        bool sent;
        int command;
        std::string text;
        int flag;
    };

    explicit FakeChannel(std::vector<std::string> replies) : m_replies(replies.begin(), replies.end()) {}

    void SendCommand(int command, const std::string& text) override {
        events.push_back({true, command, text, g_bFlagsAuthLogin.load()});
    }
    std::string ReceiveReply(int command) override {
        events.push_back({false, command, {}, g_bFlagsAuthLogin.load()});
        if (m_replies.empty()) throw ECSmtp(402);
        const std::string reply = m_replies.front();
        m_replies.pop_front();
        const tagCommand_Entry& entry = FindCommandEntry(command);
        if (FinalReplyCode(reply) != entry.valid_reply_code) throw ECSmtp(entry.error);
        return reply;
    }
    std::string DigestUri() override { return uri; }

    std::vector<std::string> Sent() const {
        std::vector<std::string> out;
        for (const Event& e : events)
            if (e.sent) out.push_back(e.text);
        return out;
    }
    std::vector<int> Flags() const {
        std::vector<int> out;
        for (const Event& e : events) out.push_back(e.flag);
        return out;
    }

    std::vector<Event> events;
    std::string uri = "smtp/192.0.2.7";

  private:
    std::deque<std::string> m_replies;
};

std::string Reply334(const std::string& decoded) { return "334 " + base64_encode(decoded) + "\r\n"; }

TEST(SmtpLogin, MethodFollowsTheOfferInFixedOrderAndFlagsMarkCredentialLines) {
    const std::string challenge = "<1896.697170952@postoffice.reston.mci.net>";
    const std::string digestChallenge = "realm=\"r\",nonce=\"n\",qop=\"auth\"";
    const struct {
        const char* name;
        const char* ehlo;
        std::vector<std::string> replies;
        std::vector<std::string> sent;
        std::vector<int> flags; // at each send and receive, in order
    } cases[] = {
        {"LOGIN before PLAIN",
         "250-peer\r\n250-AUTH LOGIN PLAIN\r\n250 OK\r\n",
         {"334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n", "235 ok\r\n"},
         {"AUTH LOGIN\r\n", "dGlt\r\n", "dGFuc3RhYWZ0YW5zdGFhZg==\r\n"},
         {0, 1, 2, 1, 2, 0}},
        {"LOGIN offered with =",
         "250-peer\r\n250 AUTH=LOGIN\r\n",
         {"334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n", "235 ok\r\n"},
         {"AUTH LOGIN\r\n", "dGlt\r\n", "dGFuc3RhYWZ0YW5zdGFhZg==\r\n"},
         {0, 1, 2, 1, 2, 0}},
        {"PLAIN before CRAM-MD5",
         "250-peer\r\n250 AUTH CRAM-MD5 PLAIN\r\n",
         {"235 ok\r\n"},
         {"AUTH PLAIN " + base64_encode("tim\0tim\0tanstaaftanstaaf"s) + "\r\n"},
         {2, 0}},
        {"CRAM-MD5 before DIGEST-MD5",
         "250-peer\r\n250 AUTH DIGEST-MD5 CRAM-MD5\r\n",
         {Reply334(challenge), "235 ok\r\n"},
         {"AUTH CRAM-MD5\r\n", base64_encode("tim b913a602c7eda7a495b4e6e7334d3890") + "\r\n"},
         {0, 0, 2, 0}},
        {"DIGEST-MD5 alone",
         "250-peer\r\n250 AUTH DIGEST-MD5\r\n",
         {Reply334(digestChallenge), Reply334("rspauth=x"), "235 ok\r\n"},
         {"AUTH DIGEST-MD5\r\n",
          base64_encode(DigestMd5Response("tim", "tanstaaftanstaaf", digestChallenge, "c0ffee", "smtp/192.0.2.7")) +
              "\r\n",
          "\r\n"},
         {0, 0, 2, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeChannel channel(c.replies);
        SmtpLogin(channel, c.ehlo, "tim", "tanstaaftanstaaf", "c0ffee");
        EXPECT_EQ(channel.Sent(), c.sent);
        EXPECT_EQ(channel.Flags(), c.flags);
        EXPECT_EQ(g_bFlagsAuthLogin.load(), 0);
    }
}

TEST(SmtpLogin, PlainKeepsCaretsAndJoinsWithRealZeros) {
    FakeChannel channel({"235 ok\r\n"});
    SmtpLogin(channel, "250 AUTH PLAIN\r\n", "a^b", "pa^ss");
    ASSERT_EQ(channel.Sent().size(), 1u);
    const std::string line = channel.Sent()[0];
    ASSERT_TRUE(line.starts_with("AUTH PLAIN ") && line.ends_with("\r\n")) << line;
    EXPECT_EQ(base64_decode(line.substr(11)), "a^b\0a^b\0pa^ss"s);
}

TEST(SmtpLogin, DigestUsesTheInjectedCnonceOrTheClockInHex) {
    const std::string challenge = "realm=\"elwood.innosoft.com\",nonce=\"OA6MG9tEQGm2hh\",qop=\"auth\"";
    FakeChannel injected({Reply334(challenge), Reply334("rspauth=x"), "235 ok\r\n"});
    injected.uri = "imap/elwood.innosoft.com";
    SmtpLogin(injected, "250 AUTH DIGEST-MD5\r\n", "chris", "secret", "OA6MHXh6VqTrRk");
    EXPECT_EQ(base64_decode(injected.Sent().at(1)), kRfc2831Response);

    FakeChannel clock({Reply334(challenge), Reply334("rspauth=x"), "235 ok\r\n"});
    const auto before = static_cast<std::uint32_t>(std::time(nullptr));
    SmtpLogin(clock, "250 AUTH DIGEST-MD5\r\n", "chris", "secret");
    const auto after = static_cast<std::uint32_t>(std::time(nullptr));
    const std::string text = base64_decode(clock.Sent().at(1));
    const std::size_t at = text.find("cnonce=\"");
    ASSERT_NE(at, std::string::npos);
    const std::string cnonce = text.substr(at + 8, text.find('"', at + 8) - at - 8);
    ASSERT_EQ(cnonce.find_first_not_of("0123456789abcdef"), std::string::npos) << cnonce;
    const auto seconds = static_cast<std::uint32_t>(std::stoul(cnonce, nullptr, 16));
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);
}

TEST(SmtpLogin, FailuresCarryTheStepsIdAndClearTheFlag) {
    const struct {
        const char* name;
        const char* ehlo;
        const char* login;
        const char* password;
        std::vector<std::string> replies;
        int error;
        std::size_t sent; // lines sent before the failure
    } cases[] = {
        {"no login", "250 AUTH LOGIN\r\n", "", "pw", {}, 204, 0},
        {"no password", "250 AUTH LOGIN\r\n", "tim", "", {}, 205, 0},
        {"no known method", "250 AUTH XOAUTH2 NTLM\r\n", "tim", "pw", {}, 417, 0},
        {"no AUTH line at all", "250-peer\r\n250 SIZE 100\r\n", "tim", "pw", {}, 417, 0},
        {"AUTH LOGIN refused", "250 AUTH LOGIN\r\n", "tim", "pw", {"504 no\r\n"}, 303, 1},
        {"login name refused", "250 AUTH LOGIN\r\n", "tim", "pw", {"334 x\r\n", "535 no\r\n"}, 407, 2},
        {"password refused", "250 AUTH LOGIN\r\n", "tim", "pw", {"334 x\r\n", "334 y\r\n", "535 no\r\n"}, 406, 3},
        {"PLAIN refused", "250 AUTH PLAIN\r\n", "tim", "pw", {"535 no\r\n"}, 302, 1},
        {"AUTH CRAM-MD5 refused", "250 AUTH CRAM-MD5\r\n", "tim", "pw", {"504 no\r\n"}, 304, 1},
        {"CRAM-MD5 response refused", "250 AUTH CRAM-MD5\r\n", "tim", "pw", {Reply334("<1@x>"), "535 no\r\n"},
         406, 2},
        {"AUTH DIGEST-MD5 refused", "250 AUTH DIGEST-MD5\r\n", "tim", "pw", {"504 no\r\n"}, 305, 1},
        {"challenge without nonce", "250 AUTH DIGEST-MD5\r\n", "tim", "pw", {Reply334("realm=\"r\"")}, 207, 1},
        {"digest response refused", "250 AUTH DIGEST-MD5\r\n", "tim", "pw",
         {Reply334("nonce=\"n\""), "535 no\r\n"}, 306, 2},
        {"digest final refused", "250 AUTH DIGEST-MD5\r\n", "tim", "pw",
         {Reply334("nonce=\"n\""), Reply334("rspauth=x"), "535 no\r\n"}, 406, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeChannel channel(c.replies);
        try {
            SmtpLogin(channel, c.ehlo, c.login, c.password);
            ADD_FAILURE() << "no error";
        } catch (const ECSmtp& e) {
            EXPECT_EQ(e.GetErrorNum(), c.error);
        }
        EXPECT_EQ(channel.Sent().size(), c.sent);
        EXPECT_EQ(g_bFlagsAuthLogin.load(), 0);
    }
}

TEST(SmtpLogin, CramMd5WithALongPasswordUsesItsDigestAsKey) {
    const std::string password(100, 'p');
    FakeChannel channel({Reply334("<1@x>"), "235 ok\r\n"});
    SmtpLogin(channel, "250 AUTH CRAM-MD5\r\n", "tim", password);
    EXPECT_EQ(base64_decode(channel.Sent().at(1)), "tim " + HmacMd5Hex(Md5RawText(password), "<1@x>"));
}

} // namespace
} // namespace hygro
