#include "mail/smtp_protocol.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>

#include "mail/smtp_auth.h"

namespace hygro {
namespace {

// clang-format off
constexpr tagCommand_Entry command_list[] = {
    {command_INIT,          0,   300, 220, 402},
    {command_EHLO,          300, 300, 250, 301},
    {command_AUTHPLAIN,     300, 300, 235, 302},
    {command_AUTHLOGIN,     300, 300, 334, 303},
    {command_AUTHCRAMMD5,   300, 300, 334, 304},
    {command_AUTHDIGESTMD5, 300, 300, 334, 305},
    {command_DIGESTMD5,     300, 300, 334, 306},
    {command_USER,          300, 300, 334, 407},
    {command_PASSWORD,      300, 300, 235, 406},
    {command_MAILFROM,      300, 300, 250, 300},
    {command_RCPTTO,        300, 300, 250, 309},
    {command_DATA,          300, 120, 354, 307},
    {command_DATABLOCK,     180, 0,   0,   415},
    {command_DATAEND,       180, 600, 250, 310},
    {command_QUIT,          300, 300, 221, 308},
    {command_STARTTLS,      300, 300, 220, 413},
};
// clang-format on

std::atomic<double> g_timeoutScale{1.0};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return Lower(x) == Lower(y);
           });
}

// "name<address>", or "<address>" without a name, joined by ",".
std::string AddressList(const std::vector<CSmtp::Recipient>& list) {
    std::string out;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (i > 0) out += ',';
        out += list[i].Name;
        out += '<';
        out += list[i].Mail;
        out += '>';
    }
    return out;
}

} // namespace

void SetSmtpTimeoutScaleForTesting(double scale) {
    if (std::isfinite(scale) && scale > 0) g_timeoutScale = scale;
}

int ScaledTimeoutMs(int seconds) {
    const double ms = seconds * 1000.0 * g_timeoutScale.load();
    if (ms >= std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    return std::max(1, static_cast<int>(ms));
}

const tagCommand_Entry& FindCommandEntry(int command) {
    for (const auto& entry : command_list)
        if (entry.command == command) return entry;
    throw ECSmtp(407);
}

// A keyword counts where the text before it is "-", " " or "=" (never at the very start)
// and after it " ", "=" or CR LF: "250-AUTH LOGIN PLAIN" and "250-AUTH=LOGIN" both offer LOGIN.
bool IsKeywordSupported(std::string_view response, std::string_view keyword) {
    if (keyword.empty() || response.size() < keyword.size()) return false;
    for (std::size_t pos = 1; pos + keyword.size() <= response.size(); ++pos) {
        if (!EqualNoCase(response.substr(pos, keyword.size()), keyword)) continue;
        const char before = response[pos - 1];
        if (before != '-' && before != ' ' && before != '=') continue;
        const std::size_t after = pos + keyword.size();
        if (after >= response.size()) continue;
        const char c = response[after];
        if (c == ' ' || c == '=') return true;
        if (c == '\r' && after + 1 < response.size() && response[after + 1] == '\n') return true;
    }
    return false;
}

// The final line is the first complete line "ddd text" or "ddd"; "ddd-" lines go before it.
std::optional<int> FinalReplyCode(std::string_view reply) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = reply.find("\r\n", start);
        if (end == std::string_view::npos) return std::nullopt;
        const std::string_view line = reply.substr(start, end - start); // without CR LF
        if (line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) &&
            (line.size() == 3 || (line.size() >= 4 && line[3] == ' ')))
            return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
        start = end + 2;
    }
}

bool AttachmentsFit(std::uint64_t totalBytes) { return totalBytes / 1024 * 1024 <= kMaxAttachmentBytes; }

std::string FormatDateLine(const std::tm& local, long utcOffsetSeconds) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int wday = std::clamp(local.tm_wday, 0, 6);
    const int mon = std::clamp(local.tm_mon, 0, 11);
    const char sign = utcOffsetSeconds < 0 ? '-' : '+';
    const long offsetMinutes = std::labs(utcOffsetSeconds) / 60;
    char buf[96];
    std::snprintf(buf, sizeof buf, "Date: %s, %d %s %d %02d:%02d:%02d %c%02ld%02ld", kDays[wday], local.tm_mday,
                  kMonths[mon], local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec, sign,
                  offsetMinutes / 60 % 100, offsetMinutes % 60);
    return buf;
}

std::string FormatHeader(const SmtpHeaderFields& f) {
    if (f.to.empty()) throw ECSmtp(203);
    std::string h;
    if (f.guid) {
        char id[40];
        for (std::size_t i = 0; i < f.guid->size(); ++i) std::snprintf(id + 2 * i, 3, "%02X", (*f.guid)[i]);
        h += "Message-ID: <";
        h += id;
        h += '@';
        h += f.localHostName.substr(0, 128);
        h += ">\r\n";
    }
    h += FormatDateLine(f.localTime, f.utcOffsetSeconds) + "\r\n";

    if (f.senderMail.empty()) throw ECSmtp(201);
    h += "From: " + f.senderName + " <" + f.senderMail + ">\r\n";
    if (!f.replyTo.empty()) h += "Reply-To: <" + f.replyTo + ">\r\n";

    const int priority = f.priority == XPRIORITY_HIGH || f.priority == XPRIORITY_LOW ? f.priority : XPRIORITY_NORMAL;
    h += "X-Priority: " + std::to_string(priority) + "\r\n";

    h += "To: " + AddressList(f.to) + "\r\n";
    if (!f.cc.empty()) h += "Cc: " + AddressList(f.cc) + "\r\n";
    if (!f.bcc.empty()) h += "Bcc: \r\n";

    h += "Subject: " + (f.subject.empty() ? std::string(" ") : f.subject) + "\r\n";
    h += "MIME-Version: 1.0\r\n";

    if (!f.hasAttachments) {
        // The body is sent as the UTF-8 text it is.
        h += "Content-type: text/plain;\r\n"
             "\tformat=flowed;\r\n"
             "\tcharset=\"UTF-8\";\r\n"
             "\treply-type=original\r\n"
             "Content-Transfer-Encoding: 8bit\r\n"
             "X-MSMail-Priority: Normal\r\n"
             "Importance: Normal\r\n"
             "X-Mailer: Brivel Mail 16.4.3505.912\r\n"
             "X-MimeOLE: Produced By Brivel V16.4.3505.912\r\n"
             "\r\n";
    } else {
        h += "Content-Type: multipart/mixed; boundary=\"";
        h += BOUNDARY_TEXT;
        h += "\"\r\n\r\n--";
        h += BOUNDARY_TEXT;
        h += "\r\nContent-type: text/plain; charset=" + f.charSet +
             "\r\n"
             "Content-Transfer-Encoding: 7bit\r\n"
             "\r\n";
    }
    return h;
}

std::string AttachmentPartHead(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    const std::string_view fileName = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::string name = "=?UTF-8?B?" + base64_encode(fileName) + "?=";
    std::string head = "--";
    head += BOUNDARY_TEXT;
    head += "\r\n";
    head += "Content-Type: application/x-msdownload; name=\"" + name + "\"\r\n";
    head += "Content-Transfer-Encoding: base64\r\n";
    head += "Content-Disposition: attachment; filename=\"" + name + "\"\r\n";
    head += "\r\n";
    return head;
}

std::string DotStuffed(std::string_view line) {
    std::string out;
    out.reserve(line.size() + 1);
    bool lineStart = true;
    for (char c : line) {
        if (lineStart && c == '.') out += '.';
        out += c;
        lineStart = c == '\n';
    }
    return out;
}

} // namespace hygro
