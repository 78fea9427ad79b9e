// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/smtp_reply.h"

#include <algorithm>
#include <cctype>

namespace tarvix {

namespace {
int ReplyCode(std::string_view line) {
  if (line.size() < 3) return 0;
  int code = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(line[i]))) return 0;
    code = code * 10 + (line[i] - '0');
  }
  return code;
}
}  // namespace

void SmtpReplyReader::Clear() {
  pending_.clear();
  text_.clear();
  code_ = 0;
  complete_ = false;
}

bool SmtpReplyReader::Take(std::string_view bytes) {
  if (complete_) return true;
  pending_.append(bytes);
  for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
    std::string_view line(pending_.data(), end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (text_.size() + line.size() < keep_) (text_ += line) += '\n';
    if (line.size() < 4 || line[3] != '-') {
      code_ = ReplyCode(line);
      complete_ = true;
      pending_.clear();
      return true;
    }
    pending_.erase(0, end + 1);
  }
  if (pending_.size() > keep_) pending_.erase(std::min<std::size_t>(4, pending_.size()));
  return false;
}

bool OffersStartTls(std::string_view ehlo_reply) {
  while (!ehlo_reply.empty()) {
    const std::size_t end = std::min(ehlo_reply.find('\n'), ehlo_reply.size());
    std::string_view line = ehlo_reply.substr(0, end);
    ehlo_reply.remove_prefix(std::min(end + 1, ehlo_reply.size()));
    // "250-STARTTLS", or "250 STARTTLS" when it is the last line.
    if (line.size() <= 4) continue;
    std::string_view keyword = line.substr(4);
    keyword = keyword.substr(0, keyword.find(' '));
    if (keyword.size() == 8 &&
        std::equal(keyword.begin(), keyword.end(), "STARTTLS",
                   [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; }))
      return true;
  }
  return false;
}

}  // namespace tarvix
