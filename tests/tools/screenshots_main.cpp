// SPDX-License-Identifier: GPL-3.0-or-later
// tarvix_screenshots OUTDIR [window options]: the real window, started as `tarvix`
// starts it, with the screenshot tour driving it; one PNG per state in OUTDIR.
// scripts/screenshots runs it under Xvfb.
#include <cstdio>
#include <functional>

#include "gui/main_window.h"
#include "gui/window_program.h"
#include "tools/screenshot_tour.h"

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: tarvix_screenshots OUTDIR [tarvix options]\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  // The window's own options follow the folder.
  argv[1] = argv[0];
  return tarvix::gui::RunWindowProgram(
      argc - 1, argv + 1,
      [folder](tarvix::gui::MainWindow& window, tarvix::gui::SimulatorMenu* simulator) {
        auto* tour = new tarvix::gui::ScreenshotTour(window, simulator, folder);
        tour->setParent(&window);
        tour->Start();
        return std::function<int()>([tour] { return tour->Result(); });
      });
}
