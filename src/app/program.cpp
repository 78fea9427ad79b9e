// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/program.h"

#include <fcntl.h>
#include <unistd.h>

#include <condition_variable>

#include "buffer/write_from_address.h"
#include "device/command_protocol.h"
#include "firmware/firmware_version.h"
#include "operations/auto_sequence.h"
#include "operations/blank_check.h"
#include "operations/erase.h"
#include "operations/read.h"
#include "operations/recognition.h"
#include "operations/verify.h"
#include "operations/write.h"
#include "state/control_ids.h"

namespace tarvix {
namespace {

bool AskToLeave(Host& host, std::string_view question) {
  return host.MessageBox(question, "info", BoxIcon::kQuestion, BoxButtons::kOkCancel) ==
         BoxAnswer::kOk;
}

}  // namespace

std::unique_ptr<InstanceGuard> PassStartUpGuards(Host& host) {
  auto guard = std::make_unique<InstanceGuard>(InstanceGuard::kProgramLock);
  if (guard->Busy()) {
    host.MessageBox(InstanceGuard::kAlreadyRunningMessage, InstanceGuard::kCaption,
                    BoxIcon::kWarning, BoxButtons::kOk);
    return nullptr;
  }
  // The sibling's lock is only tested, never kept.
  InstanceGuard sibling(InstanceGuard::kSiblingLock);
  if (sibling.Busy()) {
    host.MessageBox(InstanceGuard::kSiblingRunningMessage, InstanceGuard::kCaption,
                    BoxIcon::kWarning, BoxButtons::kOk);
    return nullptr;
  }
  sibling.Release();
  return guard;
}

Program::Program(ProgramOptions options, UsbBackend& backend, Clock& clock, HostModel& host)
    : options_(std::move(options)),
      backend_(backend),
      clock_(clock),
      host_(host),
      catalogue_(std::make_unique<ChipCatalogue>()),
      selection_(*catalogue_, packet_, state_),
      settings_(
          Paths::FromBase(options_.base).settings,
          [this](std::string_view message) {
            host_.MessageBox(message, "warning", BoxIcon::kWarning, BoxButtons::kOk);
          },
          options_.window_files),
      link_(backend, host, state_),
      production_setup_(options_.window_files ? options_.base : std::filesystem::path()),
      image_(state_),
      hex_(image_, state_, host),
      change_log_(ChangeLog::PathIn(options_.base)),
      files_(image_, hex_, change_log_, host),
      page_find_view_(std::make_unique<PageFindView>(image_, hex_, host)),
      window_find_view_(std::make_unique<WindowCallFindView>(*page_find_view_, host)),
      find_view_(window_find_view_.get()),
      ctx_{state_,      link_,      packet_, host,   settings_, clock,
           *catalogue_, selection_, image_,  files_, &hex_},
      production_(ctx_, production_setup_, image_sums_, [this] { return host_.Status().text; }),
      worker_(state_, {}),
      bulk_(state_, settings_, host, host.Commands(), worker_),
      buttons_(state_, host.Commands(), worker_, &bulk_, &host) {
  // Paths first: every later step finds its files through them.
  state_.paths = Paths::FromBase(options_.base);
  if (options_.database.empty()) options_.database = state_.paths.database;
  files_.SetChipNameSource([this] { return selection_.CurrentModel(); });
  image_.SetTap(&image_sums_);
  // The difference list is there to look at only once a verify has found differences.
  production_.AddListener([this](ProgramProduction::Change change) {
    if (change != ProgramProduction::Change::kDifferences) return;
    if (production_.LastDifferences()) {
      host_.EnableMenuItem(menu_id::kDifferenceList);
    } else {
      host_.GrayMenuItem(menu_id::kDifferenceList);
    }
  });
  buttons_.SetReadGuard([this] { return files_.SettleUnsavedChanges(); });
  // An operation (or a bulk run) holds the image: the grid takes no edit meanwhile.
  hex_.SetEditLock([this] { return host_.Commands().AnyBusy() || state_.bulk_mode.load() != 0; });

  Worker::Hooks hooks;
  hooks.link_open = [this] { return link_.IsOpen(); };
  hooks.send_end_of_run = [this](int timeout_ms) { SendEndOfRun(timeout_ms); };
  hooks.bulk_wait = [this] {
    const BulkWaitResult waited = WaitForNextChip(ctx_);
    if (waited == BulkWaitResult::kStopped) production_.EndBulkRun();
    return waited;
  };
  worker_.SetHooks(std::move(hooks));
  InstallOperations();
}

Program::~Program() {
  if (options_.device_change_notices) backend_.SetDeviceChangeHandler(nullptr);
  worker_.RequestExit();
}

void Program::InstallOperations() {
  // The one table of commands says which routine runs with its pre-check (or
  // recognition's) flag set; every button, key and menu item reaches these.
  for (const WorkerCommandInfo& info : WorkerCommandTable()) {
    const bool flag = info.argument != WorkerArgument::kNone;
    worker_.SetOperation(info.code, [this, code = info.code, flag] { RunOperation(code, flag); });
  }
}

void Program::RunOperation(WorkerCommand code, bool flag) {
  namespace w = worker_command;
  using P = ProgramProduction::Operation;
  switch (code) {
    case w::kWrite:
      (void)production_.Run(P::kWrite, [&] { return WriteChip(ctx_, flag); });
      break;
    case w::kErase:
      (void)EraseChip(ctx_, flag);
      break;
    case w::kRecognition:
      (void)ChipRecognition(ctx_, flag);
      break;
    case w::kVerify:
      (void)production_.Run(P::kVerify, [&] { return VerifyChip(ctx_, flag); });
      break;
    case w::kRead:
      (void)production_.Run(P::kRead, [&] { return ReadChip(ctx_); });
      break;
    case w::kAuto:
      (void)production_.Run(P::kAuto, [&] { return AutoSequence(ctx_); });
      break;
    case w::kBlankCheck:
      (void)BlankCheck(ctx_);
      break;
    case w::kFirmwareVersion:
      RunFirmwareVersion();
      break;
    case w::kChipFill:
      (void)RunChipFill(ctx_, chip_fill_);
      break;
    case w::kViewData:
      RunViewData(ctx_, view_data_);
      break;
    case w::kFirmwareUpgrade:
      (void)UpgradeFirmware(ctx_, upgrade_);
      break;
    case w::kChipTest:
      (void)ChipTest(ctx_);
      break;
    case w::kFind:
      (void)RunFindDatas(image_, find_, state_, host_, clock_, *find_view_);
      break;
    default:
      break;
  }
}

struct Program::QuietVersionRequest {
  std::mutex mutex;
  std::condition_variable answered;
  bool done = false;
  std::optional<std::uint8_t> byte;
};

void Program::RunFirmwareVersion() {
  std::shared_ptr<QuietVersionRequest> quiet;
  {
    std::lock_guard lock(quiet_version_mutex_);
    quiet.swap(quiet_version_);
  }
  if (!quiet) {
    (void)ShowFirmwareVersion(link_, packet_, host_, state_);
    return;
  }
  const std::optional<std::uint8_t> byte = ReadFirmwareVersionByte(link_, packet_);
  {
    std::lock_guard lock(quiet->mutex);
    quiet->byte = byte;
    quiet->done = true;
  }
  quiet->answered.notify_all();
}

FirmwareByteReply Program::FirmwareByteForUpdateCheck(ExchangeControl& control) {
  FirmwareByteReply reply;
  // Without a worker thread the caller is the only user of the link.
  if (!options_.worker_thread) {
    reply.byte = ReadFirmwareVersionByte(link_, packet_);
    return reply;
  }
  auto request = std::make_shared<QuietVersionRequest>();
  {
    std::lock_guard lock(quiet_version_mutex_);
    WorkerCommand idle = worker_command::kIdle;
    // Only an idle worker is handed the query; a busy one keeps the link to itself.
    if (quiet_version_ || !worker_.Idle() || state_.AnyOperationBusy() ||
        state_.bulk_mode.load() != 0 ||
        !state_.command_code.compare_exchange_strong(idle, worker_command::kFirmwareVersion)) {
      reply.busy = true;
      return reply;
    }
    quiet_version_ = request;
  }
  worker_.Resume();

  // Withdraws the request unless the worker has taken it; true when withdrawn.
  auto withdraw = [&] {
    std::lock_guard lock(quiet_version_mutex_);
    if (quiet_version_ != request) return false;
    quiet_version_.reset();
    return true;
  };
  constexpr auto kSlice = std::chrono::milliseconds(20);
  // Withdrawn at once, a request the idle worker was about to take would leave code 18
  // to run as the menu's "Firmware version" with its boxes; so a cancel or time-out
  // first gives the worker this long to take and answer it (two 100 ms reads).
  constexpr auto kStopGrace = std::chrono::milliseconds(1000);
  std::optional<std::chrono::steady_clock::time_point> give_up;
  std::unique_lock lock(request->mutex);
  while (!request->answered.wait_for(lock, kSlice, [&] { return request->done; })) {
    lock.unlock();
    // A command handed over before the worker woke has taken its turn.
    const bool overtaken = state_.command_code.load() != worker_command::kFirmwareVersion;
    const auto now = std::chrono::steady_clock::now();
    if (control.ShouldStop() && !give_up) give_up = now + kStopGrace;
    const bool stop = give_up && now >= *give_up;
    lock.lock();
    if (request->done) break;
    if ((overtaken || stop) && withdraw()) {
      reply.busy = overtaken;
      return reply;
    }
  }
  reply.byte = request->byte;
  return reply;
}

void Program::SendEndOfRun(int timeout_ms) {
  (void)SendCommand(link_, packet_, command_code::kEndOperation, timeout_ms);
}

void Program::StartUp() {
  if (options_.window_files) (void)change_log_.Prepare();
  settings_.Load();
  production_setup_.Load();
  link_.SetLinkParameters();
  packet_.SetMarks();
  // A new current chip changes the chip rows, the chip sum and the page.
  ConnectChipSelection(selection_, image_, hex_);
  LoadCatalogue();

  if (options_.device_change_notices)
    backend_.SetDeviceChangeHandler([this] { worker_.DeviceChangeNotice(); });
  // Grayed while the window is built, like the other image commands; unlike them it
  // needs no image, only a free Open (it follows Open from now on).
  if (host_.Commands().IsEnabled(control_id::kBrowse))
    host_.EnableMenuItem(control_id::kWriteFromFileAddress);
  // The worker's first run is a silent recognition, whatever the user does.
  state_.command_code.store(worker_command::kRecognition);
  state_.link_event.store(1);
  if (options_.worker_thread) {
    worker_.Start();
    worker_started_ = true;
  }
}

void Program::LoadCatalogue() {
  if (options_.catalogue != nullptr) {
    *catalogue_ = *options_.catalogue;
    if (catalogue_->Count() > 0) selection_.Initialise();
    return;
  }
  // The database must be there and openable for reading and writing.
  const int fd = ::open(options_.database.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    host_.MessageBox(kDatabaseMissing, "warning", BoxIcon::kWarning, BoxButtons::kOk);
    return;
  }
  ::close(fd);
  catalogue_->Load(options_.database, [this](std::string_view message, std::string_view title) {
    host_.MessageBox(message, title, BoxIcon::kWarning, BoxButtons::kOk);
  });
  selection_.Initialise();
}

static_assert(worker_command::kViewData == kViewDataCommand);

void Program::ViewDataOk() {
  const std::optional<ViewDataRequest> request = view_data_.Ok(image_, hex_, host_, packet_);
  if (!request) return;
  // Without a thread the worker runs on this one and is idle between commands.
  if (options_.worker_thread && !worker_.Idle()) {
    view_data_.FinishChipSide(*request, {view_data_text::kNull, view_data_text::kBusy}, host_);
    return;
  }
  worker_.Give(worker_command::kViewData);
  if (!options_.worker_thread) worker_.RunUntilIdle();
}

bool Program::GiveWhenIdle(WorkerCommand code) {
  if (state_.bulk_mode.load() != 0) {
    host_.ShowStatus(kBulkModeHoldsTheProgrammer, true, true);
    return false;
  }
  // Without a thread the worker runs on this one and is idle between commands.
  if (options_.worker_thread && !worker_.Idle()) {
    host_.ShowStatus(kProgrammerBusy, true, true);
    return false;
  }
  worker_.Give(code);
  if (!options_.worker_thread) worker_.RunUntilIdle();
  return true;
}

void Program::ShowHelpContents(
    const std::function<bool(const std::filesystem::path&)>& open_with_viewer,
    const ShowManualHere& show_here) {
  tarvix::ShowHelpContents(host_, state_.paths.base, open_with_viewer, show_here);
}

bool Program::CloseWindow() {
  if (!BeginClose()) return false;
  worker_.Stop();
  FinishClose();
  return true;
}

bool Program::BeginClose() {
  if (state_.busy_erasing.load() != 0) {
    if (!AskToLeave(host_, kCloseWhileErasing)) return false;
    state_.stop_erase.store(1);
    (void)SendCommand(link_, packet_, command_code::kEndOperation, kCloseEndTimeoutMs);
  }
  if (state_.busy_writing.load() != 0) {
    if (!AskToLeave(host_, kCloseWhileWriting)) return false;
    state_.stop_write.store(1);
  }
  if (state_.busy_verifying.load() != 0) {
    if (!AskToLeave(host_, kCloseWhileVerifying)) return false;
    // Told first, the verify asks for no block the programmer will no longer send.
    state_.stop_verify.store(1);
    (void)SendCommand(link_, packet_, command_code::kEndOperation, kCloseEndTimeoutMs);
  }
  if (state_.busy_reading.load() != 0) {
    if (!AskToLeave(host_, kCloseWhileReading)) return false;
    state_.read_abandoned.store(1);
    (void)SendCommand(link_, packet_, command_code::kEndOperation, kCloseEndTimeoutMs);
  }
  // The worker is waited for before anything it uses is closed, so every operation
  // must end at its next check: verify included, which would otherwise stream on
  // through a chip the programmer was told to abandon. Bulk mode must not start
  // another run either.
  state_.stop_verify.store(1);
  state_.stop_blank.store(1);
  // A fill stops between blocks, where no block is half rewritten.
  chip_fill_.RequestStop();
  state_.bulk_mode.store(0);
  if (options_.device_change_notices) backend_.SetDeviceChangeHandler(nullptr);
  worker_.RequestExit();
  return true;
}

void Program::FinishClose() {
  worker_.Stop();  // has ended already: this only joins the thread
  if (link_.IsOpen()) (void)link_.CloseDevice();
  if (image_.Loaded()) image_.Close();
  std::error_code ec;
  std::filesystem::remove(state_.paths.temp_folder / kScratchFileName, ec);
  // Fails, as it should, while the folder holds anything else.
  std::filesystem::remove(state_.paths.temp_folder, ec);
}

}  // namespace tarvix
