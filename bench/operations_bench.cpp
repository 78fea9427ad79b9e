// SPDX-License-Identifier: GPL-3.0-or-later
// Write, read and verify of a 16 MiB SPI FLASH through the whole host side (link,
// command packets, working copy, chip data file and its load) against the simulated
// programmer in instant mode, so only the host's own cost is measured. Prints MB/s.
// Read and verify run again with the checksums (and the difference list) watching.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"
#include "buffer/change_log.h"
#include "buffer/hex_page.h"
#include "buffer/image_buffer.h"
#include "buffer/load_save.h"
#include "catalogue/chip_catalogue.h"
#include "catalogue/chip_selection.h"
#include "device/clock.h"
#include "device/command_packet.h"
#include "device/recording_host.h"
#include "device/usb_link.h"
#include "operations/operation_context.h"
#include "operations/read.h"
#include "operations/verify.h"
#include "operations/write.h"
#include "production/chip_data_checks.h"
#include "sim/sim_backend.h"
#include "sim/sim_bus.h"
#include "sim/virtual_chip.h"
#include "state/main_state.h"

namespace tarvix {
namespace {

constexpr std::uint64_t kChipSize = 16u << 20;
constexpr char kCatalogue[] =
    "$25 SPI FLASH\r\n"
    "#Winbond:\r\n"
    "@W25Q128BV:256:4096:16MB:N:000:EF4018:00EF17:3.3:000\r\n";

// One program's worth of state around a simulated programmer with a 16 MiB chip.
struct Bench {
  Bench()
      : folder(std::filesystem::temp_directory_path() /
               ("tarvix_operations_bench_" + std::to_string(::getpid()))),
        settings((std::filesystem::create_directories(folder), folder / "kest2.dll")),
        change_log(folder / "log.txt") {
    state.paths = Paths::FromBase(folder);
    settings.Load();
    if (settings.IsOn(SettingItem::kAutoRecognize))
      (void)settings.Toggle(SettingItem::kAutoRecognize);
    if (!catalogue.Parse({reinterpret_cast<const std::uint8_t*>(kCatalogue), sizeof kCatalogue - 1},
                         [](std::string_view, std::string_view) {}))
      std::abort();
    selection.Initialise();
    selection.SelectRecord(0);
    image.OnChipChanged();
    programmer.InsertChip(sim::VirtualChip::FromRecord(catalogue.Record(0)));

    // A patterned image of the chip's size, loaded as the user would.
    const std::filesystem::path file = folder / "image.bin";
    {
      std::ofstream out(file, std::ios::binary);
      std::vector<char> block(1 << 20);
      for (std::uint64_t at = 0; at < kChipSize; at += block.size()) {
        for (std::size_t i = 0; i < block.size(); ++i)
          block[i] = static_cast<char>(((at + i) * 7 + ((at + i) >> 8)) & 0xFF);
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
      }
    }
    if (!files.Load(file, true) || !link.OpenSequence()) std::abort();
  }
  ~Bench() { std::filesystem::remove_all(folder); }

  std::filesystem::path folder;
  MainState state;
  Settings settings;
  ChangeLog change_log;
  ChipCatalogue catalogue;
  CommandPacket packet;
  ChipSelection selection{catalogue, packet, state};
  VirtualClock clock;
  sim::SimBus bus{clock};
  sim::VirtualProgrammer& programmer = bus.AddProgrammer();
  sim::SimBackend backend{bus};
  RecordingHost host{&state};
  UsbLink link{backend, host, state};
  ImageBuffer image{state};
  HexPage hex{image, state, host};
  FileLoadSave files{image, hex, change_log, host};
  OperationContext ctx{state,     link,      packet, host,  settings, clock,
                       catalogue, selection, image,  files, &hex};
};

Bench& TheBench() {
  static Bench bench;
  return bench;
}

void Report(benchmark::State& s) {
  s.SetBytesProcessed(static_cast<std::int64_t>(s.iterations() * kChipSize));
  s.counters["MB/s"] = benchmark::Counter(static_cast<double>(kChipSize) / 1e6,
                                          benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Write16MiB(benchmark::State& s) {
  Bench& b = TheBench();
  b.state.command_code = 1;
  for (auto _ : s) {
    b.host.ClearRecords();
    if (!WriteChip(b.ctx, false)) s.SkipWithError("write failed");
  }
  Report(s);
}

void BM_Read16MiB(benchmark::State& s) {
  Bench& b = TheBench();
  b.state.command_code = 13;
  for (auto _ : s) {
    b.host.ClearRecords();
    if (!ReadChip(b.ctx)) s.SkipWithError("read failed");
  }
  Report(s);
}

void BM_Verify16MiB(benchmark::State& s) {
  Bench& b = TheBench();
  b.state.command_code = 8;
  for (auto _ : s) {
    b.host.ClearRecords();
    if (!VerifyChip(b.ctx, false)) s.SkipWithError("verify failed");
  }
  Report(s);
}

// The same with the production taps on: CRC-32 and SHA-256 of the chip data in the
// operation's own pass (and the difference list of the verify); the overhead is the
// difference to the runs above.
void BM_Read16MiBWithChecksums(benchmark::State& s) {
  Bench& b = TheBench();
  ChipDataChecks checks;
  b.ctx.chip_data_tap = &checks;
  BM_Read16MiB(s);
  b.ctx.chip_data_tap = nullptr;
  if (!checks.ChipSums()) s.SkipWithError("no checksums");
}

void BM_Verify16MiBWithChecksumsAndDiff(benchmark::State& s) {
  Bench& b = TheBench();
  DiffList diff(1000);
  ChipDataChecks checks(&diff);
  b.ctx.chip_data_tap = &checks;
  BM_Verify16MiB(s);
  b.ctx.chip_data_tap = nullptr;
  if (!checks.ChipSums()) s.SkipWithError("no checksums");
}

// Write first: read and verify then see the image on the chip.
BENCHMARK(BM_Write16MiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Read16MiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Read16MiBWithChecksums)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Verify16MiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Verify16MiBWithChecksumsAndDiff)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tarvix

BENCHMARK_MAIN();
