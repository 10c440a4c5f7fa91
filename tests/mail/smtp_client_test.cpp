// The client against a scripted server on 127.0.0.1: framing, time-outs, error paths and
// what the traffic hook sees.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "mail/smtp.h"
#include "mail/smtp_auth.h"
#include "smtp_test_support.h"
#include "support/temp_dir.h"

namespace hygro {
namespace {

using Step = test::ScriptedSmtpServer::Step;
using Then = test::ScriptedSmtpServer::Then;
using namespace std::chrono_literals;

const Step kGreeting{"", "220 peer.test ESMTP\r\n"};
const Step kPlainEhlo{"EHLO", "250-peer.test\r\n250 SIZE 1000\r\n"};

using test::ErrorOf;

void Connect(CSmtp& mail, const test::ScriptedSmtpServer& server, SMTP_SECURITY_TYPE type = NO_SECURITY,
             const char* login = "tim", const char* password = "pw") {
    mail.ConnectRemoteServer("127.0.0.1", server.port(), type, true, login, password);
}

void FillMessage(CSmtp& mail) {
    mail.SetSenderMail("station@hygrolog.test");
    mail.SetSenderName("Hygrolog");
    mail.SetSubject("Alarm");
    mail.AddRecipient("ops@example.test", "Ops");
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(SmtpClient, SilentServerTimesOutWith402) {
    test::ShortTimeouts shortWaits; // 300 s become 1 s
    test::ScriptedSmtpServer server({{"", "", Then::Silent}});
    CSmtp mail;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ErrorOf([&] { Connect(mail, server); }), 402);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 5s);
    EXPECT_TRUE(server.Lines().empty()); // never greeted, so no QUIT either
}

TEST(SmtpClient, ReplyLimitIsTheReceiveBuffer) {
    const auto ehloOfSize = [](std::size_t total) {
        const std::string last = "250 OK\r\n";
        const std::string first = "250-" + std::string(total - 4 - 2 - last.size(), 'x') + "\r\n";
        return first + last;
    };
    {
        test::ScriptedSmtpServer server({kGreeting, {"EHLO", ehloOfSize(10239)}});
        CSmtp mail;
        EXPECT_EQ(ErrorOf([&] { Connect(mail, server); }), 0);
    }
    {
        test::ScriptedSmtpServer server({kGreeting, {"EHLO", ehloOfSize(10240)}});
        CSmtp mail;
        EXPECT_EQ(ErrorOf([&] { Connect(mail, server); }), 408);
    }
    {
        test::ScriptedSmtpServer server({kGreeting, {"EHLO", "250-" + std::string(100000, 'y')}});
        CSmtp mail;
        EXPECT_EQ(ErrorOf([&] { Connect(mail, server); }), 408);
    }
}

TEST(SmtpClient, MultiLineReplyIsReadToItsLastLineEvenWhenSplit) {
    test::TrafficLog traffic;
    const std::string ehlo = "250-peer.test\r\n250-SIZE 1000\r\n250-8BITMIME\r\n250 AUTH PLAIN\r\n";
    test::ScriptedSmtpServer server({kGreeting, {"EHLO", ehlo, Then::Continue, true}, {"AUTH PLAIN", "235 ok\r\n"}});
    CSmtp mail;
    EXPECT_EQ(ErrorOf([&] { Connect(mail, server); }), 0);
    mail.DisconnectRemoteServer();
    const auto& lines = server.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], "AUTH PLAIN " + base64_encode(std::string("tim\0tim\0pw", 10)));
    EXPECT_EQ(lines.back(), "QUIT");
    // The hook got the reply whole, once.
    int whole = 0;
    for (const auto& e : traffic.Entries()) whole += e.text == ehlo;
    EXPECT_EQ(whole, 1);
}

