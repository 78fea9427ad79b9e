#include "buffer/path_box.h"

namespace tarvix {

std::string ShortenPathForBox(std::string_view path) {
  std::string text(path);
  const std::size_t keep = (!text.empty() && text[0] == '/') ? 1 : 0;
  bool cut = false;
  while (text.size() > kPathBoxLength) {
    std::size_t slash = text.find('/', keep);
    if (slash == std::string::npos) break;
    text.erase(keep, slash - keep + 1);
    cut = true;
  }
  if (cut) text.insert(keep, ".../");
  return text;
}

}  // namespace tarvix
