// SPDX-License-Identifier: GPL-3.0-or-later
#include "production/production_run.h"

#include <chrono>

namespace tarvix {

ProductionRun::ProductionRun(LogDatabase* db, ProductionJob job, const Clock& clock)
    : db_(db), job_(std::move(job)), clock_(clock) {}

bool ProductionRun::Start(std::uint64_t capacity, std::string* error) {
  // A log that cannot take the first chip's entry is found before that chip is
  // programmed, not after.
  if (db_ != nullptr && !db_->CheckWritable(error)) return false;
  if (!job_.serial) return true;
  if (db_ == nullptr) {
    *error = kStampingNeedsLog;
    return false;
  }
  if (std::string problem = SerialSettingsProblem(*job_.serial, capacity); !problem.empty()) {
    *error = std::move(problem);
    return false;
  }
  SerialCounter counter(*db_);
  return counter.SpoilInterrupted(error) && counter.Configure(*job_.serial, error);
}

bool ProductionRun::BeginChip(std::string* error) {
  patch_.reset();
  serial_.reset();
  chip_started_ms_ = clock_.NowMs();
  if (!job_.serial) return true;
  SerialCounter counter(*db_);
  serial_ = counter.Reserve(job_.lot, error);
  if (!serial_) return false;
  std::optional<std::vector<std::uint8_t>> bytes = EncodeSerial(*job_.serial, *serial_);
  if (!bytes) {
    // Reserve keeps within the width; this would be a counter stored with other settings.
    *error = "serial number " + std::to_string(*serial_) + " does not fit its field";
    AbandonChip();
    return false;
  }
  patch_.emplace(job_.serial->address, std::move(*bytes));
  return true;
}

bool ProductionRun::EndChip(const ChipIdentity& chip, bool passed, const std::string& result_text,
                            std::string* error) {
  if (db_ == nullptr) return true;
  ChipLogEntry entry;
  entry.time = LocalTimeText(std::chrono::system_clock::now());
  entry.programmer = chip.programmer;
  entry.chip_model = chip.model;
  entry.chip_id = chip.id;
  entry.image = job_.image_name;
  entry.image_crc32 = job_.image_sums.Crc32Text();
  entry.image_sha256 = job_.image_sums.Sha256Text();
  entry.operation = job_.operation;
  entry.passed = passed;
  entry.result_text = result_text;
  entry.duration_ms = clock_.NowMs() - chip_started_ms_;
  entry.lot = job_.lot;
  entry.serial = serial_;
  ProductionLog log(*db_);
  if (!log.Record(entry, error)) {
    AbandonChip();
    return false;
  }
  serial_.reset();
  patch_.reset();
  ++recorded_;
  return true;
}

void ProductionRun::AbandonChip() {
  if (serial_ && db_ != nullptr) {
    std::string ignored;
    // Should this fail too, the number stays reserved: it is never handed out again,
    // and a run started after this program has ended marks it spoiled.
    (void)SerialCounter(*db_).Spoil(*serial_, &ignored);
  }
  serial_.reset();
  patch_.reset();
}

}  // namespace tarvix
