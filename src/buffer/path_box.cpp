// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/path_box.h"

namespace tarvix {

namespace {

// Characters, not bytes: a UTF-8 name counts each character once.
std::size_t CharacterCount(const std::string& text) {
  std::size_t count = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++count;
  }
  return count;
}

}  // namespace

std::string ShortenPathForBox(std::string_view path) {
  std::string text(path);
  const std::size_t keep = (!text.empty() && text[0] == '/') ? 1 : 0;
  bool cut = false;
  while (CharacterCount(text) > kPathBoxLength) {
    std::size_t slash = text.find('/', keep);
    if (slash == std::string::npos) break;
    text.erase(keep, slash - keep + 1);
    cut = true;
  }
  if (cut) text.insert(keep, ".../");
  return text;
}

}  // namespace tarvix
