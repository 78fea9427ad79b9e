// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/program_production.h"

#include "production/chip_data_checks.h"

namespace tarvix {

std::string LogRefusalText(const std::string& error) {
  return "not programmed: the production log cannot be written (" + error + ")";
}

namespace {

const char* OperationName(ProgramProduction::Operation kind) {
  switch (kind) {
    case ProgramProduction::Operation::kRead:
      return "read";
    case ProgramProduction::Operation::kWrite:
      return "write";
    case ProgramProduction::Operation::kVerify:
      return "verify";
    case ProgramProduction::Operation::kAuto:
      break;
  }
  return "auto";
}

}  // namespace

// The chip-data checks of one operation, in its context for as long as it runs: the
// sums for a read, the sums and the difference list for a verify (also auto's).
class ProgramProduction::Checks {
 public:
  Checks(OperationContext& ctx, Operation kind) : ctx_(ctx), previous_(ctx.chip_data_tap) {
    if (kind == Operation::kWrite) return;
    if (kind != Operation::kRead) {
      diff_ = std::make_shared<DiffFile>();
      // Without a temporary folder the sums are still worth having.
      if (!diff_->Valid()) diff_.reset();
    }
    checks_.emplace(diff_.get());
    ctx.chip_data_tap = &*checks_;
  }
  ~Checks() { ctx_.chip_data_tap = previous_; }
  Checks(const Checks&) = delete;
  Checks& operator=(const Checks&) = delete;

  [[nodiscard]] const std::optional<ChipDataChecks>& Taken() const { return checks_; }
  [[nodiscard]] const std::shared_ptr<DiffFile>& Diff() const { return diff_; }

 private:
  OperationContext& ctx_;
  ChipDataTap* previous_;
  std::shared_ptr<DiffFile> diff_;
  std::optional<ChipDataChecks> checks_;
};

ProgramProduction::ProgramProduction(OperationContext& ctx, const ProductionSetup& setup,
                                     ImageChecksums& image_sums,
                                     ProductionStation::StatusText status_text)
    : ctx_(ctx), setup_(setup), image_sums_(image_sums), status_text_(std::move(status_text)) {}

ProgramProduction::~ProgramProduction() = default;

void ProgramProduction::AddListener(Listener listener) {
  std::lock_guard lock(mutex_);
  listeners_.push_back(std::move(listener));
}

void ProgramProduction::Publish(Change change) {
  std::vector<Listener> listeners;
  {
    std::lock_guard lock(mutex_);
    listeners = listeners_;
  }
  for (const Listener& listener : listeners) listener(change);
}

std::optional<ProgramProduction::ChipSums> ProgramProduction::LastChipSums() const {
  std::lock_guard lock(mutex_);
  return chip_sums_;
}

std::optional<ProgramProduction::Differences> ProgramProduction::LastDifferences() const {
  std::lock_guard lock(mutex_);
  return differences_;
}

void ProgramProduction::EndBulkRun() {
  bulk_station_.reset();
  bulk_job_key_.clear();
}

void ProgramProduction::Take(const Checks& checks, Operation kind) {
  const std::optional<ChipDataChecks>& taken = checks.Taken();
  if (!taken || !taken->ChipSums()) return;  // stopped, or never got to the chip's data
  bool differences_changed = false;
  {
    std::lock_guard lock(mutex_);
    chip_sums_ = ChipSums{*taken->ChipSums(), kind == Operation::kRead ? "read" : "verify"};
    if (kind != Operation::kRead) {
      differences_changed = taken->DiffRanges() > 0 || differences_.has_value();
      if (taken->DiffRanges() > 0 && checks.Diff()) {
        differences_ = Differences{checks.Diff(), taken->DiffRanges(), taken->DifferingBytes()};
      } else {
        differences_.reset();  // the chip verified: an older list no longer applies
      }
    }
  }
  Publish(Change::kChipSums);
  if (differences_changed) Publish(Change::kDifferences);
}

ProductionJob ProgramProduction::JobFor(Operation kind, bool bulk) {
  const ProductionSettings settings = setup_.Settings();
  ProductionJob job;
  job.lot = settings.lot;
  job.operation = OperationName(kind);
  if (bulk) job.serial = settings.serial;
  const ByteSource* image = OperationImage(ctx_);
  if (image == nullptr) return job;
  job.image_name = ctx_.image.CurrentIsChipData() ? std::string("chip data")
                                                  : ctx_.image.CurrentPath().filename().string();
  if (const std::optional<Checksums> sums = image_sums_.SumsFor(*image)) job.image_sums = *sums;
  return job;
}

void ProgramProduction::Refuse(const std::string& error, bool bulk) {
  if (bulk) {
    ctx_.state.bulk_mode.store(0);
    EndBulkRun();
  }
  ctx_.host.ShowStatus(LogRefusalText(error), true, true);
}

bool ProgramProduction::Run(Operation kind, const std::function<bool()>& operation) {
  const bool bulk = kind == Operation::kAuto && ctx_.state.bulk_mode.load() != 0;
  if (!bulk) EndBulkRun();
  Checks checks(ctx_, kind);
  const std::filesystem::path log = setup_.LogPath();
  if (kind == Operation::kRead || log.empty()) {
    const bool ok = operation();
    Take(checks, kind);
    return ok;
  }

  std::string error;
  std::unique_ptr<ProductionStation> single;
  ProductionStation* station = nullptr;
  const ProductionJob job = JobFor(kind, bulk);
  const auto open = [&]() -> std::unique_ptr<ProductionStation> {
    auto opened = ProductionStation::Open(ctx_, log, job, status_text_, &error);
    if (opened && !opened->Start(&error)) opened.reset();
    return opened;
  };
  if (bulk) {
    // A new image or new settings between two chips start a new run with them.
    const std::string key = job.image_name + '\n' + job.image_sums.Sha256Text() + '\n' + job.lot +
                            '\n' + (job.serial ? SerialSettingsText(*job.serial) : "");
    if (!bulk_station_ || key != bulk_job_key_) {
      bulk_station_ = open();
      bulk_job_key_ = key;
    }
    station = bulk_station_.get();
  } else {
    single = open();
    station = single.get();
  }
  if (station == nullptr) {
    Refuse(error, bulk);
    return false;
  }

  bool ok = false;
  const ChipOutcome outcome = station->RunChip([&] { return ok = operation(); }, &error);
  Take(checks, kind);
  if (outcome == ChipOutcome::kRunStopped) Refuse(error, bulk);
  if (outcome != ChipOutcome::kRunStopped || station->LastChipRan()) Publish(Change::kRecorded);
  // Stopped by the user during this chip: the next bulk run is a run of its own.
  if (bulk && ctx_.state.bulk_mode.load() == 0) EndBulkRun();
  return ok;
}

}  // namespace tarvix