TEST(SmtpClient, FailedLoginEndsWithQuitUnlessTheServerSaid530) {
    const struct {
        const char* reply;
        bool quit;
    } cases[] = {{"535 no\r\n", true}, {"530 Must issue a STARTTLS command first\r\n", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        test::ScriptedSmtpServer server({kGreeting, {"EHLO", "250 AUTH LOGIN\r\n"}, {"AUTH LOGIN", c.reply}});
        CSmtp mail;
        EXPECT_EQ(ErrorOf([&] { Connect(mail, server); }), 303);
        EXPECT_EQ(Contains(server.Lines(), "QUIT"), c.quit);
    }
}

TEST(SmtpClient, AuthCramMd5RefusedIs304) {
    test::ScriptedSmtpServer server(
        {kGreeting, {"EHLO", "250 AUTH CRAM-MD5\r\n"}, {"AUTH CRAM-MD5", "504 Unrecognized authentication type\r\n"}});
    CSmtp mail;
    EXPECT_EQ(ErrorOf([&] { Connect(mail, server); }), 304);
    EXPECT_EQ(server.Lines().back(), "QUIT");
}

TEST(SmtpClient, DigestMd5UsesThePeerAddressAsDigestUri) {
    const std::string challenge = "realm=\"peer.test\",nonce=\"abc123\",qop=\"auth\",charset=utf-8,algorithm=md5-sess";
    test::ScriptedSmtpServer server({kGreeting,
                                     {"EHLO", "250-peer.test\r\n250 AUTH DIGEST-MD5\r\n"},
                                     {"AUTH DIGEST-MD5", "334 " + base64_encode(challenge) + "\r\n"},
                                     {"*", "334 " + base64_encode("rspauth=0123") + "\r\n"},
                                     {"*", "235 ok\r\n"}});
    CSmtp mail;
    EXPECT_EQ(ErrorOf([&] { Connect(mail, server, NO_SECURITY, "chris", "secret"); }), 0);
    mail.DisconnectRemoteServer();
    const auto& lines = server.Lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[3], ""); // the empty line after rspauth
    const std::string response = base64_decode(lines[2]);
    const std::size_t at = response.find("cnonce=\"");
    ASSERT_NE(at, std::string::npos) << response;
    const std::string cnonce = response.substr(at + 8, response.find('"', at + 8) - at - 8);
    EXPECT_EQ(response, DigestMd5Response("chris", "secret", challenge, cnonce, "smtp/127.0.0.1"));
}

TEST(SmtpClient, HookSeesEveryTextAndTheFlagMarksCredentials) {
    test::TrafficLog traffic;
    test::ScriptedSmtpServer server({kGreeting,
                                     {"EHLO", "250-peer.test\r\n250 AUTH LOGIN PLAIN\r\n"},
                                     {"AUTH LOGIN", "334 VXNlcm5hbWU6\r\n"},
                                     {"*", "334 UGFzc3dvcmQ6\r\n"},
                                     {"*", "235 ok\r\n"}});
    {
        CSmtp mail;
        mail.SetLocalHostName("station");
        Connect(mail, server, NO_SECURITY, "tim", "s3cret");
    } // the destructor says QUIT
    std::vector<std::pair<std::string, int>> seen;
    for (const auto& e : traffic.Entries()) seen.emplace_back(e.text, e.flag);
    const std::vector<std::pair<std::string, int>> expected = {
        {"220 peer.test ESMTP\r\n", 0},
        {"EHLO station\r\n", 0},
        {"250-peer.test\r\n250 AUTH LOGIN PLAIN\r\n", 0},
        {"AUTH LOGIN\r\n", 0},
        {"334 VXNlcm5hbWU6\r\n", 1},
        {base64_encode("tim") + "\r\n", 2},
        {"334 UGFzc3dvcmQ6\r\n", 1},
        {base64_encode("s3cret") + "\r\n", 2},
        {"235 ok\r\n", 0},
        {"QUIT\r\n", 0},
        {"221 bye\r\n", 0},
    };
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(g_bFlagsAuthLogin.load(), 0);
}

