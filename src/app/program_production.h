// SPDX-License-Identifier: GPL-3.0-or-later
// What production adds to the program's own chip operations. A read and a verify (and
// auto's verify) take the CRC-32 and SHA-256 of the chip's data in their own pass, a
// verify also its difference list. Every single auto, write and verify and every chip
// of a bulk run goes through a ProductionStation on the window's production log, with
// the operator's lot, and in bulk mode each chip takes its serial number when
// stamping is set. A log that cannot be written stops a bulk run (and refuses a single
// operation) before a chip is programmed that nobody could trace.
//
// The routines run on the programmer's worker; what they leave for the window is read
// under a lock from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/image_checksums.h"
#include "app/production_setup.h"
#include "operations/operation_context.h"
#include "production/diff_list.h"
#include "production/production_station.h"
#include "production/stream_checksums.h"

namespace tarvix {

// The red line of a chip operation the log refused: no chip is programmed.
[[nodiscard]] std::string LogRefusalText(const std::string& error);

class ProgramProduction {
 public:
  enum class Operation : std::uint8_t { kRead, kWrite, kVerify, kAuto };
  // What changed for the window; called on the worker's thread.
  enum class Change : std::uint8_t { kChipSums, kDifferences, kRecorded };
  using Listener = std::function<void(Change)>;

  // The chip data sums of the last read or verify that ran to its end.
  struct ChipSums {
    Checksums sums;
    std::string operation;  // "read" or "verify"
  };
  // The difference list of the last verify that found any.
  struct Differences {
    std::shared_ptr<DiffFile> ranges;  // the first ranges themselves
    std::uint64_t range_count = 0;     // every range, kept or not
    std::uint64_t differing_bytes = 0;
  };

  // `status_text` gives the operation's last status text, which the log keeps.
  ProgramProduction(OperationContext& ctx, const ProductionSetup& setup, ImageChecksums& image_sums,
                    ProductionStation::StatusText status_text);
  ~ProgramProduction();
  ProgramProduction(const ProgramProduction&) = delete;
  ProgramProduction& operator=(const ProgramProduction&) = delete;

  // Runs `operation` (the routine of the command) as `kind`, with the checks, the log
  // and the stamping that belong to it; returns what the routine returned (false when
  // the log refused it first).
  bool Run(Operation kind, const std::function<bool()>& operation);
  // Bulk mode has ended: the next bulk chip starts a new run (and a new station).
  void EndBulkRun();

  [[nodiscard]] std::optional<ChipSums> LastChipSums() const;
  [[nodiscard]] std::optional<Differences> LastDifferences() const;
  void AddListener(Listener listener);

 private:
  class Checks;

  [[nodiscard]] ProductionJob JobFor(Operation kind, bool bulk);
  void Refuse(const std::string& error, bool bulk);
  void Publish(Change change);
  void Take(const Checks& checks, Operation kind);

  OperationContext& ctx_;
  const ProductionSetup& setup_;
  ImageChecksums& image_sums_;
  ProductionStation::StatusText status_text_;
  // Worker side: the bulk run's station, kept from chip to chip.
  std::unique_ptr<ProductionStation> bulk_station_;
  std::string bulk_job_key_;  // the image and settings the bulk run was started with
  // Window side.
  mutable std::mutex mutex_;
  std::optional<ChipSums> chip_sums_;
  std::optional<Differences> differences_;
  std::vector<Listener> listeners_;
};

}  // namespace tarvix
