// SPDX-License-Identifier: GPL-3.0-or-later
// One programmer of a gang: everything that belongs to one programmer and nothing
// that belongs to another. Its own link (bound to the programmer's place on the
// buses), command packet, chip selection, main state (stop requests, busy and bulk
// flags), worker thread, progress, counts and production run. A gang is N of these
// side by side; nothing global holds any of it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "buffer/byte_source.h"
#include "buffer/image_buffer.h"
#include "buffer/load_save.h"
#include "catalogue/chip_catalogue.h"
#include "catalogue/chip_selection.h"
#include "device/clock.h"
#include "device/command_packet.h"
#include "device/host.h"
#include "device/usb_link.h"
#include "operations/operation_context.h"
#include "production/production_station.h"
#include "state/main_state.h"
#include "state/setting_checks.h"

namespace tarvix {

// Where a programmer of the gang is.
enum class GangState : std::uint8_t {
  kIdle,         // connected, not running
  kWaiting,      // waiting for a chip in its socket
  kProgramming,  // erasing, writing or verifying a chip
  kDone,         // its count of chips is finished
  kStopped,      // stopped by the user
  kFailed,       // its run ended on an error (the log, a programmer that stopped answering)
  kUnplugged,    // it left the bus
};

// "idle", "waiting", "programming", "done", "stopped", "failed", "unplugged".
[[nodiscard]] const char* GangStateText(GangState state);

// One row of the gang as a front end shows it.
struct GangRow {
  std::uint32_t serial = 0;
  std::string name;  // the serial number as the socket's name ("123456")
  std::string chip;  // the run's chip model, empty before a run
  GangState state = GangState::kIdle;
  std::string status;  // its last status line
  bool red = false;
  int progress = 0;  // 0 to 100 while an operation shows its bar
  std::string progress_caption;
  int passed = 0;
  int failed = 0;
};

// A chip one programmer of the gang has finished (passed or not).
struct GangChipReport {
  std::uint32_t programmer = 0;  // its serial number
  std::string name;
  int number = 0;  // 1 for the first chip of this programmer's run
  bool passed = false;
  std::string status;
  std::optional<std::uint64_t> stamped;  // the serial number stamped into it
};

// What every programmer of a gang run does.
struct GangJob {
  const ByteSource* image = nullptr;  // streamed by every programmer (positioned reads)
  std::int32_t chip_record = -1;      // the run's catalogue record
  std::int64_t count = 0;             // chips per programmer; 0: until stopped
  // The production log, opened by each programmer's station on its own connection.
  std::optional<std::filesystem::path> log;
  ProductionJob production;  // the lot, the image's name and sums, stamping
};

// What a gang programmer shares with the others (read-only while a run goes).
struct GangShared {
  UsbBackend& backend;
  Clock& clock;
  const ChipCatalogue& catalogue;
  const SettingChecks& settings;  // "Bulk Process" chooses the steps
  ImageBuffer& image;             // unused by the run (it streams GangJob::image)
  FileLoadSave& files;
  std::mutex& enumeration;  // the links' turn at the backend's device list
};

// Text after a programmer's run ended because it stopped answering.
inline constexpr char kProgrammerNotAnswering[] = "programmer does not answer: run ended";
inline constexpr char kProgrammerUnplugged[] = "device is unconnected!";

class GangProgrammer {
 public:
  using ChipListener = std::function<void(const GangChipReport&)>;

  GangProgrammer(GangShared shared, std::uint32_t serial, int bus, int address);
  // Stops a run and waits for its thread.
  ~GangProgrammer();
  GangProgrammer(const GangProgrammer&) = delete;
  GangProgrammer& operator=(const GangProgrammer&) = delete;

  [[nodiscard]] std::uint32_t Serial() const { return serial_; }
  [[nodiscard]] int Bus() const { return bus_.load(); }
  [[nodiscard]] int Address() const { return address_.load(); }
  // The programmer came back at another place on the buses.
  void Rebind(int bus, int address);

  // Starts its run on its own thread; false when one runs already.
  bool Start(const GangJob& job, ChipListener listener);
  // Asks the run to end at its next block (a chip under way ends stopped).
  void Stop();
  // The programmer has left the bus: the run ends, the row says so.
  void Gone();
  [[nodiscard]] bool IsGone() const { return gone_.load(); }
  // Waits for the run's thread; true once it has ended (or none ran).
  bool Join();
  [[nodiscard]] bool Running() const { return running_.load(); }
  [[nodiscard]] bool EndedUnplugged() const { return Row().state == GangState::kUnplugged; }

  [[nodiscard]] GangRow Row() const;

 private:
  class RowHost;
  class RunSettings;

  void Run(GangJob job, ChipListener listener);
  void RunChips(const GangJob& job, const ChipListener& listener);
  // Waits for a chip of the run in the socket; false when the run is to end.
  bool NextChip(bool first);
  void SetState(GangState state);
  // Ends the run with `text` in the row.
  void End(GangState state, std::string_view text, bool red);

  std::uint32_t serial_;
  std::atomic<int> bus_;
  std::atomic<int> address_;
  std::unique_ptr<RowHost> host_;
  std::unique_ptr<RunSettings> settings_;
  MainState state_;
  CommandPacket packet_;
  ChipSelection selection_;
  UsbLink link_;
  OperationContext ctx_;
  GangShared shared_;

  mutable std::mutex row_mutex_;
  GangRow row_;
  std::atomic<bool> running_{false};
  std::atomic<bool> gone_{false};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace tarvix
