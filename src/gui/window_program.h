// SPDX-License-Identifier: GPL-3.0-or-later
// The window program from its command line to its end: the options, the programmer
// (real or simulated), the Program and its main window, the event loop. `tarvix` is
// this and nothing more; tools of the test tree run the same start-up and add their
// own part once the window shows.
#pragma once

#include <functional>

namespace tarvix::gui {

class MainWindow;
class SimulatorMenu;

// Runs once the window shows and the program has started (`simulator` is null on
// the real programmer). What it returns, when set, gives the exit status at the end.
using AfterStart =
    std::function<std::function<int()>(MainWindow& window, SimulatorMenu* simulator)>;

// The one line said, with exit status 1, when there is no display to show the window on.
inline constexpr char kNoDisplay[] =
    "no display found (DISPLAY and WAYLAND_DISPLAY name none that answers); "
    "tarvix-cli works without one";

// `argv[0]` names the program in its messages.
int RunWindowProgram(int argc, char** argv, const AfterStart& after_start = {});

}  // namespace tarvix::gui
