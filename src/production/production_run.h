// SPDX-License-Identifier: GPL-3.0-or-later
// One production run as the log and the serial counter see it, chip after chip: a
// bulk run, or a single auto, write or verify. Before a chip starts, its serial number
// (when stamping) is reserved and committed; once it ends, its entry is written and
// the number marked used or spoiled, all before the next chip may start. A log that
// cannot be written stops the run: no chip is programmed that nobody can trace.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "device/clock.h"
#include "production/log_database.h"
#include "production/production_log.h"
#include "production/serial_counter.h"
#include "production/serial_number.h"
#include "production/stream_checksums.h"

namespace tarvix {

struct ProductionJob {
  std::string lot;
  std::string operation = "auto";  // "auto", "write", "verify"
  std::string image_name;
  Checksums image_sums;
  std::optional<SerialSettings> serial;  // stamping, when set
};

// The chip in the socket and the programmer it sits in.
struct ChipIdentity {
  std::string programmer;
  std::string model;
  std::string id;
};

inline constexpr char kStampingNeedsLog[] =
    "serial numbers need a production log to keep their counter";

class ProductionRun {
 public:
  // `db` is the production log, or null when none is kept (then nothing is recorded
  // and stamping is refused). `clock` times each chip.
  ProductionRun(LogDatabase* db, ProductionJob job, const Clock& clock);

  // Before the first chip of a chip of `capacity` bytes: checks that the log can be
  // written (a locked or read-only log stops the run before any chip), the serial
  // settings against the chip, spoils numbers a crashed run left reserved and sets
  // the counter.
  [[nodiscard]] bool Start(std::uint64_t capacity, std::string* error);

  // Before each chip: reserves its serial number. False (stop the run) when the log
  // cannot be written or the numbers are used up.
  [[nodiscard]] bool BeginChip(std::string* error);
  // The bytes to patch into this chip's data, while stamping.
  [[nodiscard]] const std::optional<SerialPatch>& Patch() const { return patch_; }
  [[nodiscard]] std::optional<std::uint64_t> Serial() const { return serial_; }

  // After each chip, passed or not (a failed or stopped chip spoils its number).
  // False (stop the run) when the entry cannot be written.
  [[nodiscard]] bool EndChip(const ChipIdentity& chip, bool passed, const std::string& result_text,
                             std::string* error);
  // The chip began but will not be recorded (the run ends before EndChip): its
  // number, if any, is spoiled.
  void AbandonChip();

  [[nodiscard]] std::uint64_t ChipsRecorded() const { return recorded_; }

 private:
  LogDatabase* db_;
  ProductionJob job_;
  const Clock& clock_;
  std::optional<SerialPatch> patch_;
  std::optional<std::uint64_t> serial_;
  std::int64_t chip_started_ms_ = 0;
  std::uint64_t recorded_ = 0;
};

}  // namespace tarvix
