// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/gang_programmer.h"

#include "app/bulk_mode.h"
#include "device/programmer_identity.h"
#include "operations/auto_sequence.h"
#include "operations/recognition.h"

namespace tarvix {
namespace {
// A programmer still on the bus whose every look has failed this long is given up.
constexpr std::int64_t kSilentLimitMs = 5000;
}  // namespace

const char* GangStateText(GangState state) {
  switch (state) {
    case GangState::kIdle:
      return "idle";
    case GangState::kWaiting:
      return "waiting";
    case GangState::kProgramming:
      return "programming";
    case GangState::kDone:
      return "done";
    case GangState::kStopped:
      return "stopped";
    case GangState::kFailed:
      return "failed";
    case GangState::kUnplugged:
      return "unplugged";
  }
  return "";
}

// The programmer's reporting: its row of the gang instead of a status line and a
// log pane. Nobody sits at a gang programmer to answer, so a question is answered
// the way that touches no chip the user did not send to it (a gang run was agreed
// to once, before it started; an image longer than the chip is refused).
class GangProgrammer::RowHost final : public Host {
 public:
  explicit RowHost(GangProgrammer& owner) : owner_(owner) {}

  void ShowStatus(std::string_view text, bool red, bool) override {
    std::lock_guard<std::mutex> lock(owner_.row_mutex_);
    owner_.row_.status.assign(text);
    owner_.row_.red = red;
  }
  void AppendLogLine(std::string_view) override {}
  void ClearLog() override {}
  void SetProgress(int position, std::string_view caption, CaptionAlign) override {
    std::lock_guard<std::mutex> lock(owner_.row_mutex_);
    owner_.row_.progress = position < 0 ? 0 : position > 100 ? 100 : position;
    owner_.row_.progress_caption.assign(caption);
  }
  void ShowProgress(bool visible) override {
    if (visible) return;
    std::lock_guard<std::mutex> lock(owner_.row_mutex_);
    owner_.row_.progress = 0;
    owner_.row_.progress_caption.clear();
  }
  bool Confirm(std::string_view) override { return true; }
  BoxAnswer MessageBox(std::string_view, std::string_view, BoxIcon, BoxButtons buttons) override {
    switch (buttons) {
      case BoxButtons::kOk:
        return BoxAnswer::kOk;
      case BoxButtons::kOkCancel:
        return BoxAnswer::kCancel;
      case BoxButtons::kYesNo:
      case BoxButtons::kYesNoCancel:
        return BoxAnswer::kNo;
    }
    return BoxAnswer::kCancel;
  }
  void DisableCommand(int) override {}
  void EnableCommand(int) override {}
  void GrayMenuItem(int) override {}
  void EnableMenuItem(int) override {}
  void SetBusyCaption(int, bool) override {}
  void InformationBeep() override {}
  void PlaySound(const std::filesystem::path&) override {}
  void SetPicture(int, int) override {}

  [[nodiscard]] std::string LastStatus() const {
    std::lock_guard<std::mutex> lock(owner_.row_mutex_);
    return owner_.row_.status;
  }

 private:
  GangProgrammer& owner_;
};

// The run's settings: the front end's "Bulk Process" steps, with "Auto Recognize"
// on, since the wait for each next chip is a recognition.
class GangProgrammer::RunSettings final : public SettingChecks {
 public:
  void Take(const SettingChecks& from) {
    for (std::size_t i = 0; i < kSettingCount; ++i) {
      const auto item = static_cast<SettingItem>(i);
      (void)Check(item, from.IsOn(item));
    }
    (void)Check(SettingItem::kAutoRecognize, true);
    (void)Check(SettingItem::kRemindSound, false);
  }
};

GangProgrammer::GangProgrammer(GangShared shared, std::uint32_t serial, int bus, int address)
    : serial_(serial),
      bus_(bus),
      address_(address),
      host_(std::make_unique<RowHost>(*this)),
      settings_(std::make_unique<RunSettings>()),
      selection_(shared.catalogue, packet_, state_),
      link_(shared.backend, *host_, state_),
      ctx_{state_,           link_,      packet_,      *host_,       *settings_, shared.clock,
           shared.catalogue, selection_, shared.image, shared.files, nullptr},
      shared_(shared) {
  packet_.SetMarks();
  selection_.Initialise();
  link_.BindTo(bus, address);
  link_.ShareEnumeration(&shared.enumeration);
  row_.serial = serial;
  row_.name = SerialText(serial);
}

GangProgrammer::~GangProgrammer() {
  Stop();
  Join();
}

void GangProgrammer::Rebind(int bus, int address) {
  bus_ = bus;
  address_ = address;
  link_.BindTo(bus, address);
  gone_ = false;
}

bool GangProgrammer::Start(const GangJob& job, ChipListener listener) {
  if (running_.load()) return false;
  if (thread_.joinable()) thread_.join();
  stop_ = false;
  running_ = true;
  thread_ = std::thread([this, job, listener = std::move(listener)] { Run(job, listener); });
  return true;
}

void GangProgrammer::Stop() {
  stop_ = true;
  state_.stop_write = 1;
  state_.stop_erase = 1;
  state_.stop_verify = 1;
  state_.stop_read = 1;
  state_.stop_blank = 1;
  state_.bulk_mode = 0;
}

void GangProgrammer::Gone() {
  gone_ = true;
  // Its transfers fail by themselves; the wait for a chip must be told.
  state_.bulk_mode = 0;
}

bool GangProgrammer::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  return !running_.load();
}

