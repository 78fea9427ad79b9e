// SPDX-License-Identifier: GPL-3.0-or-later
// The command line as a script or a user may type it: the words (NUL-separated in the
// input) parsed into the global options, the command and its arguments, and a chip
// command's arguments (verify's --diff, auto's bulk and serial-number options).
#include <cstdint>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/chip_commands.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvix::cli;
  tarvix::fuzz::FuzzInput in(data, size);
  std::vector<std::string> words = {"tarvix-cli"};
  while (!in.Empty() && words.size() < 64) words.emplace_back(in.Text('\0'));
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  Options options;
  const int status = ParseArguments(static_cast<int>(words.size()), argv.data(), options);
  FUZZ_CHECK(status == 0 || status == -1 || status == kExitUsage);
  if (status != 0 || options.command.empty()) return 0;
  const std::size_t before = options.args.size();
  const Command* found = FindCommand(options);
  if (found != nullptr) {
    FUZZ_CHECK(found->name == options.command || options.args.size() + 1 == before);
    FUZZ_CHECK(found->name.starts_with(options.command));
  } else {
    FUZZ_CHECK(options.args.size() == before);
  }
  FUZZ_CHECK(options.sim_timing == "instant" || options.sim_timing == "realistic");
  if (found == nullptr) return 0;
  const std::pair<const char*, ChipCommand> kChipCommands[] = {
      {"read", ChipCommand::kRead}, {"verify", ChipCommand::kVerify}, {"auto", ChipCommand::kAuto}};
  for (const auto& [name, command] : kChipCommands) {
    if (found->name != name) continue;
    ChipArgs args;
    if (!ParseChipArgs(command, options.args, args).empty()) return 0;
    FUZZ_CHECK(!args.file.empty());
    FUZZ_CHECK(!args.diff || command == ChipCommand::kVerify);
    FUZZ_CHECK(args.swap_ms >= kMinimumSwapMs);
    if (args.serial) {
      FUZZ_CHECK(args.bulk && command == ChipCommand::kAuto);
      FUZZ_CHECK(args.serial->width >= 1 && args.serial->step > 0);
    }
  }
  return 0;
}
