// SPDX-License-Identifier: GPL-3.0-or-later
// Replies of an SMTP server as they come off the wire: pieces are joined into lines,
// and a reply ends with the line whose code is not followed by "-". Kept apart from
// the socket so that what a hostile server may send can be tried on it directly.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvix {

class SmtpReplyReader {
 public:
  // At most `keep` bytes of a reply's lines are kept; an endless line keeps its code.
  explicit SmtpReplyReader(std::size_t keep) : keep_(keep) {}

  // Takes bytes as received; true once a reply is complete. Whatever follows it was
  // not asked for and is dropped: it must not be taken as the next reply (nor
  // survive into a TLS session).
  [[nodiscard]] bool Take(std::string_view bytes);
  // The complete reply's code: its first three characters as a number, 0 when they
  // are not three digits.
  [[nodiscard]] int Code() const { return code_; }
  // Its lines, each ending in "\n" (CR dropped).
  [[nodiscard]] const std::string& Text() const { return text_; }
  // Ready for the next reply.
  void Clear();

 private:
  std::size_t keep_;
  std::string pending_;  // the part of a line not yet ended
  std::string text_;
  int code_ = 0;
  bool complete_ = false;
};

// Whether an EHLO reply (as Text() holds it) lists STARTTLS among its extensions, on
// any of its lines, the last one included.
[[nodiscard]] bool OffersStartTls(std::string_view ehlo_reply);

}  // namespace tarvix
