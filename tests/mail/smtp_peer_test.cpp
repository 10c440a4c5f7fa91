// The client against a real SMTP server: the Node package smtp-server on 127.0.0.1
// (tests/mail/peer). Skipped when Node.js or the package is not installed.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "mail/smtp.h"
#include "mail/smtp_auth.h"
#include "smtp_test_support.h"
#include "support/temp_dir.h"

namespace hygro {
namespace {

using test::SmtpPeer;
using test::SplitLines;
using test::StartsWith;
using namespace std::chrono_literals;

constexpr const char* kBoundary = "__MESSAGE__ID__54yg6f6h6y456345";

std::vector<std::string> AuthLines(SmtpPeer& peer) {
    std::vector<std::string> out;
    for (const std::string& line : peer.Lines())
        if (StartsWith(line, "AUTH\t")) out.push_back(line);
    return out;
}

bool HasMessage(SmtpPeer& peer) {
    for (const std::string& line : peer.Lines())
        if (StartsWith(line, "MESSAGE\t")) return true;
    return false;
}

using test::ErrorOf;

void Prepare(CSmtp& mail, const SmtpPeer& peer, SMTP_SECURITY_TYPE type, const char* password = "secret") {
    mail.SetSMTPServer("127.0.0.1", peer.port());
    mail.SetSecurityType(type);
    mail.SetLogin("alice");
    mail.SetPassword(password);
    mail.SetSenderMail("station@hygrolog.test");
    mail.SetSenderName("Hygrolog");
    mail.SetSubject("Alarm");
    mail.AddRecipient("ops@example.test", "Ops");
    mail.AddMsgLine("test mail");
}

// The session ended: the client said QUIT and the server answered it.
void ExpectQuitAnswered(const test::TrafficLog& traffic) {
    const auto entries = traffic.Entries();
    const auto quit = std::find_if(entries.begin(), entries.end(), [](const auto& e) { return e.text == "QUIT\r\n"; });
    ASSERT_NE(quit, entries.end()) << "no QUIT sent";
    ASSERT_NE(quit + 1, entries.end()) << "no reply to QUIT";
    EXPECT_TRUE(StartsWith((quit + 1)->text, "221")) << (quit + 1)->text;
}

TEST(SmtpPeer, SecurityTypes) {
    const struct {
        const char* name;
        std::vector<std::string> args;
        SMTP_SECURITY_TYPE type;
        bool secure;
        SMTP_SECURITY_TYPE typeAfter;
    } cases[] = {
        {"STARTTLS offered", {"--starttls"}, USE_TLS, true, USE_TLS},
        {"STARTTLS not offered: on unprotected", {"--no-starttls"}, USE_TLS, false, NO_SECURITY},
        {"SSL from the first byte", {"--secure"}, USE_SSL, true, USE_SSL},
        {"no protection asked", {"--starttls"}, NO_SECURITY, false, NO_SECURITY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpPeer peer;
        START_PEER(peer, c.args);
        CSmtp mail;
        Prepare(mail, peer, c.type);
        EXPECT_EQ(ErrorOf([&] { mail.Send(); }), 0);
        EXPECT_EQ(mail.GetSecurityType(), c.typeAfter);
        const auto received = WaitMessage(peer);
        ASSERT_TRUE(received);
        EXPECT_EQ(received->secure, c.secure);
        EXPECT_EQ(received->user, "alice");
    }
}

TEST(SmtpPeer, LoginMethods) {
    const struct {
        const char* methods;
        const char* password;
        const char* authLine;
    } cases[] = {
        {"LOGIN,PLAIN", "secret", "AUTH\tLOGIN\talice\tsecret\tOK"},
        {"PLAIN,CRAM-MD5", "pa^ss^word", "AUTH\tPLAIN\talice\tpa^ss^word\tOK"},
        {"CRAM-MD5", "secret", "AUTH\tCRAM-MD5\talice\t\tOK"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.methods);
        SmtpPeer peer;
        START_PEER(peer, {"--auth", c.methods, "--pass", c.password});
        CSmtp mail;
        Prepare(mail, peer, USE_TLS, c.password);
        EXPECT_EQ(ErrorOf([&] { mail.Send(); }), 0);
        const auto received = WaitMessage(peer);
        ASSERT_TRUE(received);
        EXPECT_TRUE(received->secure);
        EXPECT_EQ(AuthLines(peer), std::vector<std::string>{c.authLine});
    }
}

TEST(SmtpPeer, RejectedLoginEndsTheSession) {
    const struct {
        const char* method;
        int error;
    } cases[] = {{"LOGIN", 406}, {"PLAIN", 302}, {"CRAM-MD5", 406}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        SmtpPeer peer;
        START_PEER(peer, {"--auth", c.method});
        test::TrafficLog traffic;
        CSmtp mail;
        Prepare(mail, peer, USE_TLS, "wrong");
        EXPECT_EQ(ErrorOf([&] { mail.Send(); }), c.error);
        ExpectQuitAnswered(traffic);
        EXPECT_TRUE(peer.WaitFor({"CLOSE"}));
        ASSERT_EQ(AuthLines(peer).size(), 1u);
        EXPECT_TRUE(AuthLines(peer)[0].ends_with("\tFAIL"));
        EXPECT_FALSE(HasMessage(peer));
    }
}

TEST(SmtpPeer, RefusedRecipientIs309AndQuit) {
    SmtpPeer peer;
    START_PEER(peer, {"--reject-rcpt", "ops@example.test"});
    test::TrafficLog traffic;
    CSmtp mail;
    Prepare(mail, peer, USE_TLS);
    EXPECT_EQ(ErrorOf([&] { mail.Send(); }), 309);
    ExpectQuitAnswered(traffic);
    EXPECT_TRUE(peer.WaitFor({"CLOSE"}));
    EXPECT_FALSE(HasMessage(peer));
}

TEST(SmtpPeer, ServerClosingMidDialogueIs400) {
    const struct {
        const char* name;
        const char* starttls;
        SMTP_SECURITY_TYPE type;
    } cases[] = {{"under TLS", "--starttls", USE_TLS}, {"plain", "--no-starttls", NO_SECURITY}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpPeer peer;
        START_PEER(peer, {c.starttls, "--close-at", "mail"});
        CSmtp mail;
        Prepare(mail, peer, c.type);
        EXPECT_EQ(ErrorOf([&] { mail.Send(); }), 400);
    }
}

TEST(SmtpPeer, SilentServerIs402WithinTheShortenedTimeout) {
    SmtpPeer peer;
    START_PEER(peer, {"--silent"});
    test::ShortTimeouts shortWaits; // the 300 s greeting wait becomes 1 s
    CSmtp mail;
    Prepare(mail, peer, USE_TLS);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ErrorOf([&] { mail.Send(); }), 402);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 5s);
}

TEST(SmtpPeer, MessageArrivesAsWritten) {
    SmtpPeer peer;
    START_PEER(peer, {});
    const std::vector<std::string> lines = {
        "2026-12-10 09:05:07，Cold room，Temperature：-18.5℃，Humidity：45.2%",
        "",
        "Office，Temperature：27.0℃，limit 26.0℃",
        ".lab sensor", // a leading dot survives the transfer
        ".",           // and a lone dot does not end the message early
        "last line",
    };
    CSmtp mail;
    mail.SetSMTPServer("127.0.0.1", peer.port());
    mail.SetSecurityType(USE_TLS);
    mail.SetLogin("alice");
    mail.SetPassword("secret");
    mail.SetSenderMail("station@hygrolog.test");
    mail.SetSenderName("Hygrolog");
    mail.SetSubject("Alarm");
    mail.SetXPriority(XPRIORITY_HIGH);
    mail.AddRecipient("ops@example.test", "Ops");
    mail.AddRecipient("night@example.test");
    mail.AddCCRecipient("cc@example.test");
    mail.AddBCCRecipient("bcc@example.test", "Hidden");
    for (const std::string& line : lines) mail.AddMsgLine(line.c_str());
    ASSERT_EQ(ErrorOf([&] { mail.Send(); }), 0);

    const auto received = WaitMessage(peer);
    ASSERT_TRUE(received);
    EXPECT_EQ(received->from, "station@hygrolog.test");
    EXPECT_EQ(received->to, (std::vector<std::string>{"ops@example.test", "night@example.test", "cc@example.test",
                                                      "bcc@example.test"}));

    const std::vector<std::string> all = SplitLines(received->data);
    const auto blank = std::find(all.begin(), all.end(), "");
    ASSERT_NE(blank, all.end());
    const std::vector<std::string> header(all.begin(), blank);
    const std::vector<std::string> body(blank + 1, all.end());

    ASSERT_GE(header.size(), 2u);
    EXPECT_TRUE(std::regex_match(header[0], std::regex("Message-ID: <[0-9A-F]{32}@.+>"))) << header[0];
    EXPECT_TRUE(std::regex_match(header[1], std::regex("Date: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-9]{1,2} "
                                                       "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                                                       "[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} [+-][0-9]{4}")))
        << header[1];
    const std::vector<std::string> rest(header.begin() + 2, header.end());
    EXPECT_EQ(rest, (std::vector<std::string>{
                        "From: Hygrolog <station@hygrolog.test>",
                        "X-Priority: 2",
                        "To: Ops<ops@example.test>,<night@example.test>",
                        "Cc: <cc@example.test>",
                        "Bcc: ",
                        "Subject: Alarm",
                        "MIME-Version: 1.0",
                        "Content-type: text/plain;",
                        "\tformat=flowed;",
                        "\tcharset=\"UTF-8\";",
                        "\treply-type=original",
                        "Content-Transfer-Encoding: 8bit",
                        "X-MSMail-Priority: Normal",
                        "Importance: Normal",
                        "X-Mailer: Brivel Mail 16.4.3505.912",
                        "X-MimeOLE: Produced By Brivel V16.4.3505.912",
                    }));
    // One line per AddMsgLine, byte for byte; then only the blank line before the final dot.
    ASSERT_GE(body.size(), lines.size());
    const auto afterLines = body.begin() + static_cast<std::ptrdiff_t>(lines.size());
    EXPECT_EQ(std::vector<std::string>(body.begin(), afterLines), lines);
    for (auto it = afterLines; it != body.end(); ++it) EXPECT_EQ(*it, "");
}

TEST(SmtpPeer, TwoClientsAtOnce) {
    SmtpPeer peer;
    START_PEER(peer, {});
    test::TrafficLog traffic; // the hook is shared by both
    int errors[2] = {-1, -1};
    {
        std::jthread first([&] {
            CSmtp mail;
            Prepare(mail, peer, USE_TLS);
            errors[0] = ErrorOf([&] { mail.Send(); });
        });
        std::jthread second([&] {
            CSmtp mail;
            Prepare(mail, peer, USE_TLS);
            mail.SetSubject("Second");
            errors[1] = ErrorOf([&] { mail.Send(); });
        });
    }
    EXPECT_EQ(errors[0], 0);
    EXPECT_EQ(errors[1], 0);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    int messages = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        messages = 0;
        for (const std::string& line : peer.Lines()) messages += StartsWith(line, "MESSAGE\t1\talice");
        if (messages == 2) break;
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(messages, 2);
}

// The decoded content of each attachment part, keyed by its decoded file name.
std::map<std::string, std::string> Attachments(const std::string& data) {
    std::map<std::string, std::string> out;
    const std::string delimiter = std::string("--") + kBoundary;
    const std::vector<std::string> lines = SplitLines(data);
    std::optional<std::string> name;
    bool inContent = false;
    std::string content;
    const auto flush = [&] {
        if (name) out[*name] = content;
        name.reset();
        inContent = false;
        content.clear();
    };
    for (const std::string& line : lines) {
        if (StartsWith(line, delimiter)) {
            flush();
            continue;
        }
        const std::string marker = "Content-Disposition: attachment; filename=\"=?UTF-8?B?";
        if (StartsWith(line, marker) && line.ends_with("?=\"")) {
            name = base64_decode(line.substr(marker.size(), line.size() - marker.size() - 3));
        } else if (name && !inContent && line.empty()) {
            inContent = true;
        } else if (name && inContent) {
            content += base64_decode(line);
        }
    }
    flush();
    return out;
}

TEST(SmtpPeer, AttachmentsArriveIntact) {
    SmtpPeer peer;
    START_PEER(peer, {});
    test::TempDir dir;
    std::mt19937 random(7);
    std::string report;
    for (int i = 0; i < 162; ++i) report += static_cast<char>('a' + i % 26); // 3 × 54: ends on a piece
    std::string binary;
    for (int i = 0; i < 12345; ++i) binary += static_cast<char>(random() & 0xFF); // several 5 KiB blocks
    const auto reportPath = dir / "Bericht 23℃.csv";
    const auto binaryPath = dir / "data.bin";
    test::WriteFile(reportPath, report);
    test::WriteFile(binaryPath, binary);

    CSmtp mail;
    Prepare(mail, peer, USE_TLS);
    mail.AddAttachment(reportPath.c_str());
    mail.AddAttachment(binaryPath.c_str());
    ASSERT_EQ(ErrorOf([&] { mail.Send(); }), 0);
    const auto received = WaitMessage(peer);
    ASSERT_TRUE(received);

    const std::string& data = received->data;
    EXPECT_NE(data.find(std::string("\r\nContent-Type: multipart/mixed; boundary=\"") + kBoundary + "\"\r\n"),
              std::string::npos);
    EXPECT_NE(data.find(std::string("--") + kBoundary +
                        "\r\nContent-type: text/plain; charset=US-ASCII\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
                        "test mail\r\n"),
              std::string::npos);
    EXPECT_NE(data.find(std::string("\r\n--") + kBoundary + "--\r\n"), std::string::npos);
    const auto parts = Attachments(data);
    EXPECT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts.count("Bericht 23℃.csv") ? parts.at("Bericht 23℃.csv") : "<missing>", report);
    EXPECT_EQ(parts.count("data.bin") ? parts.at("data.bin") : "<missing>", binary);
    // Base64 lines of 54 bytes each, and the piece count leaves an empty line after 3 × 54 bytes.
    EXPECT_NE(data.find("\r\n" + base64_encode(report.substr(108)) + "\r\n\r\n"), std::string::npos);
}

} // namespace
} // namespace hygro
