// SPDX-License-Identifier: GPL-3.0-or-later
#include "production/production_station.h"

#include "device/programmer_identity.h"

namespace tarvix {

std::unique_ptr<ProductionStation> ProductionStation::Open(
    OperationContext& ctx, const std::optional<std::filesystem::path>& log, ProductionJob job,
    StatusText status_text, std::string* error) {
  std::unique_ptr<LogDatabase> db;
  if (log) {
    db = LogDatabase::Open(*log, error);
    if (!db) return nullptr;
  }
  return std::unique_ptr<ProductionStation>(
      new ProductionStation(ctx, std::move(db), std::move(job), std::move(status_text)));
}

ProductionStation::ProductionStation(OperationContext& ctx, std::unique_ptr<LogDatabase> log,
                                     ProductionJob job, StatusText status_text)
    : ctx_(ctx),
      log_(std::move(log)),
      job_(job),
      status_text_(std::move(status_text)),
      run_(log_.get(), std::move(job), ctx.clock) {}

bool ProductionStation::Start(std::string* error) {
  return run_.Start(ctx_.state.chip_capacity.load(), error);
}

ChipIdentity ProductionStation::Identity() {
  // Asked once, on the thread that runs the chips, and only when it is recorded: a
  // run without a log sends the programmer nothing more than before.
  if (log_ && !programmer_asked_) {
    programmer_asked_ = true;
    if (const auto serial = ReadProgrammerSerial(ctx_.link, ctx_.packet))
      programmer_ = SerialText(*serial);
  }
  ChipIdentity chip;
  chip.programmer = programmer_;
  if (const ChipRecord* record = ctx_.selection.CurrentRecord()) {
    chip.model = record->model;
    chip.id = record->main_id;
  }
  return chip;
}

ChipOutcome ProductionStation::RunChip(const std::function<bool()>& operation, std::string* error) {
  last_serial_.reset();
  last_ran_ = false;
  const ChipIdentity chip = Identity();
  return RunProductionChip(
      ctx_, run_, chip,
      [&] {
        last_serial_ = run_.Serial();
        last_ran_ = true;
        return operation();
      },
      status_text_, error);
}

}  // namespace tarvix
