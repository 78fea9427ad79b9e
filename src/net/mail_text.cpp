// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/mail_text.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "net/base64.h"

namespace tarvix {

namespace {
// Bytes per encoded word: 45 bytes are 60 Base64 characters, so a word stays within
// the 75 characters a header word may have.
constexpr std::size_t kEncodedWordBytes = 45;
// Longest line a server must take, without its CR LF.
constexpr std::size_t kLongestLine = 998;
// Longest quoted-printable line, its soft-break "=" included.
constexpr std::size_t kQuotedLine = 76;

bool IsContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}
}  // namespace

std::string MailDate(std::chrono::system_clock::time_point when) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%s, %02d %s %04d %02d:%02d:%02d +0000",
                kDays[utc.tm_wday % 7], utc.tm_mday, kMonths[utc.tm_mon % 12], utc.tm_year + 1900,
                utc.tm_hour, utc.tm_min, utc.tm_sec);
  return buffer;
}

std::string OneLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    out += (c < 0x20 && c != '\t') || c == 0x7F ? ' ' : static_cast<char>(c);
  }
  return out;
}

bool IsAscii(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

std::string HeaderText(std::string_view text) {
  const std::string line = OneLine(text);
  if (IsAscii(line)) return line;
  std::string out;
  std::string_view rest = line;
  while (!rest.empty()) {
    std::size_t take = std::min(kEncodedWordBytes, rest.size());
    // Never split a character between two words.
    std::size_t cut = take;
    while (cut > 0 && cut < rest.size() && IsContinuationByte(rest[cut])) --cut;
    if (cut > 0) take = cut;
    if (!out.empty()) out += "\r\n ";
    out += "=?UTF-8?B?" + Base64Encode(rest.substr(0, take)) + "?=";
    rest.remove_prefix(take);
  }
  return out;
}

std::string WithCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (text[i] == '\n') {
      out += "\r\n";
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string DotStuffed(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  bool line_start = true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (line_start && text[i] == '.') out += '.';
    out += text[i];
    line_start = text[i] == '\n' && i > 0 && text[i - 1] == '\r';
  }
  return out;
}

BodyEncoding ChooseBodyEncoding(std::string_view crlf_text) {
  std::size_t line = 0;  // bytes of the current line as it goes out
  for (std::size_t i = 0; i < crlf_text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(crlf_text[i]);
    if (c == '\r' && i + 1 < crlf_text.size() && crlf_text[i + 1] == '\n') {
      line = 0;
      ++i;
      continue;
    }
    // A bare CR or LF, NUL and 8-bit bytes have no place in 7-bit text; a line that
    // begins with "." grows by one when it is dot-stuffed.
    if (c == 0 || c == '\r' || c == '\n' || c >= 0x80) return BodyEncoding::kQuotedPrintable;
    if (line == 0 && c == '.') ++line;
    if (++line > kLongestLine) return BodyEncoding::kQuotedPrintable;
  }
  return BodyEncoding::k7bit;
}

std::string_view EncodingName(BodyEncoding encoding) {
  return encoding == BodyEncoding::kQuotedPrintable ? "quoted-printable" : "7bit";
}

std::string EncodedBody(std::string_view crlf_text, BodyEncoding encoding) {
  if (encoding == BodyEncoding::k7bit) return std::string(crlf_text);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(crlf_text.size() * 2);
  std::size_t column = 0;
  for (std::size_t i = 0; i < crlf_text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(crlf_text[i]);
    if (c == '\r' && i + 1 < crlf_text.size() && crlf_text[i + 1] == '\n') {
      out += "\r\n";  // a line end of the text stays one
      column = 0;
      ++i;
      continue;
    }
    // A blank before a line end would be lost on the way: it is encoded there.
    const bool line_end =
        i + 1 == crlf_text.size() ||
        (crlf_text[i + 1] == '\r' && i + 2 < crlf_text.size() && crlf_text[i + 2] == '\n');
    const bool literal =
        (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !line_end);
    const std::size_t width = literal ? 1 : 3;
    if (column + width > kQuotedLine - 1) {
      out += "=\r\n";
      column = 0;
    }
    if (literal) {
      out += static_cast<char>(c);
    } else {
      out += '=';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
    column += width;
  }
  return out;
}

}  // namespace tarvix
