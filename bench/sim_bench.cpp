// SPDX-License-Identifier: GPL-3.0-or-later
// Chip data through the simulated programmer at zero latency: the host side must
// never be slowed by the simulator (target: 1 GB/s and more for read, verify, write).
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "device/clock.h"
#include "device/command_packet.h"
#include "sim/sim_backend.h"
#include "sim/sim_bus.h"
#include "sim/virtual_chip.h"

namespace {

using namespace tarvix;
using namespace tarvix::sim;

constexpr std::uint32_t kChip = 64u << 20;

struct Rig {
  VirtualClock clock;
  SimBus bus{clock};
  SimBackend usb{bus};
  CommandPacket packet;
  UsbHandle handle = kNoUsbHandle;

  Rig() {
    ChipDescription d;
    d.family = ChipFamily::kSpiFlash;
    d.capacity = kChip;
    d.page_size = 256;
    d.sector_size = 4096;
    auto chip = std::make_unique<VirtualChip>(d);
    std::vector<std::uint8_t> pattern(1 << 20);
    for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<std::uint8_t>(i * 13);
    for (std::uint32_t a = 0; a < kChip; a += 1 << 20)
      chip->Load(a, pattern.data(), pattern.size());
    bus.AddProgrammer().InsertChip(std::move(chip));
    ChipParameters p;
    p.capacity = kChip;
    p.page_size_code = 8;
    p.sector_size_code = 12;
    packet.ApplyChipParameters(p);
    packet.SetMarks();
    usb.Rescan();
    handle = usb.Open(0);
    (void)usb.SetConfiguration(handle, 1);
    (void)usb.ClaimInterface(handle, 0);
  }
  void Send(std::uint8_t code, std::uint32_t payload) {
    const auto be = BigEndian32(payload);
    const PacketBytes b = packet.Prepare(code, be);
    usb.InterruptWrite(handle, 2, b.data(), 20, 5000);
  }
};

void ReadStream(benchmark::State& state, std::uint8_t code) {
  Rig rig;
  std::vector<std::uint8_t> buffer(8192);
  for (auto _ : state) {
    rig.Send(code, kChip);
    std::uint64_t got = 0;
    while (got < kChip) {
      const int r = rig.usb.BulkRead(rig.handle, 0x83, buffer.data(), 8192, 5000);
      if (r <= 0) break;
      got += static_cast<std::uint64_t>(r);
    }
    benchmark::DoNotOptimize(buffer.data());
    if (got != kChip) state.SkipWithError("short stream");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kChip);
}

void BM_SimRead(benchmark::State& state) {
  ReadStream(state, 13);
}
void BM_SimVerifyStream(benchmark::State& state) {
  ReadStream(state, 8);
}

void BM_SimWrite(benchmark::State& state) {
  Rig rig;
  std::vector<std::uint8_t> chunk(4096, 0x5A);
  for (auto _ : state) {
    rig.Send(1, 0);
    std::uint64_t sent = 0;
    while (sent < kChip) {
      const int r = rig.usb.BulkWrite(rig.handle, 1, chunk.data(), 4096, 60000);
      if (r <= 0) break;
      sent += static_cast<std::uint64_t>(r);
    }
    rig.Send(2, static_cast<std::uint32_t>(sent));
    std::uint8_t mark = 0;
    (void)rig.usb.BulkRead(rig.handle, 0x83, &mark, 1, 6000);
    if (sent != kChip || mark != 2) state.SkipWithError("write stream broke");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kChip);
}

BENCHMARK(BM_SimRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SimVerifyStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SimWrite)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
