// SPDX-License-Identifier: GPL-3.0-or-later
// The version document of the update check, as any server may send it, with any
// programmer answer: the five lines of the "Version" dialog.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "net/version_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvix;
  tarvix::fuzz::FuzzInput in(data, size);
  const std::uint8_t answer = in.Byte();
  const std::optional<std::uint8_t> programmer =
      answer & 1 ? std::optional<std::uint8_t>(in.Byte()) : std::nullopt;
  const std::string_view document = in.Rest();
  const VersionDocument parsed = ParseVersionDocument(document);
  if (document.size() >= kVersionDocumentBytes) {
    FUZZ_CHECK(parsed.newest_software == static_cast<std::uint8_t>(document[0]));
    FUZZ_CHECK(parsed.newest_firmware == static_cast<std::uint8_t>(document[1]));
  }
  const VersionLines lines = MakeVersionLines(parsed, programmer);
  FUZZ_CHECK(lines.InOrder().size() == 5);
  for (const std::string& line : lines.InOrder()) {
    const std::string plain = WithoutLineEnd(line);
    FUZZ_CHECK(plain.find('\n') == std::string::npos);
  }
  return 0;
}
