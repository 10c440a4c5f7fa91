#include "mail/smtp_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mail/smtp.h"
#include "mail/smtp_auth.h"
#include "smtp_test_support.h"

namespace hygro {
namespace {

using test::SplitLines;

TEST(IsKeywordSupported, Cases) {
    const struct {
        const char* reply;
        const char* keyword;
        bool offered;
    } cases[] = {
        {"250-AUTH LOGIN PLAIN\r\n", "AUTH", true},
        {"250-AUTH LOGIN PLAIN\r\n", "LOGIN", true},
        {"250-AUTH LOGIN PLAIN\r\n", "PLAIN", true},   // ends at CR LF
        {"250-AUTH=LOGIN\r\n", "LOGIN", true},         // after "="
        {"250-AUTH=LOGIN\r\n", "AUTH", true},          // before "="
        {"250-STARTTLS\r\n250 OK\r\n", "STARTTLS", true},
        {"250-peer\r\n250 STARTTLS\r\n", "starttls", true}, // any case
        {"250-auth login\r\n", "LOGIN", true},
        {"250-AUTH CRAM-MD5 DIGEST-MD5\r\n", "CRAM-MD5", true},
        {"250-AUTH XLOGIN\r\n", "LOGIN", false},       // part of a longer word
        {"250-AUTH LOGINX\r\n", "LOGIN", false},
        {"250-AUTH LOGIN", "LOGIN", false},            // no line end after it
        {"250-AUTH LOGIN\n", "LOGIN", false},          // LF alone is no line end
        {"250-AUTH LOGIN\r", "LOGIN", false},          // CR without LF
        {"LOGIN \r\n", "LOGIN", false},                // never at the very start
        {"250-SIZE 100\r\n", "AUTH", false},
        {"", "AUTH", false},
        {"250 AUTH\r\n", "", false},
        {"250-XAUTH LOGIN\r\n250 AUTH PLAIN\r\n", "AUTH", true}, // a later match counts
    };
    for (const auto& c : cases) EXPECT_EQ(IsKeywordSupported(c.reply, c.keyword), c.offered) << c.reply << " / " << c.keyword;
}

TEST(FinalReplyCode, FindsTheFirstFinalLine) {
    const struct {
        const char* reply;
        std::optional<int> code;
    } cases[] = {
        {"220 ready\r\n", 220},
        {"250-peer\r\n250-AUTH LOGIN\r\n250 OK\r\n", 250},
        {"250-peer\r\n250\r\n", 250}, // three digits alone
        {"250-peer\r\n", std::nullopt},
        {"250-peer\r\n250 OK", std::nullopt}, // final line not complete yet
        {"250 OK\n", std::nullopt},
        {"25 OK\r\n", std::nullopt},
        {"2x0 OK\r\n", std::nullopt},
        {"250OK\r\n", std::nullopt},
        {"\r\n550 no\r\n", 550},
        {"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(FinalReplyCode(c.reply), c.code) << c.reply;
}

TEST(ECSmtpText, SpotChecks) {
    const struct {
        int id;
        const char* text;
    } cases[] = {
        {0, ""},
        {100, "Unable to initialise winsock2"},
        {101, "Wrong version of the winsock2"},
        {203, "Undefined at least one reciepent"},
        {209, "Undefined recipent mail"},
        {309, "Server returned error after sending RCPT TO"},
        {400, "Server has closed the connection"},
        {402, "Server not responding"},
        {406, "Bad login or password"},
        {412, "Specified line number is out of message size"},
        {417, "AUTH LOGIN is not supported by the server"},
        {109, "Undefined error id"}, // raised, but without a text of its own
        {403, "Undefined error id"},
        {-1, "Undefined error id"},
        {418, "Undefined error id"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ECSmtp::GetErrorText(c.id), c.text) << c.id;
        EXPECT_EQ(ECSmtp(c.id).GetErrorText(), c.text) << c.id;
    }
}

std::tm Tm(int year, int mon, int mday, int hour, int min, int sec, int wday) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = mon - 1;
    t.tm_mday = mday;
    t.tm_hour = hour;
    t.tm_min = min;
    t.tm_sec = sec;
    t.tm_wday = wday;
    return t;
}

TEST(FormatDateLine, Rfc5322) {
    EXPECT_EQ(FormatDateLine(Tm(2026, 12, 10, 9, 5, 7, 4), 3600), "Date: Thu, 10 Dec 2026 09:05:07 +0100");
    EXPECT_EQ(FormatDateLine(Tm(2027, 1, 3, 0, 0, 0, 0), 0), "Date: Sun, 3 Jan 2027 00:00:00 +0000");
    EXPECT_EQ(FormatDateLine(Tm(2026, 7, 4, 23, 59, 60, 6), -(3 * 3600 + 30 * 60)),
              "Date: Sat, 4 Jul 2026 23:59:60 -0330");
    EXPECT_EQ(FormatDateLine(Tm(2026, 3, 9, 12, 0, 0, 1), 5 * 3600 + 45 * 60), "Date: Mon, 9 Mar 2026 12:00:00 +0545");
    // Out-of-range fields never index past the name tables.
    EXPECT_NO_THROW(FormatDateLine(Tm(2026, 13, 1, 0, 0, 0, 9), 0));
}

SmtpHeaderFields BaseFields() {
    SmtpHeaderFields f;
    f.localHostName = "station";
    f.senderMail = "station@hygrolog.test";
    f.senderName = "Hygrolog";
    f.subject = "Alarm";
    f.charSet = "US-ASCII";
    f.to = {{"Ops", "ops@example.test"}};
    f.localTime = Tm(2026, 12, 10, 9, 5, 7, 4);
    f.utcOffsetSeconds = 3600;
    return f;
}

TEST(FormatHeader, PlainTextMessage) {
    SmtpHeaderFields f = BaseFields();
    f.guid = std::array<std::uint8_t, 16>{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                          0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0xFF};
    EXPECT_EQ(FormatHeader(f), "Message-ID: <0123456789ABCDEF00112233445566FF@station>\r\n"
                               "Date: Thu, 10 Dec 2026 09:05:07 +0100\r\n"
                               "From: Hygrolog <station@hygrolog.test>\r\n"
                               "X-Priority: 3\r\n"
                               "To: Ops<ops@example.test>\r\n"
                               "Subject: Alarm\r\n"
                               "MIME-Version: 1.0\r\n"
                               "Content-type: text/plain;\r\n"
                               "\tformat=flowed;\r\n"
                               "\tcharset=\"UTF-8\";\r\n"
                               "\treply-type=original\r\n"
                               "Content-Transfer-Encoding: 8bit\r\n"
                               "X-MSMail-Priority: Normal\r\n"
                               "Importance: Normal\r\n"
                               "X-Mailer: Brivel Mail 16.4.3505.912\r\n"
                               "X-MimeOLE: Produced By Brivel V16.4.3505.912\r\n"
                               "\r\n");
}

TEST(FormatHeader, FieldVariants) {
    SmtpHeaderFields f = BaseFields();
    f.senderName.clear();
    f.subject.clear();
    f.replyTo = "desk@example.test";
    f.to = {{"Ops", "ops@example.test"}, {"", "night@example.test"}, {"Lab Lead", "lab@example.test"}};
    f.cc = {{"", "cc1@example.test"}, {"C Two", "cc2@example.test"}};
    f.bcc = {{"Hidden", "bcc@example.test"}};
    const std::vector<std::string> lines = SplitLines(FormatHeader(f));
    const std::vector<std::string> head(lines.begin(), lines.begin() + 8);
    EXPECT_EQ(head, (std::vector<std::string>{
                        "Date: Thu, 10 Dec 2026 09:05:07 +0100", // no GUID: the header starts with the date
                        "From:  <station@hygrolog.test>",
                        "Reply-To: <desk@example.test>",
                        "X-Priority: 3",
                        "To: Ops<ops@example.test>,<night@example.test>,Lab Lead<lab@example.test>",
                        "Cc: <cc1@example.test>,C Two<cc2@example.test>",
                        "Bcc: ",
                        "Subject:  ",
                    }));
}

TEST(FormatHeader, PriorityMapping) {
    const struct {
        int priority;
        const char* line;
    } cases[] = {{2, "X-Priority: 2"}, {3, "X-Priority: 3"}, {4, "X-Priority: 4"},
                 {1, "X-Priority: 3"}, {5, "X-Priority: 3"}, {-7, "X-Priority: 3"}};
    for (const auto& c : cases) {
        SmtpHeaderFields f = BaseFields();
        f.priority = c.priority;
        EXPECT_NE(FormatHeader(f).find(std::string("\r\n") + c.line + "\r\n"), std::string::npos) << c.priority;
    }
}

TEST(FormatHeader, WithAttachmentsOpensTheMultipartBody) {
    SmtpHeaderFields f = BaseFields();
    f.hasAttachments = true;
    const std::string h = FormatHeader(f);
    const std::string tail = "MIME-Version: 1.0\r\n"
                             "Content-Type: multipart/mixed; boundary=\"__MESSAGE__ID__54yg6f6h6y456345\"\r\n"
                             "\r\n"
                             "--__MESSAGE__ID__54yg6f6h6y456345\r\n"
                             "Content-type: text/plain; charset=US-ASCII\r\n"
                             "Content-Transfer-Encoding: 7bit\r\n"
                             "\r\n";
    ASSERT_GE(h.size(), tail.size());
    EXPECT_EQ(h.substr(h.size() - tail.size()), tail);
}

TEST(FormatHeader, MissingRecipientOrSender) {
    SmtpHeaderFields noTo = BaseFields();
    noTo.to.clear();
    noTo.cc = {{"", "cc@example.test"}};
    SmtpHeaderFields noFrom = BaseFields();
    noFrom.senderMail.clear();
    for (const auto& [fields, id] : {std::pair{noTo, 203}, std::pair{noFrom, 201}}) {
        try {
            FormatHeader(fields);
            ADD_FAILURE() << "no error, expected " << id;
        } catch (const ECSmtp& e) {
            EXPECT_EQ(e.GetErrorNum(), id);
        }
    }
}

TEST(FormatHeader, LongHostNameIsCutInTheMessageId) {
    SmtpHeaderFields f = BaseFields();
    f.localHostName = std::string(300, 'h');
    f.guid = std::array<std::uint8_t, 16>{};
    const std::string first = SplitLines(FormatHeader(f)).front();
    EXPECT_EQ(first, "Message-ID: <" + std::string(32, '0') + "@" + std::string(128, 'h') + ">");
}

TEST(DotStuffed, LeadingDotsAreDoubled) {
    const std::pair<const char*, const char*> cases[] = {
        {"plain", "plain"},
        {".lab", "..lab"},
        {".", ".."},
        {"", ""},
        {"a.b", "a.b"},
        {"one\r\n.two\r\n", "one\r\n..two\r\n"},
        {"..", "..."},
    };
    for (const auto& [line, sent] : cases) EXPECT_EQ(DotStuffed(line), sent) << line;
}

TEST(Attachments, SizeLimitCountsWholeKiB) {
    EXPECT_TRUE(AttachmentsFit(0));
    EXPECT_TRUE(AttachmentsFit(26214400));
    EXPECT_TRUE(AttachmentsFit(26214400 + 1023));
    EXPECT_FALSE(AttachmentsFit(26214400 + 1024));
    EXPECT_FALSE(AttachmentsFit(~std::uint64_t{0}));
}

TEST(Attachments, PartHeadNamesTheFileEncoded) {
    const std::string name = "=?UTF-8?B?" + base64_encode("Bericht 23℃.csv") + "?=";
    EXPECT_EQ(AttachmentPartHead("/var/data/Bericht 23℃.csv"),
              "--__MESSAGE__ID__54yg6f6h6y456345\r\n"
              "Content-Type: application/x-msdownload; name=\"" + name + "\"\r\n"
              "Content-Transfer-Encoding: base64\r\n"
              "Content-Disposition: attachment; filename=\"" + name + "\"\r\n"
              "\r\n");
    EXPECT_NE(AttachmentPartHead("plain.txt").find("name=\"=?UTF-8?B?" + base64_encode("plain.txt") + "?=\""),
              std::string::npos);
}

TEST(CSmtpMessage, LinesAndRecipients) {
    CSmtp mail;
    EXPECT_FALSE(mail.GetLocalHostName().empty());
    EXPECT_EQ(mail.GetXPriority(), XPRIORITY_NORMAL);
    EXPECT_EQ(mail.GetSecurityType(), NO_SECURITY);

    mail.AddMsgLine("one");
    mail.AddMsgLine("two");
    mail.AddMsgLine("three");
    mail.ModMsgLine(1, "TWO");
    mail.ModMsgLine(1, nullptr); // changes nothing
    mail.DelMsgLine(0);
    EXPECT_EQ(mail.GetMsgLines(), 2u);
    EXPECT_EQ(mail.GetMsgLineText(0), "TWO");
    EXPECT_EQ(mail.GetMsgLineText(1), "three");

    const auto expect412 = [](auto&& call) {
        try {
            call();
            ADD_FAILURE() << "no error";
        } catch (const ECSmtp& e) {
            EXPECT_EQ(e.GetErrorNum(), 412);
        }
    };
    expect412([&] { mail.GetMsgLineText(2); });
    expect412([&] { mail.ModMsgLine(2, "x"); });
    expect412([&] { mail.DelMsgLine(7); });
    mail.DelMsgLines();
    expect412([&] { mail.DelMsgLine(0); });

    mail.AddRecipient("a@example.test");
    mail.AddRecipient("b@example.test", "B");
    mail.AddCCRecipient("c@example.test");
    mail.AddBCCRecipient("d@example.test", nullptr);
    EXPECT_EQ(mail.GetRecipientCount(), 2u);
    EXPECT_EQ(mail.GetCCRecipientCount(), 1u);
    EXPECT_EQ(mail.GetBCCRecipientCount(), 1u);
    for (auto add : {&CSmtp::AddRecipient, &CSmtp::AddCCRecipient, &CSmtp::AddBCCRecipient}) {
        try {
            (mail.*add)(nullptr, "Name");
            ADD_FAILURE() << "no error";
        } catch (const ECSmtp& e) {
            EXPECT_EQ(e.GetErrorNum(), 209);
        }
    }
    mail.AddMsgLine("x");
    mail.AddAttachment("/tmp/x");
    mail.ClearMessage();
    EXPECT_EQ(mail.GetRecipientCount() + mail.GetCCRecipientCount() + mail.GetBCCRecipientCount(), 0u);
    EXPECT_EQ(mail.GetMsgLines(), 0u);
}

} // namespace
} // namespace hygro
