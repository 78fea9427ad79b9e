// SPDX-License-Identifier: GPL-3.0-or-later
// Production features at full size:
// - decoding a 16 MiB image from an I32HEX file, beside srec_cat converting the same
//   file to binary (the srecord tools' own speed for the same work);
// - CRC-32 and SHA-256 together over 16 MiB, fed in the 8 KiB blocks a verify receives
//   (target: 1 GB/s or more);
// - the difference list of a 64 MiB chip on which every byte differs, as one range and
//   as 32 Mi ranges of one byte, capped in memory and in a file (a million ranges);
//   peak memory is reported to show it stays flat.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "buffer/load_file_reader.h"
#include "production/diff_list.h"
#include "production/stream_checksums.h"

namespace tarvix {
namespace {

constexpr std::size_t kImageSize = 16u << 20;
constexpr std::size_t kChipSize = 64u << 20;
constexpr std::size_t kBlock = 8192;

std::vector<std::uint8_t> RandomBytes(std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  std::mt19937_64 gen(1);
  for (std::size_t i = 0; i + 8 <= n; i += 8) {
    const std::uint64_t v = gen();
    std::memcpy(bytes.data() + i, &v, 8);
  }
  return bytes;
}

std::int64_t PeakRssKib() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// A folder with a 16 MiB random binary and the I32HEX file srec_cat makes of it.
struct HexFiles {
  HexFiles() {
    folder = std::filesystem::temp_directory_path() /
             ("tarvix_production_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto bytes = RandomBytes(kImageSize);
    std::ofstream(folder / "image.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    const std::string command = "srec_cat " + (folder / "image.bin").string() + " -binary -o " +
                                (folder / "image.hex").string() + " -intel -address-length=4";
    if (std::system(command.c_str()) != 0) std::abort();
  }
  ~HexFiles() { std::filesystem::remove_all(folder); }
  std::filesystem::path folder;
};

HexFiles& Files() {
  static HexFiles files;
  return files;
}

void BM_DecodeI32Hex16MiB(benchmark::State& state) {
  const auto hex = Files().folder / "image.hex";
  for (auto _ : state) {
    LoadFileError error;
    const auto image = OpenImageFile(hex, std::nullopt, &error);
    if (!image || image->size != kImageSize) state.SkipWithError(error.text.c_str());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kImageSize));
}
BENCHMARK(BM_DecodeI32Hex16MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SrecCatI32HexToBinary16MiB(benchmark::State& state) {
  const std::string command = "srec_cat " + (Files().folder / "image.hex").string() +
                              " -intel -o " + (Files().folder / "out.bin").string() + " -binary";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("srec_cat failed");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kImageSize));
}
BENCHMARK(BM_SrecCatI32HexToBinary16MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Crc32AndSha256(benchmark::State& state) {
  const auto bytes = RandomBytes(kImageSize);
  StreamChecksums sums;
  for (auto _ : state) {
    for (std::size_t at = 0; at < bytes.size(); at += kBlock)
      sums.Update(std::span(bytes.data() + at, kBlock));
    benchmark::DoNotOptimize(sums.Finish());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kImageSize));
}
BENCHMARK(BM_Crc32AndSha256)->Unit(benchmark::kMillisecond);

// `every_other`: only every second byte differs, so each difference is a range.
void DiffChip(benchmark::State& state, bool every_other, bool to_file) {
  std::vector<std::uint8_t> file(kBlock);
  std::vector<std::uint8_t> chip(kBlock);
  for (std::size_t i = 0; i < kBlock; ++i) {
    file[i] = static_cast<std::uint8_t>(i * 7);
    chip[i] = every_other && i % 2 == 1 ? file[i] : static_cast<std::uint8_t>(~file[i]);
  }
  const std::int64_t rss_before = PeakRssKib();
  std::uint64_t ranges = 0;
  for (auto _ : state) {
    DiffList list(1000);
    DiffFile stream;
    DiffSink& sink = to_file ? static_cast<DiffSink&>(stream) : list;
    DiffCollector collector(sink);
    for (std::size_t at = 0; at < kChipSize; at += kBlock)
      collector.Compare(at, file.data(), chip.data(), kBlock);
    collector.Finish();
    ranges = collector.Ranges();
    if (!collector.SinkOk()) state.SkipWithError("the sink failed");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kChipSize));
  state.counters["ranges"] = static_cast<double>(ranges);
  state.counters["peak_rss_growth_kib"] = static_cast<double>(PeakRssKib() - rss_before);
}

void BM_DiffOneRange64MiB(benchmark::State& state) {
  DiffChip(state, false, false);
}
void BM_DiffByteRanges64MiBCapped(benchmark::State& state) {
  DiffChip(state, true, false);
}
void BM_DiffByteRanges64MiBToFile(benchmark::State& state) {
  DiffChip(state, true, true);
}
BENCHMARK(BM_DiffOneRange64MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DiffByteRanges64MiBCapped)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DiffByteRanges64MiBToFile)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tarvix

BENCHMARK_MAIN();
