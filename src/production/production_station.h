// SPDX-License-Identifier: GPL-3.0-or-later
// One programmer's part in a production run: its own connection to the production log,
// the run (ProductionRun) over it, the programmer's serial number, and each chip's
// operation run as a production chip on the programmer's OperationContext: stamped
// with its serial number and recorded before the next chip starts. The window and the
// command line keep one for their programmer; a gang keeps one per programmer, all on
// the same log file (each with its own connection, so their transactions never mix).
// Without a log it runs each operation as it is and records nothing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "operations/operation_context.h"
#include "production/log_database.h"
#include "production/production_chip.h"
#include "production/production_run.h"

namespace tarvix {

class ProductionStation {
 public:
  // The operation's last status text, for the log (the front end's host keeps it).
  using StatusText = std::function<std::string()>;

  // A station for `job` on `ctx`, with the production log at `log` (none: nothing is
  // recorded, and stamping is refused by Start). Null, with `error` naming the file
  // and the reason, when the log cannot be opened.
  [[nodiscard]] static std::unique_ptr<ProductionStation> Open(
      OperationContext& ctx, const std::optional<std::filesystem::path>& log, ProductionJob job,
      StatusText status_text, std::string* error);

  // Before the first chip, once the chip's size is known: the log is checked writable
  // (a locked or read-only log stops the run before any chip is programmed), the
  // serial settings checked against the chip and the counter set.
  [[nodiscard]] bool Start(std::string* error);

  // Runs `operation` (the auto sequence, a write or a verify on the context) for the
  // chip in the socket, as one chip of the run. kRunStopped, with `error`, when the
  // chip could not be begun or recorded: no further chip may be programmed then
  // (LastChipRan says whether this one was).
  [[nodiscard]] ChipOutcome RunChip(const std::function<bool()>& operation, std::string* error);

  [[nodiscard]] bool Logging() const { return log_ != nullptr; }
  [[nodiscard]] bool Stamping() const { return job_.serial.has_value(); }
  // The serial number the last chip took (when stamping).
  [[nodiscard]] std::optional<std::uint64_t> LastSerial() const { return last_serial_; }
  // The last chip's operation ran (its chip may have been changed).
  [[nodiscard]] bool LastChipRan() const { return last_ran_; }
  [[nodiscard]] std::uint64_t ChipsRecorded() const { return run_.ChipsRecorded(); }
  // The programmer's serial number as recorded ("" until the first chip, or when the
  // programmer did not say).
  [[nodiscard]] const std::string& Programmer() const { return programmer_; }

 private:
  ProductionStation(OperationContext& ctx, std::unique_ptr<LogDatabase> log, ProductionJob job,
                    StatusText status_text);
  [[nodiscard]] ChipIdentity Identity();

  OperationContext& ctx_;
  std::unique_ptr<LogDatabase> log_;
  ProductionJob job_;
  StatusText status_text_;
  ProductionRun run_;
  std::string programmer_;
  bool programmer_asked_ = false;
  std::optional<std::uint64_t> last_serial_;
  bool last_ran_ = false;
};

}  // namespace tarvix