TEST(SmtpClient, SendFramesTheMessage) {
    test::ScriptedSmtpServer server({kGreeting,
                                     kPlainEhlo,
                                     {"MAIL FROM:", "250 ok\r\n"},
                                     {"RCPT TO:", "250 ok\r\n"},
                                     {"RCPT TO:", "250 ok\r\n"},
                                     {"RCPT TO:", "250 ok\r\n"},
                                     {"DATA", "354 go ahead\r\n"},
                                     {".", "250 queued\r\n"}});
    CSmtp mail;
    mail.SetSMTPServer("127.0.0.1", server.port());
    FillMessage(mail);
    mail.AddCCRecipient("cc@example.test");
    mail.AddBCCRecipient("bcc@example.test", "Hidden");
    mail.AddMsgLine("first line");
    mail.AddMsgLine("");
    mail.AddMsgLine("  indented, 23.5℃");
    mail.Send();
    mail.DisconnectRemoteServer();

    const auto& lines = server.Lines();
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(lines[0], "EHLO " + mail.GetLocalHostName());
    EXPECT_EQ(lines[1], "MAIL FROM:<station@hygrolog.test>");
    EXPECT_EQ(lines[2], "RCPT TO:<ops@example.test>");
    EXPECT_EQ(lines[3], "RCPT TO:<cc@example.test>");
    EXPECT_EQ(lines[4], "RCPT TO:<bcc@example.test>");
    EXPECT_EQ(lines[5], "DATA");
    const std::vector<std::string> tail(lines.end() - 8, lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"X-MimeOLE: Produced By Brivel V16.4.3505.912", "", "first line", "",
                                              "  indented, 23.5℃", "", ".", "QUIT"}));
    EXPECT_TRUE(Contains(lines, "Cc: <cc@example.test>"));
    EXPECT_TRUE(Contains(lines, "Bcc: "));
}

TEST(SmtpClient, NoLinesSendsOneBlank) {
    test::ScriptedSmtpServer server({kGreeting, kPlainEhlo, {"MAIL FROM:", "250 ok\r\n"}, {"RCPT TO:", "250 ok\r\n"},
                                     {"DATA", "354 go ahead\r\n"}, {".", "250 queued\r\n"}});
    CSmtp mail;
    mail.SetSMTPServer("127.0.0.1", server.port());
    FillMessage(mail);
    mail.Send();
    mail.DisconnectRemoteServer();
    const auto& lines = server.Lines();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 5, lines.end()),
              (std::vector<std::string>{"", " ", "", ".", "QUIT"}));
}

TEST(SmtpClient, TransferErrorsEndWithQuit) {
    const struct {
        const char* name;
        std::vector<Step> script;
        int error;
    } cases[] = {
        {"MAIL FROM refused", {kGreeting, kPlainEhlo, {"MAIL FROM:", "553 no\r\n"}}, 300},
        {"RCPT TO refused", {kGreeting, kPlainEhlo, {"MAIL FROM:", "250 ok\r\n"}, {"RCPT TO:", "550 no such user\r\n"}},
         309},
        {"DATA refused",
         {kGreeting, kPlainEhlo, {"MAIL FROM:", "250 ok\r\n"}, {"RCPT TO:", "250 ok\r\n"}, {"DATA", "451 later\r\n"}},
         307},
        {"message refused",
         {kGreeting, kPlainEhlo, {"MAIL FROM:", "250 ok\r\n"}, {"RCPT TO:", "250 ok\r\n"}, {"DATA", "354 go\r\n"},
          {".", "554 spam\r\n"}},
         310},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ScriptedSmtpServer server(c.script);
        CSmtp mail;
        mail.SetSMTPServer("127.0.0.1", server.port());
        FillMessage(mail);
        EXPECT_EQ(ErrorOf([&] { mail.Send(); }), c.error);
        EXPECT_EQ(server.Lines().back(), "QUIT");
    }
}

TEST(SmtpClient, ServerClosingMidDialogueIs400) {
    test::ScriptedSmtpServer server({kGreeting, kPlainEhlo, {"MAIL FROM:", "", Then::Close}});
    CSmtp mail;
    mail.SetSMTPServer("127.0.0.1", server.port());
    FillMessage(mail);
    EXPECT_EQ(ErrorOf([&] { mail.Send(); }), 400);
}

