// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/chip_session.h"

#include <unistd.h>

#include <iostream>

#include "device/command_protocol.h"
#include "operations/verify.h"

namespace tarvix::cli {

namespace w = worker_command;

BoxAnswer OperationHost::MessageBox(std::string_view text, std::string_view title, BoxIcon icon,
                                    BoxButtons buttons) {
  if (yes_ && buttons == BoxButtons::kYesNoCancel && title == kVerifyMismatchTitle) {
    if (mismatch_shown_) return BoxAnswer::kNo;
    mismatch_shown_ = true;
    CliHost::MessageBox(text, title, icon, BoxButtons::kOk);
    return BoxAnswer::kNo;
  }
  return CliHost::MessageBox(text, title, icon, buttons);
}

ChipSession::ChipSession(Context& context) : context_(context) {}

std::unique_ptr<ChipSession> ChipSession::Open(Context& c, bool catalogue_required) {
  if (c.catalogue().Count() == 0 && !c.LoadCatalogue() && catalogue_required) return nullptr;
  std::unique_ptr<ChipSession> s(new ChipSession(c));
  std::optional<Device> device = MakeDevice(c);
  if (!device) return nullptr;
  s->device_ = std::move(*device);
  s->host_ = std::make_unique<OperationHost>(CliHostOptions::FromTerminal(c.options().yes),
                                             c.options().yes);
  ProgramOptions options;
  options.base = std::filesystem::current_path();
  options.catalogue = &c.catalogue();
  options.worker_thread = false;
  options.device_change_notices = false;
  options.window_files = false;
  s->program_ =
      std::make_unique<Program>(options, *s->device_.backend, *s->device_.clock, *s->host_);
  if (c.options().chip) {
    s->named_.record = c.state().selected_chip_index.load();
    s->named_.how = "--chip " + *c.options().chip;
  }
  ChipSession* self = s.get();
  s->interrupts_ = std::make_unique<InterruptWatch>([self] { self->StopEverything(); },
                                                    [self] { self->Leave(); });
  return s;
}

ChipSession::~ChipSession() {
  interrupts_.reset();
  if (program_ && program_->Link().IsOpen()) (void)program_->Link().CloseDevice();
  if (!FinishTrace(device_, context_.options())) context_.FailAfterwards();
}

void ChipSession::StopEverything() {
  host_->SetInterrupted();
  MainState& state = program_->State();
  state.bulk_mode.store(0);
  for (auto* stop : {&state.stop_write, &state.stop_erase, &state.stop_verify, &state.stop_read,
                     &state.stop_blank})
    stop->store(1);
  program_->ChipFill().RequestStop();
  program_->Upgrade().RequestStop();
}

void ChipSession::Leave() {
  {
    std::lock_guard lock(partial_mutex_);
    if (!partial_file_.empty()) ::unlink(partial_file_.c_str());
  }
  // As the window's close does: a programmer left in the middle of a transfer is told
  // that the operation is over.
  MainState& state = program_->State();
  if (state.AnyOperationBusy() && program_->Link().IsOpen())
    (void)SendCommand(program_->Link(), program_->Packet(), command_code::kEndOperation,
                      kCloseEndTimeoutMs);
  const std::string line =
      std::string(::isatty(STDERR_FILENO) == 1 ? "\r\x1b[K" : "\n") + kInterrupted + "\n";
  (void)!::write(STDERR_FILENO, line.data(), line.size());
  if (context_.options().json) {
    const std::string json = "{\"ok\":false,\"status\":\"\",\"interrupted\":true}\n";
    (void)!::write(STDOUT_FILENO, json.data(), json.size());
  }
}

void ChipSession::SetPartialFile(const std::filesystem::path& path) {
  std::lock_guard lock(partial_mutex_);
  partial_file_ = path.string();
}

void ChipSession::StartUp() {
  program_->StartUp();
  program_->SetOperation(w::kRecognition, [this] {
    recognition_ = ChipRecognition(program_->Context(), true, &findings_);
  });
  program_->TheWorker().RunUntilIdle();
  // The record the user named stays the one worked on, whatever recognition selected.
  if (named_.record >= 0) program_->Selection().SelectRecord(named_.record);
}

bool ChipSession::ChipSettled() {
  const bool auto_recognize = program_->SettingsMenu().IsOn(SettingItem::kAutoRecognize);
  const ChipIdentification id =
      JudgeChip(program_->Catalogue(), recognition_, findings_, auto_recognize, named_);
  if (!id.settled) {
    host_->BreakLine();
    std::cerr << "tarvix-cli: " << id.refusal << "\n";
    return false;
  }
  settled_record_ = id.record;
  if (id.record >= 0 && program_->State().selected_chip_index.load() != id.record)
    program_->Selection().SelectRecord(id.record);
  return true;
}

std::string ChipSession::CheckSwappedChip() {
  RecognitionFindings found;
  const int result = ChipRecognition(program_->Context(), true, &found);
  ChipNaming run = named_;
  if (run.record < 0 && settled_record_ >= 0) {
    run.record = settled_record_;
    run.how = "this run's chip " +
              program_->Catalogue().Record(static_cast<std::uint32_t>(settled_record_)).model;
  }
  const bool auto_recognize = program_->SettingsMenu().IsOn(SettingItem::kAutoRecognize);
  const ChipIdentification id =
      JudgeChip(program_->Catalogue(), result, found, auto_recognize, run);
  // The next chip is judged against the run's record again.
  if (run.record >= 0 && program_->State().selected_chip_index.load() != run.record)
    program_->Selection().SelectRecord(run.record);
  return id.settled ? std::string() : id.refusal;
}

void ChipSession::Run(WorkerCommand code, Worker::Operation operation) {
  program_->SetOperation(code, std::move(operation));
  program_->TheWorker().Give(code);
  program_->TheWorker().RunUntilIdle();
}

int ChipSession::InterruptedExit() {
  host_->BreakLine();
  std::cerr << kInterrupted << "\n";
  return kExitInterrupted;
}

}  // namespace tarvix::cli
