// The real main window over a Program on the simulated programmer, in a scratch
// folder, with boxes answered from a script and sounds recorded instead of played.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/program.h"
#include "gui/dialogs.h"
#include "gui/main_window.h"
#include "gui/qt_host.h"
#include "gui/simulator_menu.h"
#include "sim/sim_setup.h"

namespace tarvix::gui::testing {

struct ShownBox {
  std::string text;
  std::string title;
  BoxButtons buttons;
};

class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class WindowFixture : public ::testing::Test {
 protected:
  WindowFixture();
  ~WindowFixture() override;

  // Builds program and window; `model` is the chip in the simulated socket.
  void Open(sim::Timing timing = sim::Timing::kInstant, bool with_database = true,
            const std::string& model = "EN25F32");
  // Destroys window and program as the process end would (after a close).
  void Reopen();
  void Destroy();
  // Waits (running the event loop) until `ready`; false on time-out.
  template <typename Ready>
  bool WaitFor(Ready ready, int ms = 20000) {
    return QTest::qWaitFor(ready, ms);
  }
  bool WaitIdle(int ms = 20000);
  // An image file of `size` bytes with a pattern.
  std::filesystem::path MakeImage(const std::string& name, std::size_t size);
  [[nodiscard]] std::string Status() const { return host_->Status().text; }
  [[nodiscard]] std::string Caption(int id) const;
  [[nodiscard]] bool BoxShown(const std::string& text) const;
  [[nodiscard]] Dialogs& D() { return window_->TheDialogs(); }
  // Opens a dialog as its menu item does.
  void Menu(int id);
  // Lets closed dialogs go (they delete themselves once the event loop gets to it).
  static void Settle();

  ScratchFolder dir_;
  ChipCatalogue catalogue_;
  std::optional<sim::Simulator> sim_;
  std::unique_ptr<QtHost> host_;
  std::unique_ptr<Program> program_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<SimulatorMenu> sim_menu_;
  std::deque<BoxAnswer> answers_;  // scripted answers; unscripted boxes get OK or Yes
  std::vector<ShownBox> boxes_;
  std::vector<std::filesystem::path> sounds_;
  sim::Timing timing_ = sim::Timing::kInstant;
  std::string model_;
  bool with_database_ = true;
};

}  // namespace tarvix::gui::testing
