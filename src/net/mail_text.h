// SPDX-License-Identifier: GPL-3.0-or-later
// Texts of an outgoing mail: the date header value, header texts that are safe on
// one line and declare their character set, line ends and dot-stuffing of the body.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvix {

// "ddd, dd MMM yyyy HH:mm:ss +0000" in UTC with English names.
[[nodiscard]] std::string MailDate(std::chrono::system_clock::time_point when);

// A header value on one line: CR, LF and other control characters become blanks (a
// CR LF pair one blank), so user text can never start a header line of its own.
[[nodiscard]] std::string OneLine(std::string_view text);

// OneLine(text) as it goes into a header: unchanged when it is plain ASCII, else as
// UTF-8 encoded words (Base64) on folded lines.
[[nodiscard]] std::string HeaderText(std::string_view text);

// Every bare CR and bare LF becomes CR LF.
[[nodiscard]] std::string WithCrLf(std::string_view text);

// Each line that begins with "." gets one more in front (lines end in CR LF).
[[nodiscard]] std::string DotStuffed(std::string_view text);

// True when every byte is 7-bit.
[[nodiscard]] bool IsAscii(std::string_view text);

// How a body (lines ending in CR LF) goes on the wire. As it is only when it is
// 7-bit text whose lines stay within the 998 bytes a server takes; otherwise
// quoted-printable, so that every text arrives whatever its bytes and line lengths
// while its ASCII stays readable.
enum class BodyEncoding : std::uint8_t { k7bit, kQuotedPrintable };
[[nodiscard]] BodyEncoding ChooseBodyEncoding(std::string_view crlf_text);
// The Content-Transfer-Encoding value: "7bit" or "quoted-printable".
[[nodiscard]] std::string_view EncodingName(BodyEncoding encoding);
// The body as sent before dot-stuffing: unchanged, or quoted-printable in lines of at
// most 76 characters (a soft break "=" ends the pieces of a longer line).
[[nodiscard]] std::string EncodedBody(std::string_view crlf_text, BodyEncoding encoding);

}  // namespace tarvix
