// SPDX-License-Identifier: GPL-3.0-or-later
// What the commands that talk to the programmer share: the programmer connection, the
// terminal host, the Program (start-up, worker and operations, run as the window runs
// them, after-run steps included) and Ctrl-C. The worker runs on the calling thread
// (Worker::RunUntilIdle), so the tool ends when the worker goes idle.
//
// The command line keeps to its own files: it makes none of the window's private
// files ("k_est0.dll", "k_est1.dll", "temp", the change log) and reads the settings
// file "kest2.dll" of the current directory when one is there, never creating it. The
// chip commands stream the user's files themselves (OperationContext::source and
// read_sink).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "app/program.h"
#include "cli/chip_identification.h"
#include "cli/cli_context.h"
#include "cli/cli_host.h"
#include "cli/device_setup.h"
#include "cli/interrupt_watch.h"
#include "operations/recognition.h"

namespace tarvix::cli {

// The tool's host for operations. A verify that finds a run of differences would ask
// once per byte; with --yes the first difference is shown and the rest only counted.
class OperationHost final : public CliHost {
 public:
  OperationHost(CliHostOptions options, bool yes) : CliHost(std::move(options)), yes_(yes) {}
  BoxAnswer MessageBox(std::string_view text, std::string_view title, BoxIcon icon,
                       BoxButtons buttons) override;

 private:
  bool yes_ = false;
  bool mismatch_shown_ = false;
};

class ChipSession {
 public:
  // Builds the programmer connection and the program. With `catalogue_required` a
  // missing chip database is an error; without, the start-up goes on with an empty
  // catalogue, as the window does. Prints the reason and returns null on failure.
  static std::unique_ptr<ChipSession> Open(Context& context, bool catalogue_required);
  ~ChipSession();
  ChipSession(const ChipSession&) = delete;
  ChipSession& operator=(const ChipSession&) = delete;

  [[nodiscard]] Program& program() { return *program_; }
  [[nodiscard]] OperationHost& host() { return *host_; }
  [[nodiscard]] Device& device() { return device_; }
  [[nodiscard]] OperationContext& ctx() { return program_->Context(); }

  // Start-up as the window does it (settings, lists, then the silent recognition of
  // the chip in the socket). The record --chip names is selected again afterwards.
  void StartUp();
  [[nodiscard]] int RecognitionResult() const { return recognition_; }
  [[nodiscard]] const RecognitionFindings& Findings() const { return findings_; }

  // For the commands that read or change a chip: true when --chip names the chip in
  // the socket or recognition identified it; otherwise prints why and returns false.
  [[nodiscard]] bool ChipSettled();
  // The record the run works on (named or identified), -1 before ChipSettled.
  [[nodiscard]] std::int32_t SettledRecord() const { return settled_record_; }
  // Recognises the chip now in the socket again and judges it against the run's
  // record (bulk mode, for every further chip); the refusal when it does not fit.
  [[nodiscard]] std::string CheckSwappedChip();

  // Runs `operation` as worker command `code`, then the worker's after-run steps.
  void Run(WorkerCommand code, Worker::Operation operation);

  [[nodiscard]] bool Interrupted() const { return interrupts_ && interrupts_->Interrupted(); }
  // Prints "interrupted" (and, with --json, an object saying so) and returns 130.
  int InterruptedExit();

  // A file being written that a second Ctrl-C must not leave behind half-written
  // (empty path: none).
  void SetPartialFile(const std::filesystem::path& path);

 private:
  explicit ChipSession(Context& context);
  void StopEverything();
  void Leave();

  Context& context_;
  Device device_;
  std::unique_ptr<OperationHost> host_;
  std::unique_ptr<Program> program_;
  int recognition_ = kNoProgrammer;
  RecognitionFindings findings_;
  ChipNaming named_;
  std::int32_t settled_record_ = -1;
  std::mutex partial_mutex_;
  std::string partial_file_;
  // Last: it calls into everything above and must end first.
  std::unique_ptr<InterruptWatch> interrupts_;
};

// The text of the interrupted line (also for the JSON of a second Ctrl-C).
inline constexpr char kInterrupted[] = "interrupted";

}  // namespace tarvix::cli
