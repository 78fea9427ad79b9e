// SPDX-License-Identifier: GPL-3.0-or-later
// The nodes text of File Division, as typed or pasted: normalised, checked, and the
// plan of pieces for a file of any length, which must cover the file exactly once.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "buffer/file_division.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvix;
  tarvix::fuzz::FuzzInput in(data, size);
  const std::uint64_t length = in.Number(in.Byte() % 9);
  const std::string nodes = NormaliseDivisionNodes(in.Rest());
  FUZZ_CHECK(nodes.size() <= in.Rest().size());
  if (!ValidDivisionNodes(nodes)) return 0;
  const std::vector<DivisionSpan> pieces = PlanDivision(nodes, length);
  std::uint64_t next = 0;
  for (const DivisionSpan& piece : pieces) {
    FUZZ_CHECK(piece.start == next);
    next += piece.length;
    FUZZ_CHECK(next >= piece.start && next <= length);  // no wrap, nothing past the end
    const std::filesystem::path name = DivisionPieceName("image.bin", piece);
    FUZZ_CHECK(name.string().starts_with("image_"));
  }
  FUZZ_CHECK(next == length);
  return 0;
}
