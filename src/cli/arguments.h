// SPDX-License-Identifier: GPL-3.0-or-later
// The command line split into the global options, the command and its arguments.
#pragma once

#include "cli/cli_context.h"

namespace tarvix::cli {

// Fills `options` from argv. 0 when the command may run; -1 when --help or
// --version printed what they print; kExitUsage after a usage error.
[[nodiscard]] int ParseArguments(int argc, char** argv, Options& options);

// The registered command `options` names; a two-word command ("db pack") takes its
// second word out of the arguments. Nothing for an unknown command.
[[nodiscard]] const Command* FindCommand(Options& options);

// A usage error (kExitUsage, said) when a global option is given to a command that
// has no use for it (--format, --log, --lot); 0 otherwise. A production option must
// never look as if it had been obeyed.
[[nodiscard]] int CheckOptionsFit(const Command& command, const Options& options);

}  // namespace tarvix::cli
