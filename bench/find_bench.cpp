// SPDX-License-Identifier: GPL-3.0-or-later
// Find over a 128 MiB working copy (read from the file block by block, as the
// search does) against glibc's memmem over the same bytes already in memory. Prints
// the ratio of the two and how much the search's resident memory grew.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "buffer/find_datas.h"
#include "buffer/stream_copy.h"

namespace {

constexpr std::size_t kImageSize = 128u << 20;

struct Image {
  std::filesystem::path path;
  std::vector<std::uint8_t> bytes;  // the in-memory copy, made for the memmem baseline
  tarvix::UniqueFd fd;
};

// The same pseudo-random bytes for the file and the in-memory copy.
class ByteStream {
 public:
  void Fill(std::uint8_t* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      x_ ^= x_ << 13, x_ ^= x_ >> 7, x_ ^= x_ << 17;
      out[i] = static_cast<std::uint8_t>(x_);
    }
  }

 private:
  std::uint64_t x_ = 0x9E3779B97F4A7C15ull;
};

Image& TheImage() {
  static Image image = [] {
    Image i;
    i.path = std::filesystem::temp_directory_path() /
             ("tarvix_find_bench_" + std::to_string(::getpid()) + ".bin");
    // Written in small pieces so that the search's memory is measured alone.
    tarvix::UniqueFd out = tarvix::CreateTruncated(i.path);
    ByteStream stream;
    std::vector<std::uint8_t> chunk(1 << 20);
    for (std::size_t at = 0; at < kImageSize; at += chunk.size()) {
      stream.Fill(chunk.data(), chunk.size());
      if (!tarvix::WriteAt(out.Get(), chunk, at)) std::abort();
    }
    i.fd = tarvix::OpenRegularForReading(i.path);
    return i;
  }();
  return image;
}

long MaxRssKiB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Patterns: one that never occurs (a full scan), and a single byte that occurs
// about every 256 bytes (the per-match path).
std::vector<std::uint8_t> PatternFor(int kind) {
  if (kind == 0) return {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF1};
  return {0x5A};
}

void BM_FindFile(benchmark::State& state) {
  Image& image = TheImage();
  const auto pattern = PatternFor(static_cast<int>(state.range(0)));
  const long rss_before = MaxRssKiB();
  const tarvix::FindReader read = [&image](std::uint64_t offset, std::span<std::uint8_t> out) {
    return tarvix::ReadAt(image.fd.Get(), out, offset);
  };
  std::size_t matches = 0;
  for (auto _ : state) {
    tarvix::FindScanner scanner(read, kImageSize, pattern);
    std::uint64_t at = 0;
    matches = 0;
    while (scanner.Next(at) == tarvix::FindScanner::Step::kMatch) ++matches;
    benchmark::DoNotOptimize(matches);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kImageSize));
  state.counters["matches"] = static_cast<double>(matches);
  state.counters["rss_growth_KiB"] = static_cast<double>(MaxRssKiB() - rss_before);
  state.counters["max_rss_KiB"] = static_cast<double>(MaxRssKiB());
}

void BM_MemmemInMemory(benchmark::State& state) {
  Image& image = TheImage();
  if (image.bytes.empty()) {
    image.bytes.resize(kImageSize);
    ByteStream().Fill(image.bytes.data(), kImageSize);
  }
  const auto pattern = PatternFor(static_cast<int>(state.range(0)));
  std::size_t matches = 0;
  for (auto _ : state) {
    const std::uint8_t* p = image.bytes.data();
    const std::uint8_t* end = p + image.bytes.size();
    matches = 0;
    while (const void* hit =
               ::memmem(p, static_cast<std::size_t>(end - p), pattern.data(), pattern.size())) {
      ++matches;
      p = static_cast<const std::uint8_t*>(hit) + pattern.size();
    }
    benchmark::DoNotOptimize(matches);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kImageSize));
  state.counters["matches"] = static_cast<double>(matches);
}

// The file search runs first, before the in-memory copy exists, so its memory
// growth is measured alone.
BENCHMARK(BM_FindFile)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemmemInMemory)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Keeps each run's time per iteration so the ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      real_[run.benchmark_name()] = run.GetAdjustedRealTime();
      cpu_[run.benchmark_name()] = run.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void PrintRatios() const {
    for (const char* arg : {"0", "1"}) {
      const std::string find = std::string("BM_FindFile/") + arg;
      const std::string mem = std::string("BM_MemmemInMemory/") + arg;
      if (!real_.count(find) || !real_.count(mem)) continue;
      std::printf("find/memmem (%s): %.2f wall, %.2f cpu\n",
                  std::string(arg) == "0" ? "pattern absent, full scan" : "one-byte pattern",
                  real_.at(find) / real_.at(mem), cpu_.at(find) / cpu_.at(mem));
    }
  }

 private:
  std::map<std::string, double> real_, cpu_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  std::error_code ec;
  std::filesystem::remove(TheImage().path, ec);
  benchmark::Shutdown();
  return 0;
}
