// SPDX-License-Identifier: GPL-3.0-or-later
// Load, Save and hex page refresh against plain file I/O. Usage:
//   tarvix_bench IMAGE [BIG_SIZE_MIB]
// IMAGE is loaded (its copy is the working copy), read once with plain reads, saved
// after a one-byte edit (the normal case, and once with the source changed on disk,
// which forces a full comparison). Then a sparse image of BIG_SIZE_MIB (default 4096,
// plus 16 bytes so that offsets pass 32 bits) is loaded and the page is refreshed at
// random rows. Prints "name value" lines that run_buffer_bench.sh turns into ratios.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "buffer/change_log.h"
#include "buffer/hex_page.h"
#include "buffer/image_buffer.h"
#include "buffer/load_save.h"
#include "device/host.h"
#include "device/host_model.h"
#include "state/main_state.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Every report kept in the model and dropped; boxes printed, so a failing run says why.
class QuietHost : public tarvix::HostModel {
 public:
  tarvix::BoxAnswer MessageBox(std::string_view text, std::string_view, tarvix::BoxIcon,
                               tarvix::BoxButtons) override {
    std::fprintf(stderr, "box: %.*s\n", static_cast<int>(text.size()), text.data());
    return tarvix::BoxAnswer::kOk;
  }
  void PlaySound(const std::filesystem::path&) override {}
};

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

long PeakRssKib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// One pass of plain 1 MiB reads: the "read it once" baseline.
double ReadOnce(const fs::path& path) {
  auto start = Clock::now();
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return -1;
  std::vector<char> buffer(1 << 20);
  while (::read(fd, buffer.data(), buffer.size()) > 0) {
  }
  ::close(fd);
  return Seconds(start);
}

struct Rig {
  explicit Rig(const fs::path& base) {
    state.paths = tarvix::Paths::FromBase(base);
    state.chip_capacity = 1u << 20;
    buffer = std::make_unique<tarvix::ImageBuffer>(state);
    page = std::make_unique<tarvix::HexPage>(*buffer, state, host);
    log = std::make_unique<tarvix::ChangeLog>(tarvix::ChangeLog::PathIn(base));
    (void)log->Prepare();
    files = std::make_unique<tarvix::FileLoadSave>(*buffer, *page, *log, host);
  }
  tarvix::MainState state;
  QuietHost host;
  std::unique_ptr<tarvix::ImageBuffer> buffer;
  std::unique_ptr<tarvix::HexPage> page;
  std::unique_ptr<tarvix::ChangeLog> log;
  std::unique_ptr<tarvix::FileLoadSave> files;
};

template <typename F>
double Best(int runs, F&& f) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) best = std::min(best, f());
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s IMAGE [BIG_SIZE_MIB]\n", argv[0]);
    return 2;
  }
  const fs::path image = fs::absolute(argv[1]);
  const std::uint64_t big_mib = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 4096;
  const fs::path base =
      fs::temp_directory_path() / ("tarvix_buffer_bench_" + std::to_string(::getpid()));
  fs::create_directories(base);
  Rig rig(base);
  std::printf("rss_start_kib %ld\n", PeakRssKib());

  // Load: the same work as Open (copy into the working copy, both sums).
  const double load = Best(5, [&] {
    auto start = Clock::now();
    if (!rig.files->Load(image, true)) std::exit(1);
    return Seconds(start);
  });
  std::printf("image_bytes %llu\n", static_cast<unsigned long long>(rig.buffer->Size()));
  std::printf("load_s %.6f\n", load);
  std::printf("rss_after_load_kib %ld\n", PeakRssKib());
  std::printf("read_once_s %.6f\n", Best(5, [&] { return ReadOnce(image); }));

  // Save of one changed byte; the byte is put back afterwards so the file is reusable.
  std::mt19937_64 random(42);
  const double save = Best(3, [&] {
    const std::uint64_t at = random() % rig.buffer->Size();
    std::uint8_t old = 0;
    (void)rig.buffer->ReadWorking(at, {&old, 1});
    (void)rig.buffer->WriteByte(at, static_cast<std::uint8_t>(old ^ 0x5A));
    auto start = Clock::now();
    if (!rig.files->Save()) std::exit(1);
    const double s = Seconds(start);
    (void)rig.buffer->WriteByte(at, old);
    if (!rig.files->Save()) std::exit(1);
    return s;
  });
  std::printf("save_one_byte_s %.6f\n", save);
  // The source touched by someone else: Save compares the whole image.
  {
    const std::uint64_t at = rig.buffer->Size() / 2;
    std::uint8_t old = 0;
    (void)rig.buffer->ReadWorking(at, {&old, 1});
    (void)rig.buffer->WriteByte(at, static_cast<std::uint8_t>(old ^ 0x5A));
    ::utimensat(AT_FDCWD, image.c_str(), nullptr, 0);
    auto start = Clock::now();
    if (!rig.files->Save()) std::exit(1);
    std::printf("save_full_compare_s %.6f\n", Seconds(start));
    (void)rig.buffer->WriteByte(at, old);
    if (!rig.files->Save()) std::exit(1);
  }
  std::printf("rss_after_save_kib %ld\n", PeakRssKib());

  // A sparse image past 4 GiB: the page is read with two 320-byte preads wherever it is.
  const fs::path big = base / "big.bin";
  {
    int fd = ::open(big.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>((big_mib << 20) + 16)) != 0) return 1;
    ::close(fd);
  }
  auto start = Clock::now();
  if (!rig.files->Load(big, true)) return 1;
  std::printf("big_bytes %llu\n", static_cast<unsigned long long>(rig.buffer->Size()));
  std::printf("big_load_s %.6f\n", Seconds(start));
  std::printf("rss_after_big_load_kib %ld\n", PeakRssKib());
  const std::uint64_t rows = rig.buffer->ScrollRows();
  const int refreshes = 20000;
  std::vector<double> times;
  times.reserve(refreshes);
  for (int i = 0; i < refreshes; ++i) {
    auto one = Clock::now();
    rig.buffer->SetTopRow(random() % (rows - 19));
    rig.page->Refresh();
    times.push_back(Seconds(one) * 1000);
  }
  double total = 0;
  for (double t : times) total += t;
  std::sort(times.begin(), times.end());
  auto at = [&](double q) { return times[static_cast<std::size_t>(q * (times.size() - 1))]; };
  std::printf("refresh_mean_ms %.6f\n", total / refreshes);
  std::printf("refresh_p50_ms %.6f\n", at(0.5));
  std::printf("refresh_p99_ms %.6f\n", at(0.99));
  std::printf("refresh_p999_ms %.6f\n", at(0.999));
  std::printf("refresh_worst_ms %.6f\n", times.back());
  rig.buffer->SetTopRow(rows - 20);
  rig.page->Refresh();
  std::printf("last_row_address %s\n", rig.page->CellText(20, 0).c_str());
  std::printf("rss_end_kib %ld\n", PeakRssKib());

  rig.buffer->Close();
  fs::remove_all(base);
  return 0;
}
