// The SMTP client's fixed protocol pieces: the command table, keyword detection in EHLO
// replies and the message header, kept apart from the socket code so they can be tested
// on their own.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/smtp.h"

namespace hygro {

enum SMTP_COMMAND : int {
    command_INIT = 0,
    command_EHLO = 1,
    command_AUTHPLAIN = 2,
    command_AUTHLOGIN = 3,
    command_AUTHCRAMMD5 = 4,
    command_AUTHDIGESTMD5 = 5,
    command_DIGESTMD5 = 6,
    command_USER = 7,
    command_PASSWORD = 8,
    command_MAILFROM = 9,
    command_RCPTTO = 10,
    command_DATA = 11,
    command_DATABLOCK = 12,
    command_DATAEND = 13,
    command_QUIT = 14,
    command_STARTTLS = 15,
};

struct tagCommand_Entry {
    std::int32_t command;
    std::int32_t send_timeout; // seconds
    std::int32_t recv_timeout; // seconds; 0: no reply is awaited
    std::int32_t valid_reply_code;
    std::int32_t error;
};

// The entry of a command id; ids outside the table throw 407.
const tagCommand_Entry& FindCommandEntry(int command);

// Whether an EHLO reply offers keyword (see the .cpp for the exact rule).
bool IsKeywordSupported(std::string_view response, std::string_view keyword);

// The three-digit code of a reply's final line, or nullopt while the reply is incomplete.
std::optional<int> FinalReplyCode(std::string_view reply);

// Time-out of a table entry in milliseconds after the test scale.
int ScaledTimeoutMs(int seconds);

inline constexpr const char* BOUNDARY_TEXT = "__MESSAGE__ID__54yg6f6h6y456345";
inline constexpr std::uint64_t kMaxAttachmentBytes = 26214400; // 25 MiB

// Whether attachments of this total size may be sent (the total is counted in whole KiB).
bool AttachmentsFit(std::uint64_t totalBytes);

// "Date: Thu, 10 Dec 2026 09:05:07 +0100" (RFC 5322) for a broken-down local time and its
// offset from UTC in seconds; no line end.
std::string FormatDateLine(const std::tm& local, long utcOffsetSeconds);

struct SmtpHeaderFields {
    std::string localHostName;
    std::string senderMail;
    std::string senderName;
    std::string replyTo;
    std::string subject;
    std::string charSet;
    int priority = XPRIORITY_NORMAL;
    std::vector<CSmtp::Recipient> to, cc, bcc;
    bool hasAttachments = false;
    std::optional<std::array<std::uint8_t, 16>> guid; // no Message-ID line without one
    std::tm localTime{};
    long utcOffsetSeconds = 0;
};

// The header block, every line ending in CR LF, ending with the empty line. Throws 203
// without recipients, 201 without a sender address.
std::string FormatHeader(const SmtpHeaderFields& fields);

// A message line as it travels: a "." at the start of the line (or after a line break
// inside it) is doubled, so the server neither drops it nor takes a lone "." for the end.
std::string DotStuffed(std::string_view line);

// The part head of one attachment; the name shown is the part of path after the last "/".
std::string AttachmentPartHead(std::string_view path);

} // namespace hygro
