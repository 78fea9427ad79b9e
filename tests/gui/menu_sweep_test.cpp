// SPDX-License-Identifier: GPL-3.0-or-later
// The menu sweep: in each main state of the window (no image, an image loaded, a chip
// read and not yet saved, an operation running, bulk mode waiting for a chip) every
// enabled menu item and every
// enabled button is used once, and each must do something the user can see: a dialog
// or box, a file dialog, a change of the window's texts, captions, marks or states, a
// status or log line. Where the caption names what it does, what appears must be that.
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <map>
#include <set>

#include "buffer/change_log.h"
#include "gui/image_button.h"
#include "gui/window_fixture.h"
#include "state/control_ids.h"

namespace tarvix::gui::testing {
namespace {

namespace c = control_id;

// What the user can see of the window and the program's surroundings.
struct Sight {
  std::vector<std::string> controls;  // text, enabled and check mark of every control
  std::vector<std::string> actions;   // enabled and check mark of every menu item
  std::vector<std::string> dialogs;   // titles of the other windows on screen
  std::string status, title, path_box;
  std::vector<std::string> log;  // the log pane, time stamps left out
  std::size_t boxes = 0, file_dialogs = 0, urls = 0;
  bool closed = false;

  bool operator==(const Sight&) const = default;
};

// What a menu item or button must bring up, by its caption: any of these texts, in a
// dialog's title, a box, a status or log line, a file dialog's filter or an opened file.
const std::map<std::string, std::vector<std::string>>& Marks() {
  static const std::map<std::string, std::vector<std::string>> kMarks = {
      {"&Open", {"*.cap"}},
      {"brower", {"*.cap"}},
      {"Save &As", {"bin(*.bin)"}},
      {"&Save", {"bin(*.bin)", "file saved"}},
      {"&Edit Mode", {"mode selected"}},
      {"&Auto", {"auto", "file is not opened"}},
      {"Auto(F9)", {"auto", "file is not opened"}},
      {"&Erase", {"erased"}},
      {"Erase(F4)", {"erased"}},
      {"&Write", {"overwritten"}},
      {"Write(F6)", {"overwritten"}},
      {"&Verify", {"verif", "file is not opened"}},
      {"Verify(F8)", {"verif", "file is not opened"}},
      {"&Blank", {"blank"}},
      {"Blank(F3)", {"blank"}},
      {"&Read", {"read"}},
      {"&Gang...", {"gang"}},
      {"Read(F7)", {"read"}},
      {"&Test Chip", {"find"}},
      {"Test(F5)", {"find"}},
      {"&Move To", {"move to specify addr"}},
      {"&View Data", {"view data"}},
      {"Find &Datas", {"find datas"}},
      {"File &Fill", {"fill file data"}},
      {"&Chip Fill", {"fill chip data"}},
      {"Write from specify file addr...", {"write from specify file addr"}},
      {"Files Combine", {"files combine"}},
      {"&Checksums", {"crc-32", "image: none loaded"}},
      {"&Difference List", {"difference list"}},
      {"Production &Log", {"production log"}},
      {"Serial &Numbers...", {"serial numbers"}},
      {"File Division", {"file division"}},
      {"&Firmware Version", {"firmware"}},
      {"Firmware &Upgrade", {"firmware upgrade"}},
      {"&Contents", {"vrnt_tarvix.html"}},
      {"Check &New", {"version", "check"}},
      {"Operate log", {"修改记录.txt"}},
      {"&Feedback", {"feedback"}},
      {"&About Us", {"about vrnt_tarvix"}},
  };
  return kMarks;
}

// Every item of the menu bar's menus and their submenus, in menu order.
std::vector<QAction*> MenuItems(QMenuBar* bar) {
  std::vector<QAction*> items;
  std::function<void(QMenu*)> walk = [&](QMenu* menu) {
    for (QAction* a : menu->actions()) {
      if (a->menu() != nullptr) {
        walk(a->menu());
      } else if (!a->isSeparator()) {
        items.push_back(a);
      }
    }
  };
  for (QAction* top : bar->actions())
    if (top->menu() != nullptr) walk(top->menu());
  return items;
}

enum class WindowState { kNoImage, kImage, kChipRead, kRunning, kBulkWaiting };

const char* Name(WindowState state) {
  switch (state) {
    case WindowState::kNoImage:
      return "no image";
    case WindowState::kImage:
      return "an image loaded";
    case WindowState::kChipRead:
      return "a chip read, not saved";
    case WindowState::kRunning:
      return "an erase running";
    case WindowState::kBulkWaiting:
      return "bulk mode waiting";
  }
  return "";
}

class MenuSweep : public WindowFixture, public ::testing::WithParamInterface<WindowState> {
 protected:
  // Builds the state afresh: a new program over a new simulator, settings as shipped.
  void Enter() {
    Destroy();
    std::filesystem::remove(dir_.path() / "kest2.dll");
    const WindowState state = GetParam();
    Open(state == WindowState::kRunning ? sim::Timing::kRealistic : sim::Timing::kInstant);
    std::filesystem::copy_file(
        std::filesystem::path(TARVIX_DATABASE_DAT).parent_path() / "VRNT_Tarvix.html",
        dir_.path() / "VRNT_Tarvix.html", std::filesystem::copy_options::overwrite_existing);
    UpdateCheckConfig unreachable = UpdateCheckConfig::Default();
    unreachable.url = "http://127.0.0.1:1/version.txt";
    D().SetUpdateCheckConfig(unreachable);
    sim_menu_->SetModelChooser([this](const QStringList&, const QString&) {
      ++model_questions_;
      return QString();
    });
    if (state == WindowState::kChipRead) {
      Press(Qt::Key_F7);
      ASSERT_TRUE(WaitIdle());
    }
    if (state != WindowState::kNoImage && state != WindowState::kChipRead)
      OpenFile(MakeImage("image.bin", 4096));
    if (state == WindowState::kImage) Click(c::kEditModeBox);  // File Fill needs it
    if (state == WindowState::kRunning) {
      Press(Qt::Key_F4);
      ASSERT_TRUE(WaitFor([&] { return Caption(c::kErase) == "Stop erase(F4)"; }));
    }
    if (state == WindowState::kBulkWaiting) {
      Press(Qt::Key_F2);
      ASSERT_TRUE(WaitFor([&] { return Status() == "waiting for a chip"; }));
    }
    QApplication::processEvents();
  }

