// SPDX-License-Identifier: GPL-3.0-or-later
// Error codes of the SMTP client and the texts shown for them. The codes are part of
// what users report back, so they stay exactly as listed.
#pragma once

#include <string_view>
#include <utility>
#include <vector>

namespace tarvix {

namespace smtp_error {
inline constexpr int kNone = 0;
inline constexpr int kSocketLibraryInit = 100;
inline constexpr int kSocketLibraryVersion = 101;
inline constexpr int kSendFailed = 102;
inline constexpr int kReceiveFailed = 103;
inline constexpr int kConnectFailed = 104;
inline constexpr int kHostLookupFailed = 105;
inline constexpr int kInvalidSocket = 106;
inline constexpr int kHostNameFailed = 107;
inline constexpr int kBadIpv4Address = 108;
inline constexpr int kUndefinedHeader = 200;
inline constexpr int kUndefinedFrom = 201;
inline constexpr int kUndefinedSubject = 202;
inline constexpr int kUndefinedRecipients = 203;
inline constexpr int kUndefinedLogin = 204;
inline constexpr int kUndefinedPassword = 205;
inline constexpr int kUndefinedRecipientMail = 206;
inline constexpr int kMailFromFailed = 300;
inline constexpr int kEhloFailed = 301;
inline constexpr int kAuthLoginFailed = 302;
inline constexpr int kDataFailed = 303;
inline constexpr int kQuitFailed = 304;
inline constexpr int kRcptToFailed = 305;
inline constexpr int kMessageBodyFailed = 306;
inline constexpr int kConnectionClosed = 400;
inline constexpr int kServerNotReady = 401;
inline constexpr int kFileNotExist = 402;
inline constexpr int kMessageTooBig = 403;
inline constexpr int kBadLoginOrPassword = 404;
inline constexpr int kUndefinedResponse = 405;
inline constexpr int kLackOfMemory = 406;
inline constexpr int kPlainLoginRefused = 407;
}  // namespace smtp_error

// Every code with its text, in the order users see them listed.
[[nodiscard]] const std::vector<std::pair<int, std::string_view>>& SmtpErrorTable();
// The text of `code`; "Undefined error id." for a code not in the table.
[[nodiscard]] std::string_view SmtpErrorText(int code);

}  // namespace tarvix
