// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/terminal_output.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <streambuf>

namespace tarvix::cli {

namespace {

bool IsContinuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

// Bytes still to come of a sequence cut at the end of `text` (a lead byte and the
// continuation bytes after it), or a CR that may be the start of a CR LF.
std::size_t UnfinishedTail(std::string_view text) {
  if (!text.empty() && text.back() == '\r') return 1;
  for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
    const unsigned char c = static_cast<unsigned char>(text[text.size() - back]);
    if (IsContinuation(c)) continue;
    const std::size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return need > back ? back : 0;
  }
  return 0;
}

// Passes text on to `target` escaped. Unbuffered, so that it keeps the order of
// what is written around it; only a sequence cut at the end of a write waits for
// the next one.
class EscapingBuffer : public std::streambuf {
 public:
  explicit EscapingBuffer(std::streambuf* target) : target_(target) {}

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    xsputn(&ch, 1);
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    pending_.append(s, static_cast<std::size_t>(n));
    Emit(pending_.size() - UnfinishedTail(pending_));
    return n;
  }
  int sync() override {
    Emit(pending_.size());
    return target_->pubsync();
  }

 private:
  void Emit(std::size_t n) {
    if (n == 0) return;
    const std::string out = EscapeControls(std::string_view(pending_).substr(0, n));
    target_->sputn(out.data(), static_cast<std::streamsize>(out.size()));
    pending_.erase(0, n);
  }

  std::streambuf* target_;
  std::string pending_;
};

std::ostream* own_sequences = nullptr;

}  // namespace

std::size_t Utf8SequenceLength(std::string_view text) {
  if (text.empty()) return 0;
  const unsigned char c = static_cast<unsigned char>(text[0]);
  if (c < 0x80) return 1;
  std::size_t n = 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) low = 0xA0;   // overlong
    if (c == 0xED) high = 0x9F;  // surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) low = 0x90;   // overlong
    if (c == 0xF4) high = 0x8F;  // past U+10FFFF
  } else {
    return 0;
  }
  if (text.size() < n) return 0;
  const unsigned char second = static_cast<unsigned char>(text[1]);
  if (second < low || second > high) return 0;
  for (std::size_t i = 2; i < n; ++i)
    if (!IsContinuation(static_cast<unsigned char>(text[i]))) return 0;
  return n;
}

std::string EscapeControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  char code[8];
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;
      continue;
    }
    if (c == '\n' || c == '\t' || (c >= 0x20 && c < 0x7F)) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    const std::size_t n = c < 0x80 ? 0 : Utf8SequenceLength(text.substr(i));
    if (n == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      // U+0080..U+009F: the C1 controls (U+009B starts a sequence as ESC [ does).
      std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned char>(text[i + 1]));
      out += code;
    } else if (n > 0) {
      out.append(text.substr(i, n));
    } else {
      std::snprintf(code, sizeof code, "\\x%02x", c);
      out += code;
    }
    i += n > 0 ? n : 1;
  }
  return out;
}

void GuardTerminal() {
  if (own_sequences != nullptr) return;
  // Never freed: the streams print through them until the very end of the process.
  own_sequences = new std::ostream(std::cerr.rdbuf());
  if (::isatty(STDOUT_FILENO) == 1) std::cout.rdbuf(new EscapingBuffer(std::cout.rdbuf()));
  if (::isatty(STDERR_FILENO) == 1) std::cerr.rdbuf(new EscapingBuffer(std::cerr.rdbuf()));
}

std::ostream& OwnSequences() {
  return own_sequences != nullptr ? *own_sequences : std::cerr;
}

}  // namespace tarvix::cli