  [[nodiscard]] bool Bulk() const { return program_->State().bulk_mode.load() != 0; }

  // The state still holds (an item may have ended or changed it).
  [[nodiscard]] bool InState() {
    if (window_ == nullptr || window_->Closed() ||
        !program_->ReportingHost().Commands().IsEnabled(c::kBulkMode))
      return false;
    const bool image = program_->Image().Loaded() &&
                       program_->Image().CurrentPath().filename() == "image.bin" &&
                       !program_->Files().HasUnsavedChanges();
    const bool busy = program_->ReportingHost().Commands().AnyBusy();
    const bool bulk = program_->State().bulk_mode.load() != 0;
    bool settings = true;
    for (int id : {32809, 32811, 32820, 32821, 32822})
      settings &= window_->MenuAction(id)->isChecked();
    if (!settings || SocketChip() == nullptr || !sim_->bus->IsPresent()) return false;
    switch (GetParam()) {
      case WindowState::kNoImage:
        return !program_->Image().Loaded() && !busy && !bulk && program_->TheWorker().Idle();
      case WindowState::kImage:
        return image && program_->Hex().EditMode() && !busy && !bulk &&
               program_->TheWorker().Idle();
      case WindowState::kChipRead:
        return program_->Image().Loaded() && PathBox() == "unsaved chip datas!" && !busy && !bulk &&
               program_->TheWorker().Idle();
      case WindowState::kRunning:
        return image && Caption(c::kErase) == "Stop erase(F4)" && !bulk;
      case WindowState::kBulkWaiting:
        return image && bulk && !busy;
    }
    return false;
  }

