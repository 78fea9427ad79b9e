// SPDX-License-Identifier: GPL-3.0-or-later
// Reading back what the mail code encodes: Base64, quoted-printable and UTF-8 encoded
// header words.
#pragma once

#include <openssl/evp.h>

#include <string>
#include <string_view>

namespace tarvix::testing {

inline std::string Base64Decode(std::string_view text) {
  std::string out(3 * (text.size() / 4) + 3, '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size()));
  if (n < 0) return "<bad base64>";
  std::size_t size = static_cast<std::size_t>(n);
  // EVP_DecodeBlock counts the padding as zero bytes.
  if (text.ends_with("=="))
    size -= 2;
  else if (text.ends_with("="))
    size -= 1;
  out.resize(size);
  return out;
}

// A quoted-printable body decoded: soft breaks removed, "=XX" made bytes.
inline std::string QuotedPrintableDecode(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '=') {
      out += text[i];
    } else if (text.substr(i + 1, 2) == "\r\n") {
      i += 2;
    } else {
      out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    }
  }
  return out;
}

// A header value with its "=?UTF-8?B?...?=" words decoded and the folds between
// them removed.
inline std::string DecodeHeaderWords(std::string_view value) {
  std::string out;
  std::size_t at = 0;
  bool after_word = false;
  while (at < value.size()) {
    const std::size_t start = value.find("=?UTF-8?B?", at);
    if (start == std::string_view::npos) {
      out += value.substr(at);
      break;
    }
    std::string_view between = value.substr(at, start - at);
    // Blanks and folds between two encoded words are not part of the text.
    if (!(after_word && between.find_first_not_of(" \t\r\n") == std::string_view::npos))
      out += between;
    const std::size_t end = value.find("?=", start + 10);
    if (end == std::string_view::npos) return out + "<unterminated word>";
    out += Base64Decode(value.substr(start + 10, end - start - 10));
    at = end + 2;
    after_word = true;
  }
  return out;
}

}  // namespace tarvix::testing
