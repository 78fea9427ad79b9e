// SPDX-License-Identifier: GPL-3.0-or-later
// A ".tvx" firmware file: the check of an image in memory and the same check streamed
// from the file must agree, and an image made of any payload passes both.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "firmware/tvx_image.h"
#include "fuzz_input.h"

namespace {

// The bytes as a file the upgrade can open by name.
std::optional<tarvix::TvxInfo> CheckAsFile(std::span<const std::uint8_t> bytes) {
  const int fd = ::memfd_create("tvx", 0);
  FUZZ_CHECK(fd >= 0);
  FUZZ_CHECK(::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
  const tarvix::TvxFile file("/proc/self/fd/" + std::to_string(fd));
  FUZZ_CHECK(file.IsOpen() && file.Size() == bytes.size());
  std::optional<tarvix::TvxInfo> info = file.Check();
  ::close(fd);
  return info;
}

bool Same(const std::optional<tarvix::TvxInfo>& a, const std::optional<tarvix::TvxInfo>& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || (a->size == b->size && a->last_payload_byte == b->last_payload_byte);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvix;
  const std::span<const std::uint8_t> image(data, size);
  const std::optional<TvxInfo> in_memory = CheckTvx(image);
  FUZZ_CHECK(Same(in_memory, CheckAsFile(image)));
  if (in_memory) FUZZ_CHECK(in_memory->size == size && size >= kTvxMinimumSize);

  // The input as a payload ("tvx make").
  std::string error;
  const std::optional<std::vector<std::uint8_t>> made = MakeTvx(image, &error);
  if (made) {
    FUZZ_CHECK(made->size() == size + kTvxTrailerSize);
    const std::optional<TvxInfo> info = CheckTvx(*made);
    FUZZ_CHECK(info && info->last_payload_byte == data[size - 1]);
    FUZZ_CHECK(Same(info, CheckAsFile(*made)));
  } else {
    FUZZ_CHECK(!error.empty());
  }
  return 0;
}