GangRow GangProgrammer::Row() const {
  std::lock_guard<std::mutex> lock(row_mutex_);
  return row_;
}

void GangProgrammer::SetState(GangState state) {
  std::lock_guard<std::mutex> lock(row_mutex_);
  row_.state = state;
}

void GangProgrammer::End(GangState state, std::string_view text, bool red) {
  std::lock_guard<std::mutex> lock(row_mutex_);
  row_.state = state;
  if (!text.empty()) {
    row_.status.assign(text);
    row_.red = red;
  }
  row_.progress = 0;
  row_.progress_caption.clear();
}

bool GangProgrammer::NextChip(bool first) {
  SetState(GangState::kWaiting);
  const std::int32_t run_chip = state_.selected_chip_index.load();
  if (first) {
    RecognitionFindings found;
    const int result = ChipRecognition(ctx_, true, &found);
    if ((result == kRecognisedInCatalogue || result == kRecognisedFamily) &&
        state_.selected_chip_index.load() == run_chip)
      return true;
    // Judged against the run's chip, as every later one is.
    if (state_.selected_chip_index.load() != run_chip) selection_.SelectRecord(run_chip);
  }
  bool silent = false;
  if (!stop_.load() && !gone_.load() &&
      WaitForNextChip(ctx_, kSilentLimitMs, &silent) == BulkWaitResult::kNewChip)
    return true;
  if (gone_.load())
    End(GangState::kUnplugged, kProgrammerUnplugged, true);
  else if (silent)
    End(GangState::kFailed, kProgrammerNotAnswering, true);
  else
    End(GangState::kStopped, {}, false);
  return false;
}

void GangProgrammer::Run(GangJob job, ChipListener listener) {
  RunChips(job, listener);
  // The programmer is free again for the main window (its interface released).
  if (link_.IsOpen()) link_.CloseDevice();
  running_ = false;
}

void GangProgrammer::RunChips(const GangJob& job, const ChipListener& listener) {
  for (auto* flag : {&state_.stop_write, &state_.stop_erase, &state_.stop_verify, &state_.stop_read,
                     &state_.stop_blank})
    *flag = 0;
  state_.exit_request = 0;
  state_.bulk_success_count = 0;
  state_.bulk_mode = stop_.load() ? 0 : 1;
  settings_->Take(shared_.settings);
  ctx_.source = job.image;
  selection_.SelectRecord(job.chip_record);
  const ChipRecord* record =
      shared_.catalogue.IsValidIndex(job.chip_record)
          ? &shared_.catalogue.Record(static_cast<std::uint32_t>(job.chip_record))
          : nullptr;
  {
    std::lock_guard<std::mutex> lock(row_mutex_);
    row_.chip = record != nullptr ? record->model : std::string();
    row_.passed = row_.failed = 0;
    row_.status.clear();
    row_.red = false;
  }

  const auto finish = [this](GangState state, std::string_view text, bool red) {
    End(state, text, red);
  };
  if (record == nullptr || job.image == nullptr) {
    finish(GangState::kFailed, "no chip or no image for the run", true);
    return;
  }

  // Each programmer's station writes the log on a connection of its own; the log's
  // write lock keeps one serial-number counter for all of them.
  std::string error;
  std::unique_ptr<ProductionStation> station = ProductionStation::Open(
      ctx_, job.log, job.production, [this] { return host_->LastStatus(); }, &error);
  if (!station || !station->Start(&error)) {
    finish(GangState::kFailed, error, true);
    return;
  }

  const AutoSteps steps = ChipAutoSteps(ctx_);
  int number = 0;
  while (job.count == 0 || number < job.count) {
    if (!NextChip(number == 0)) return;
    ++number;
    SetState(GangState::kProgramming);
    const ChipOutcome outcome = station->RunChip([&] { return AutoSequence(ctx_, steps); }, &error);
    const bool passed = outcome == ChipOutcome::kPassed;
    const std::optional<std::uint64_t> stamped = station->LastSerial();
    if (outcome == ChipOutcome::kRunStopped) {
      // No chip is programmed that nobody can trace: this programmer stops.
      if (station->LastChipRan()) {
        std::lock_guard<std::mutex> lock(row_mutex_);
        ++row_.failed;
      }
      if (listener && station->LastChipRan())
        listener({serial_, SerialText(serial_), number, false, error, stamped});
      finish(GangState::kFailed, error, true);
      return;
    }
    const std::string status = host_->LastStatus();
    // A chip stopped half-way is not counted: it is neither good nor known bad.
    if (stop_.load() && !passed) {
      finish(GangState::kStopped, status, true);
      return;
    }
    {
      std::lock_guard<std::mutex> lock(row_mutex_);
      ++(passed ? row_.passed : row_.failed);
    }
    if (listener) listener({serial_, SerialText(serial_), number, passed, status, stamped});
    if (!passed) {
      // The device error ends this programmer's run only; the others go on.
      if (gone_.load() || !link_.IsDevicePresent()) {
        finish(GangState::kUnplugged, status, true);
        return;
      }
      const bool answers = link_.OpenSequence();
      const std::optional<std::uint32_t> serial =
          answers ? ReadProgrammerSerial(link_, packet_) : std::nullopt;
      if (!serial || *serial != serial_) {
        finish(GangState::kFailed, std::string(kProgrammerNotAnswering) + " (" + status + ")",
               true);
        return;
      }
    }
  }
  finish(GangState::kDone, {}, false);
}

}  // namespace tarvix
