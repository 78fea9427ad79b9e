// SPDX-License-Identifier: GPL-3.0-or-later
// tarvix-cli: the core driven from a shell, for scripts and production lines.
#include <exception>
#include <iostream>

#include "cli/arguments.h"
#include "cli/cli_context.h"
#include "cli/terminal_output.h"

namespace tarvix::cli {
namespace {

int Main(int argc, char** argv) {
  GuardTerminal();
  Options options;
  if (const int status = ParseArguments(argc, argv, options); status != 0)
    return status < 0 ? kExitOk : status;
  if (options.command.empty()) return UsageError("no command given");
  const Command* found = FindCommand(options);
  if (found == nullptr) return UsageError("unknown command " + options.command);
  if (const int status = CheckOptionsFit(*found, options); status != 0) return status;
  Context context(std::move(options));
  const int status = found->run(context);
  return status == kExitOk && context.FailedAfterwards() ? kExitFailed : status;
}

}  // namespace
}  // namespace tarvix::cli

int main(int argc, char** argv) {
  // Whatever slipped through is said in words, never as an abort.
  try {
    return tarvix::cli::Main(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "tarvix-cli: " << e.what() << "\n";
  } catch (...) {
    std::cerr << "tarvix-cli: an unexpected error ended the run\n";
  }
  return tarvix::cli::kExitFailed;
}
