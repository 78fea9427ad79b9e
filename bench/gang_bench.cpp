// SPDX-License-Identifier: GPL-3.0-or-later
// Gang throughput: gangs of 1, 2, 4 and 8 simulated programmers on realistic timing
// (USB 2.0 and chip speeds), each erasing, writing and verifying 1 MiB SPI FLASH chips
// one after another while a simulated operator swaps them. Prints chips per minute,
// the scaling against N times the gang of one (goal: within 10% of linear up to 8),
// and the process's CPU time per programmer as a share of one core (goal: under 5%;
// the simulated programmers' own work runs in this process too, so it is an upper
// bound of what the host side takes). Usage: tarvix_bench_gang [CHIPS_PER_PROGRAMMER]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <vector>

#include "app/gang.h"
#include "app/program.h"
#include "buffer/memory_source.h"
#include "device/host_model.h"
#include "sim/sim_operator.h"
#include "sim/sim_setup.h"

namespace {

using namespace tarvix;

constexpr char kModel[] = "W25Q80DV";   // 1 MiB SPI FLASH
constexpr std::int64_t kSwapMs = 1000;  // the operator's quickest swap

// Nobody answers a box in a benchmark; the gang's programmers never ask one.
class QuietHost final : public HostModel {
 public:
  BoxAnswer MessageBox(std::string_view, std::string_view, BoxIcon, BoxButtons) override {
    return BoxAnswer::kCancel;
  }
  void PlaySound(const std::filesystem::path&) override {}
};

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Figures {
  int chips = 0;
  int failed = 0;
  double wall_s = 0;
  double cpu_s = 0;
};

Figures RunGang(const ChipCatalogue& catalogue, int programmers, int chips_each,
                const ByteSource& image) {
  sim::SimulatorOptions options;
  options.model = kModel;
  options.timing = sim::Timing::kRealistic;
  options.programmers = programmers;
  std::string error;
  std::optional<sim::Simulator> simulator = sim::MakeSimulator(catalogue, options, &error);
  if (!simulator) {
    std::fprintf(stderr, "simulator: %s\n", error.c_str());
    std::exit(1);
  }
  const std::filesystem::path base =
      std::filesystem::temp_directory_path() / ("tarvix-gang-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(base);
  QuietHost host;
  ProgramOptions program_options;
  program_options.base = base;
  program_options.catalogue = &catalogue;
  program_options.worker_thread = false;
  program_options.device_change_notices = false;
  program_options.window_files = false;
  Program program(program_options, *simulator->backend, *simulator->clock, host);

  std::vector<std::unique_ptr<sim::SimOperator>> operators;
  for (int i = 0; i < programmers; ++i) {
    const auto index = static_cast<std::size_t>(i);
    operators.push_back(std::make_unique<sim::SimOperator>(
        *simulator->bus, index, simulator->bus->Programmer(index).chip()->description(), kSwapMs));
  }
  Figures figures;
  {
    Gang gang(*simulator->backend, *simulator->clock, catalogue, program.SettingsMenu(),
              program.Image(), program.Files());
    if (gang.Discover() != static_cast<std::size_t>(programmers)) {
      std::fprintf(stderr, "not every programmer was found\n");
      std::exit(1);
    }
    gang.SetChipListener([&](const GangChipReport& report) {
      if (report.number < chips_each)
        operators[report.programmer - sim::kFirstSimulatedSerial]->ChipDone();
    });
    GangJob job;
    job.image = &image;
    job.chip_record = static_cast<std::int32_t>(*sim::FindSimulatedModel(catalogue, kModel));
    job.count = chips_each;
    const auto started = std::chrono::steady_clock::now();
    const double cpu_started = CpuSeconds();
    if (!gang.Start(job, {}, &error)) {
      std::fprintf(stderr, "gang: %s\n", error.c_str());
      std::exit(1);
    }
    (void)gang.WaitAll(std::chrono::hours(1));
    figures.wall_s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    figures.cpu_s = CpuSeconds() - cpu_started;
    const GangSummary summary = gang.Summary();
    figures.chips = summary.passed;
    figures.failed = summary.failed;
  }
  std::filesystem::remove_all(base);
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  const int chips_each = argc > 1 ? std::atoi(argv[1]) : 3;
  ChipCatalogue catalogue;
  catalogue.Load(TARVIX_DATABASE_DAT, [](std::string_view, std::string_view) {});
  std::vector<std::uint8_t> bytes(1u << 20);
  std::mt19937 random(22);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  const MemorySource image(std::move(bytes));

  std::printf(
      "gang of N simulated programmers, realistic timing, %s (1 MiB), %d chips each,"
      " %lld ms swaps\n",
      kModel, chips_each, static_cast<long long>(kSwapMs));
  std::printf("%3s %7s %8s %12s %9s %16s\n", "N", "chips", "wall s", "chips/min", "scaling",
              "CPU/programmer");
  double single = 0;
  for (const int n : {1, 2, 4, 8}) {
    const Figures f = RunGang(catalogue, n, chips_each, image);
    const double per_minute = f.chips * 60.0 / f.wall_s;
    if (n == 1) single = per_minute;
    std::printf("%3d %7d %8.1f %12.2f %8.1f%% %15.2f%%%s\n", n, f.chips, f.wall_s, per_minute,
                100.0 * per_minute / (single * n), 100.0 * f.cpu_s / f.wall_s / n,
                f.failed > 0 ? "  (chips failed)" : "");
  }
  return 0;
}
