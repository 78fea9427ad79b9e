// SPDX-License-Identifier: GPL-3.0-or-later
// The window's command line: the simulated programmer (--simulate[=MODEL],
// --sim-image FILE, --sim-timing instant|realistic, realistic by default here) and
// the usage text.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/sim_setup.h"

namespace tarvix::gui {

struct GuiOptions {
  bool simulate = false;
  sim::SimulatorOptions sim{"", "", sim::Timing::kRealistic};
  bool help = false;
};

// Parses the arguments after the program name; nothing with the reason on a usage error.
[[nodiscard]] std::optional<GuiOptions> ParseGuiOptions(const std::vector<std::string>& args,
                                                        std::string* error);

inline constexpr char kGuiUsage[] =
    "usage: tarvix [--simulate[=MODEL]] [--sim-image FILE] [--sim-timing instant|realistic]\n"
    "              [--sim-programmers K]\n"
    "  --simulate[=MODEL]  run on the simulated programmer with MODEL in its socket\n"
    "                      (a catalogue model; \"none\" for an empty socket)\n"
    "  --sim-image FILE    the simulated chip's contents live in FILE\n"
    "  --sim-timing T      instant, or realistic (the default): USB 2.0 and chip speeds\n"
    "  --sim-programmers K K simulated programmers on the bus (Operate > Gang)\n"
    "The program finds database.dat, kest2.dll and sound/ in the current directory.\n";

}  // namespace tarvix::gui