TEST(SmtpClient, AttachmentsAreCheckedBeforeMailFrom) {
    test::TempDir dir;
    const auto big = dir / "big.bin";
    test::WriteFile(big, "");
    ASSERT_EQ(::truncate(big.c_str(), 26214400 + 1024), 0); // sparse: costs no disk
    const struct {
        std::string path;
        int error;
    } cases[] = {{(dir / "missing.bin").string(), 404}, {dir.path().string(), 404}, {big.string(), 405}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        test::ScriptedSmtpServer server({kGreeting, kPlainEhlo});
        CSmtp mail;
        mail.SetSMTPServer("127.0.0.1", server.port());
        FillMessage(mail);
        mail.AddAttachment(c.path.c_str());
        EXPECT_EQ(ErrorOf([&] { mail.Send(); }), c.error);
        EXPECT_EQ(server.Lines(), (std::vector<std::string>{"EHLO " + mail.GetLocalHostName(), "QUIT"}));
    }
}

TEST(SmtpClient, SenderAndRecipientAreRequired) {
    const struct {
        bool sender, recipient;
        int error;
    } cases[] = {{false, true, 201}, {true, false, 203}};
    for (const auto& c : cases) {
        test::ScriptedSmtpServer server({kGreeting, kPlainEhlo, {"MAIL FROM:", "250 ok\r\n"}});
        CSmtp mail;
        mail.SetSMTPServer("127.0.0.1", server.port());
        if (c.sender) mail.SetSenderMail("station@hygrolog.test");
        if (c.recipient) mail.AddRecipient("ops@example.test");
        EXPECT_EQ(ErrorOf([&] { mail.Send(); }), c.error);
        EXPECT_EQ(server.Lines().back(), "QUIT");
    }
}

TEST(SmtpClient, StartTlsFallsBackOrFails) {
    {
        // Not offered: the mail goes on without protection.
        test::ScriptedSmtpServer server({kGreeting, kPlainEhlo});
        CSmtp mail;
        EXPECT_EQ(ErrorOf([&] { Connect(mail, server, USE_TLS); }), 0);
        EXPECT_EQ(mail.GetSecurityType(), NO_SECURITY);
    }
    {
        test::ScriptedSmtpServer server(
            {kGreeting, {"EHLO", "250-peer.test\r\n250 STARTTLS\r\n"}, {"STARTTLS", "454 TLS not available\r\n"}});
        CSmtp mail;
        EXPECT_EQ(ErrorOf([&] { Connect(mail, server, USE_TLS); }), 413);
        EXPECT_EQ(server.Lines().back(), "QUIT");
    }
    {
        // The server agrees but then speaks no TLS.
        test::ShortTimeouts shortWaits;
        test::ScriptedSmtpServer server({kGreeting,
                                         {"EHLO", "250-peer.test\r\n250 STARTTLS\r\n"},
                                         {"STARTTLS", "220 go ahead\r\n"},
                                         {"", "HTTP/1.1 400 Bad Request\r\n\r\n", Then::Close}});
        CSmtp mail;
        EXPECT_EQ(ErrorOf([&] { Connect(mail, server, USE_TLS); }), 414);
    }
}

TEST(SmtpClient, UnreachableServer) {
    // A port that was just free: nothing listens there.
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    ::close(s);
    CSmtp mail;
    const int refused = ErrorOf([&] { mail.ConnectRemoteServer("127.0.0.1", ntohs(addr.sin_port)); });
    EXPECT_TRUE(refused == 104 || refused == 109) << refused;
    EXPECT_EQ(ErrorOf([&] { mail.ConnectRemoteServer("", 25); }), 105);
    EXPECT_EQ(ErrorOf([&] { mail.ConnectRemoteServer(nullptr, 25); }), 105);
}

TEST(SmtpClient, DisconnectSaysQuitOnce) {
    test::ScriptedSmtpServer server({kGreeting, kPlainEhlo});
    CSmtp mail;
    Connect(mail, server);
    mail.DisconnectRemoteServer();
    mail.DisconnectRemoteServer(); // not connected any more: nothing to say
    EXPECT_EQ(server.Lines(), (std::vector<std::string>{"EHLO " + mail.GetLocalHostName(), "QUIT"}));
}

} // namespace
} // namespace hygro