  [[nodiscard]] Sight Look() const {
    Sight s;
    for (const LayoutItem& item : MainWindowLayout()) {
      QWidget* w = window_->Control(item.id);
      if (w == nullptr || item.id == 1031) continue;  // the progress bar moves by itself
      std::string text;
      if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        text = b->text().toStdString() + (b->isChecked() ? "+" : "-");
      } else if (auto* l = qobject_cast<QLabel*>(w)) {
        text = l->text().toStdString();
      } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        text = e->text().toStdString();
      }
      s.controls.push_back(std::to_string(item.id) + ":" + text + (w->isEnabled() ? "E" : "D") +
                           (w->isVisible() ? "V" : "H"));
    }
    for (QAction* a : MenuItems(window_->menuBar()))
      s.actions.push_back(a->text().toStdString() + (a->isEnabled() ? "E" : "D") +
                          (a->isChecked() ? "+" : "-"));
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w != window_.get() && w->isVisible() && qobject_cast<QMenu*>(w) == nullptr)
        s.dialogs.push_back(w->windowTitle().toStdString());
    std::sort(s.dialogs.begin(), s.dialogs.end());
    s.status = Status() + (host_->Status().red ? "!" : "");
    s.title = Title();
    s.path_box = PathBox();
    static const QRegularExpression stamp("^\\d+:\\d+:\\d+\\s*");
    for (const QString& line : window_->LogPane()->toPlainText().split('\n'))
      s.log.push_back(QString(line).remove(stamp).toStdString());
    s.boxes = boxes_.size();
    s.file_dialogs = file_dialogs_.size();
    s.urls = opened_urls_.size();
    s.closed = window_->Closed();
    return s;
  }

  // Every text that came up between two sights, lower-cased.
  [[nodiscard]] std::string NewTexts(const Sight& before, const Sight& after) const {
    std::string texts;
    for (std::size_t i = before.boxes; i < boxes_.size(); ++i) texts += boxes_[i].text + "\n";
    for (std::size_t i = before.file_dialogs; i < file_dialogs_.size(); ++i)
      texts += file_dialogs_[i].toStdString() + "\n";
    for (std::size_t i = before.urls; i < opened_urls_.size(); ++i)
      texts += opened_urls_[i].toLocalFile().toStdString() + "\n";
    for (const std::string& d : after.dialogs) texts += d + "\n";
    if (after.status != before.status) texts += after.status + "\n";
    // The log's new lines (and a last line that was replaced).
    std::size_t same = 0;
    while (same < before.log.size() && same < after.log.size() &&
           before.log[same] == after.log[same])
      ++same;
    for (std::size_t i = same; i < after.log.size(); ++i) texts += after.log[i] + "\n";
    return QString::fromStdString(texts).toLower().toStdString();
  }

  // Closes what the item opened, lets its work end, and puts back the settings an item
  // turned off (as the user would, from the menu) so the state need not be rebuilt.
  void Tidy() {
    for (int id : {32809, 32811, 32820, 32821, 32822})
      if (!window_->Closed() && !window_->MenuAction(id)->isChecked())
        window_->MenuAction(id)->trigger();
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w != window_.get() && w->isVisible() && qobject_cast<QMenu*>(w) == nullptr) w->close();
    Settle();
    if (GetParam() != WindowState::kRunning && GetParam() != WindowState::kBulkWaiting && !Bulk())
      (void)WaitIdle(30000);
    Settle();
  }

  // Uses one item by `use`; fails when the user would see nothing happen.
  void Try(const std::string& caption, const std::function<void()>& use) {
    if (!InState()) Enter();
    ASSERT_TRUE(InState()) << "cannot set up " << Name(GetParam());
    const Sight before = Look();
    const int models_before = model_questions_;
    use();
    const bool idle_state = GetParam() == WindowState::kNoImage ||
                            GetParam() == WindowState::kImage ||
                            GetParam() == WindowState::kChipRead;
    if (idle_state && !Bulk()) (void)WaitIdle(30000);
    QApplication::processEvents();
    // A few things answer a moment later (a network check fails, a chip is looked at).
    if (Look() == before && model_questions_ == models_before)
      (void)WaitFor([&] { return !(Look() == before); }, 1500);
    const Sight after = Look();
    ++tried_;
    EXPECT_TRUE(!(after == before) || model_questions_ != models_before)
        << "\"" << caption << "\" does nothing visible with " << Name(GetParam());
    // Busy states answer most things with their refusal; the marks are for idle ones.
    const auto marks = Marks().find(caption);
    if (idle_state && marks != Marks().end()) {
      const std::string texts = NewTexts(before, after);
      bool named = false;
      for (const std::string& mark : marks->second) named |= texts.find(mark) != std::string::npos;
      EXPECT_TRUE(named) << "\"" << caption << "\" brought up none of what it names, with "
                         << Name(GetParam()) << ":\n"
                         << texts;
    }
    Tidy();
  }

  int model_questions_ = 0;
  int tried_ = 0;
};

TEST_P(MenuSweep, EveryEnabledItemDoesWhatItsCaptionSays) {
  Enter();
  const bool busy = GetParam() == WindowState::kRunning || GetParam() == WindowState::kBulkWaiting;
  // The menu items, menu by menu, the Simulator's too.
  std::vector<std::string> captions;
  for (QAction* a : MenuItems(window_->menuBar())) captions.push_back(a->text().toStdString());
  std::set<std::string> seen;
  for (const std::string& caption : captions) {
    if (!seen.insert(caption).second) continue;
    // "E&xist" ends the process at once while the worker runs: nothing is left to look at.
    if (busy && caption == "E&xist") continue;
    if (!InState()) Enter();
    QAction* action = nullptr;
    for (QAction* a : MenuItems(window_->menuBar()))
      if (a->text().toStdString() == caption) action = a;
    ASSERT_NE(action, nullptr) << caption;
    if (!action->isEnabled()) continue;
    Try(caption, [&] { action->trigger(); });
  }
  // The buttons of the window.
  for (const LayoutItem& item : MainWindowLayout()) {
    if (!InState()) Enter();
    auto* button = qobject_cast<QAbstractButton*>(window_->Control(item.id));
    if (button == nullptr || !button->isVisible() || !button->isEnabled()) continue;
    const std::string caption =
        button->text().isEmpty() ? std::to_string(item.id) : button->text().toStdString();
    Try(caption, [&] {
      auto* b = qobject_cast<QAbstractButton*>(window_->Control(item.id));
      QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, b->height() / 2));
    });
  }
  EXPECT_GT(tried_, busy ? 10 : 30);
}

std::string StateName(const ::testing::TestParamInfo<WindowState>& info) {
  static const char* const kNames[] = {"NoImage", "ImageLoaded", "ChipRead", "OperationRunning",
                                       "BulkWaiting"};
  return kNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(States, MenuSweep,
                         ::testing::Values(WindowState::kNoImage, WindowState::kImage,
                                           WindowState::kChipRead, WindowState::kRunning,
                                           WindowState::kBulkWaiting),
                         StateName);

}  // namespace
}  // namespace tarvix::gui::testing
