// SPDX-License-Identifier: GPL-3.0-or-later
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

// The whole of a file ("" when there is none).
[[nodiscard]] std::string ReadFile(const std::filesystem::path& path);
// The fixture's image pattern: byte i of MakeImage's files is (7i + 3) mod 256.
[[nodiscard]] std::uint8_t PatternByte(std::size_t i);

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
  // `programmers` simulated programmers share the bus, each with such a chip.
  void Open(sim::Timing timing = sim::Timing::kInstant, bool with_database = true,
            const std::string& model = "EN25F32", int programmers = 1);
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

  // ---- a user's hands ------------------------------------------------------------
  // A key as the window gets it (its key table looks at every key first).
  void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
  // A click on a button of the layout.
  void Click(int button_id);
  // The menu item with this caption ("&Save"), chosen from the menu bar.
  void Choose(const std::string& caption);
  // Ctrl+O, the open dialog answered with `path`.
  void OpenFile(const std::filesystem::path& path);
  // Edit mode on (its check box) if it is off, a click on the cell, then typing.
  void TypeIntoCell(int row, int column, const char* text);
  // The next answer of a file dialog (open, save, folder); unscripted ones are Cancel.
  void WillChoose(const std::filesystem::path& path) {
    chosen_.push_back(QString::fromStdString(path.string()));
  }

  // ---- what the user sees and has -------------------------------------------------
  [[nodiscard]] std::string PathBox() const;
  [[nodiscard]] std::string Title() const { return window_->windowTitle().toStdString(); }
  [[nodiscard]] bool Grayed(int id) const;
  // The chip in the simulated socket (null when it is empty).
  [[nodiscard]] sim::VirtualChip* SocketChip() const { return sim_->bus->Programmer().chip(); }
  [[nodiscard]] std::string ChipBytes(std::size_t count) const;
  // Records in the operation log, and the log's text.
  [[nodiscard]] std::size_t ChangeLogRecords() const;
  [[nodiscard]] std::string ChangeLogText() const;
  // Lets closed dialogs go (they delete themselves once the event loop gets to it).
  static void Settle();

  ScratchFolder dir_;
  ChipCatalogue catalogue_;
  std::optional<sim::Simulator> sim_;
  std::unique_ptr<QtHost> host_;
  std::unique_ptr<Program> program_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<SimulatorMenu> sim_menu_;
  std::deque<BoxAnswer> answers_;      // scripted answers; unscripted boxes get OK or Yes
  std::deque<QString> chosen_;         // scripted file dialog answers
  std::vector<QString> file_dialogs_;  // the filter of every file dialog shown
  std::vector<QUrl> opened_urls_;      // what the desktop was asked to open
  std::vector<ShownBox> boxes_;
  std::vector<std::filesystem::path> sounds_;
  sim::Timing timing_ = sim::Timing::kInstant;
  std::string model_;
  bool with_database_ = true;
};

}  // namespace tarvix::gui::testing
