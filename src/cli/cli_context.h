// SPDX-License-Identifier: GPL-3.0-or-later
// What every tarvix-cli command works with: the global options, the catalogue and
// the selected chip. Commands live one group per file and register themselves.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "buffer/load_file_format.h"
#include "catalogue/chip_catalogue.h"
#include "catalogue/chip_selection.h"
#include "cli/file_reasons.h"
#include "device/command_packet.h"
#include "state/main_state.h"

namespace tarvix::cli {

// Exit statuses of the tool.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

struct Options {
  bool simulate = false;
  std::string sim_model;  // empty: the default simulated chip
  std::string sim_image;
  std::string sim_timing = "instant";
  bool sim_dfu = false;  // the simulated programmer starts in its update mode
  int sim_programmers = 1;  // programmers on the simulated bus (--sim-image is then a folder)
  std::string database;
  std::optional<std::string> type, manufacturer, chip;
  bool yes = false;
  bool json = false;
  std::string trace;
  // The format of the image file of read, write, verify and auto; none: its name or
  // its content decides.
  std::optional<FileFormatChoice> format;
  std::string log;                 // the production log; empty: none is kept
  std::optional<std::string> lot;  // recorded with each chip; log show's filter
  std::string command;
  std::vector<std::string> args;  // the command's own arguments
};

class Context {
 public:
  explicit Context(Options options);

  const Options& options() const { return options_; }
  MainState& state() { return state_; }
  ChipCatalogue& catalogue() { return *catalogue_; }
  CommandPacket& packet() { return packet_; }
  ChipSelection& selection() { return *selection_; }

  // Loads the catalogue (from --database, ./database.dat or the installed copy) and
  // applies --type/--manufacturer/--chip. Prints the reason and returns false on failure.
  bool LoadCatalogue();
  // The one check of a command's files (CheckNamedFiles), with those of the global
  // options it uses: the chip database as an input when it reads the `catalogue`;
  // --trace and --sim-image as outputs when it talks to the `programmer`.
  [[nodiscard]] bool CheckFiles(std::vector<NamedFile> inputs, std::vector<NamedFile> outputs,
                                bool catalogue, bool programmer) const;
  // True when --chip (or --type/--manufacturer) picked the record explicitly.
  bool ChipChosen() const { return options_.chip.has_value(); }
  // A failure found after the command's result was reported (a trace that could not
  // be written): the run then ends with kExitFailed all the same.
  void FailAfterwards() { failed_afterwards_ = true; }
  [[nodiscard]] bool FailedAfterwards() const { return failed_afterwards_; }

 private:
  Options options_;
  MainState state_;
  std::unique_ptr<ChipCatalogue> catalogue_;
  CommandPacket packet_;
  std::unique_ptr<ChipSelection> selection_;
  bool failed_afterwards_ = false;
};

struct Command {
  std::string name;   // "chips", "db pack", ...
  std::string usage;  // one line for the help text
  std::function<int(Context&)> run;
};

// Adds a command; used through a static Registration in each command file.
void RegisterCommand(Command command);
const std::vector<Command>& Commands();

struct Registration {
  explicit Registration(Command command) { RegisterCommand(std::move(command)); }
};

// Up to `most` catalogue model names closest to `model` (letter case aside), closest
// first: for a --chip or --simulate name that matches no record.
[[nodiscard]] std::vector<std::string> NearestModels(const ChipCatalogue& catalogue,
                                                     std::string_view model, std::size_t most);

// Usage error: prints the message and the usage line, returns kExitUsage.
int UsageError(const std::string& message);

// JSON string literal for `text`: valid UTF-8 kept, control characters escaped, and
// every byte that is no UTF-8 replaced by U+FFFD, so the output is always valid JSON.
std::string JsonString(const std::string& text);
[[nodiscard]] inline const char* JsonBool(bool b) {
  return b ? "true" : "false";
}

}  // namespace tarvix::cli
