// SPDX-License-Identifier: GPL-3.0-or-later
// Outside the fuzz build the targets are linked into this one program, which runs a
// target over the files of a folder (its seed corpus): every build then compiles the
// targets, and every test run replays their seeds under its own sanitizers.
// Usage: tarvix_fuzz_seeds TARGET FOLDER
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

#define TARVIX_FUZZ_TARGET(name) \
  extern "C" int Fuzz_##name(const std::uint8_t* data, std::size_t size);
#include "fuzz_targets.def"
#undef TARVIX_FUZZ_TARGET

namespace {
struct Target {
  std::string_view name;
  int (*run)(const std::uint8_t*, std::size_t);
};
constexpr Target kTargets[] = {
#define TARVIX_FUZZ_TARGET(name) {#name, Fuzz_##name},
#include "fuzz_targets.def"
#undef TARVIX_FUZZ_TARGET
};
}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s TARGET FOLDER\n", argv[0]);
    return 2;
  }
  for (const Target& target : kTargets) {
    if (target.name != argv[1]) continue;
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(argv[2])) {
      std::ifstream in(entry.path(), std::ios::binary);
      const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
      target.run(bytes.data(), bytes.size());
      ++files;
    }
    std::printf("%s: %d inputs\n", argv[1], files);
    return files > 0 ? 0 : 1;
  }
  std::fprintf(stderr, "no fuzz target %s\n", argv[1]);
  return 2;
}
