// SPDX-License-Identifier: GPL-3.0-or-later
// Replies of an SMTP server, as a hostile one may send them in any pieces: however the
// bytes are cut, the reader finds the same reply, keeps within its bound, and reads
// STARTTLS off the same lines.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "net/smtp_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvix;
  tarvix::fuzz::FuzzInput in(data, size);
  const std::size_t keep = 16 + in.Byte() * 4;  // small bounds reach the long-line paths
  const std::size_t piece = 1 + in.Byte() % 64;
  const std::string_view bytes = in.Rest();

  SmtpReplyReader whole(keep);
  const bool whole_done = whole.Take(bytes);
  SmtpReplyReader cut(keep);
  bool cut_done = false;
  for (std::size_t at = 0; at < bytes.size() && !cut_done; at += piece)
    cut_done = cut.Take(bytes.substr(at, piece));

  FUZZ_CHECK(whole_done == cut_done);
  if (!whole_done) return 0;
  FUZZ_CHECK(whole.Code() == cut.Code() && whole.Code() >= 0 && whole.Code() <= 999);
  FUZZ_CHECK(whole.Text().size() <= keep && cut.Text().size() <= keep);
  // Only a line too long to keep may be cut down differently.
  std::size_t longest = 0;
  for (std::size_t start = 0, end; start < bytes.size(); start = end + 1) {
    end = std::min(bytes.find('\n', start), bytes.size());
    longest = std::max(longest, end - start);
  }
  if (longest + 1 < keep) FUZZ_CHECK(whole.Text() == cut.Text());
  (void)OffersStartTls(whole.Text());
  (void)OffersStartTls(cut.Text());
  whole.Clear();
  FUZZ_CHECK(whole.Text().empty() && whole.Code() == 0 && !whole.Take("220 ready"));
  return 0;
}
