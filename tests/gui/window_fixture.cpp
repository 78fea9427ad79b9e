// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/window_fixture.h"

#include <stdlib.h>
#include <unistd.h>

#include <QAction>
#include <QLineEdit>

#include <fstream>
#include <iterator>

#include "gui/hex_grid.h"
#include "gui/image_button.h"
#include "state/control_ids.h"

namespace tarvix::gui::testing {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint8_t PatternByte(std::size_t i) {
  return static_cast<std::uint8_t>((i * 7 + 3) & 0xFF);
}

ScratchFolder::ScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarvix-gui-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

WindowFixture::WindowFixture() {
  catalogue_.Load(TARVIX_DATABASE_DAT, [](std::string_view, std::string_view) {});
}

WindowFixture::~WindowFixture() {
  Destroy();
}

void WindowFixture::Open(sim::Timing timing, bool with_database, const std::string& model,
                         int programmers) {
  timing_ = timing;
  with_database_ = with_database;
  model_ = model;
  if (with_database && !std::filesystem::exists(dir_.path() / "database.dat"))
    std::filesystem::copy_file(TARVIX_DATABASE_DAT, dir_.path() / "database.dat");
  std::string error;
  sim::SimulatorOptions sim_options{model, "", timing};
  sim_options.programmers = programmers;
  sim_ = sim::MakeSimulator(catalogue_, sim_options, &error);
  ASSERT_TRUE(sim_.has_value()) << error;
  host_ = std::make_unique<QtHost>();
  host_->SetBoxPresenter([this](QWidget*, const QString& text, const QString& title, BoxIcon,
                                BoxButtons buttons) {
    boxes_.push_back({text.toStdString(), title.toStdString(), buttons});
    if (!answers_.empty()) {
      const BoxAnswer a = answers_.front();
      answers_.pop_front();
      return a;
    }
    return buttons == BoxButtons::kYesNo || buttons == BoxButtons::kYesNoCancel ? BoxAnswer::kYes
                                                                                : BoxAnswer::kOk;
  });
  host_->SetSoundSink([this](const std::filesystem::path& wave) { sounds_.push_back(wave); });
  ProgramOptions options;
  options.base = dir_.path();
  program_ = std::make_unique<Program>(options, *sim_->backend, *sim_->clock, *host_);
  window_ = std::make_unique<MainWindow>(*program_, *host_);
  // The file dialogs answer from the script; the desktop is never asked.
  FileChoosers& choosers = window_->Choosers();
  const auto next = [this](const QString& filter) {
    file_dialogs_.push_back(filter);
    if (chosen_.empty()) return QString();
    const QString path = chosen_.front();
    chosen_.pop_front();
    return path;
  };
  choosers.open_file = [next](QWidget*, const QString& filter) { return next(filter); };
  choosers.save_file = [next](QWidget*, const QString& filter) { return next(filter); };
  choosers.folder = [next](QWidget*, const QString&) { return next(QString()); };
  choosers.open_files = [next](QWidget*, const QString& filter) {
    const QString path = next(filter);
    return path.isEmpty() ? QStringList() : QStringList{path};
  };
  choosers.open_url = [this](const QUrl& url) {
    opened_urls_.push_back(url);
    return true;
  };
  sim_menu_ = std::make_unique<SimulatorMenu>(*sim_->bus, catalogue_, window_.get());
  window_->AddMenu(sim_menu_.get());
  window_->show();
  program_->StartUp();
  window_->RouteDeviceChanges(*sim_->backend);
  ASSERT_TRUE(WaitIdle());
}

void WindowFixture::Destroy() {
  if (window_ && !window_->Closed()) window_->close();
  sim_menu_.reset();
  window_.reset();
  program_.reset();
  host_.reset();
  sim_.reset();
}

void WindowFixture::Reopen() {
  Destroy();
  Open(timing_, with_database_, model_);
}

bool WindowFixture::WaitIdle(int ms) {
  const bool idle = WaitFor(
      [this] { return program_->TheWorker().WaitForIdle(std::chrono::milliseconds(0)); }, ms);
  // What the worker reported last is still queued for the window.
  QApplication::processEvents();
  return idle;
}

std::filesystem::path WindowFixture::MakeImage(const std::string& name, std::size_t size) {
  const auto path = dir_.path() / name;
  std::ofstream out(path, std::ios::binary);
  for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>((i * 7 + 3) & 0xFF));
  return path;
}

std::string WindowFixture::Caption(int id) const {
  return program_->ReportingHost().Commands().Caption(id);
}

void WindowFixture::Menu(int id) {
  QAction* action = window_->MenuAction(id);
  ASSERT_NE(action, nullptr) << id;
  ASSERT_TRUE(action->isEnabled()) << id;
  action->trigger();
}

void WindowFixture::Settle() {
  QApplication::processEvents();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void WindowFixture::Press(Qt::Key key, Qt::KeyboardModifiers modifiers) {
  QWidget* target = QApplication::focusWidget();
  if (target == nullptr || target->window() != window_.get()) target = window_->Grid();
  QTest::keyClick(target, key, modifiers);
}

void WindowFixture::Click(int button_id) {
  QWidget* button = window_->Button(button_id);
  if (button == nullptr) button = window_->Control(button_id);
  ASSERT_NE(button, nullptr) << button_id;
  QTest::mouseClick(button, Qt::LeftButton);
}

void WindowFixture::Choose(const std::string& caption) {
  for (QAction* action : window_->findChildren<QAction*>()) {
    if (action->text().toStdString() != caption) continue;
    ASSERT_TRUE(action->isEnabled()) << caption;
    action->trigger();
    return;
  }
  FAIL() << "no menu item " << caption;
}

void WindowFixture::OpenFile(const std::filesystem::path& path) {
  WillChoose(path);
  Press(Qt::Key_O, Qt::ControlModifier);
}

void WindowFixture::TypeIntoCell(int row, int column, const char* text) {
  if (!program_->Hex().EditMode()) {
    auto* box = window_->Control(control_id::kEditModeBox);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
  }
  QTest::mouseClick(window_->Grid(), Qt::LeftButton, {},
                    window_->Grid()->CellRect(row, column).center() - QPoint(4, 0));
  QTest::keyClicks(window_->CellEditBox(), text);
}

std::string WindowFixture::PathBox() const {
  return qobject_cast<QLineEdit*>(window_->Control(1003))->text().toStdString();
}

bool WindowFixture::Grayed(int id) const {
  if (QAction* a = window_->MenuAction(id)) return !a->isEnabled();
  return !window_->Control(id)->isEnabled();
}

std::string WindowFixture::ChipBytes(std::size_t count) const {
  const std::vector<std::uint8_t> bytes = SocketChip()->ReadRange(0, count);
  return {bytes.begin(), bytes.end()};
}

std::string WindowFixture::ChangeLogText() const {
  return ReadFile(program_->OperationLog().Path());
}

std::size_t WindowFixture::ChangeLogRecords() const {
  const std::string log = ChangeLogText();
  std::size_t records = 0;
  for (std::size_t at = log.find("BEGIN"); at != std::string::npos; at = log.find("BEGIN", at + 1))
    ++records;
  return records;
}

bool WindowFixture::BoxShown(const std::string& text) const {
  for (const ShownBox& b : boxes_)
    if (b.text == text) return true;
  return false;
}

}  // namespace tarvix::gui::testing

// Under the leak checker: what Qt and the font stack keep for the process's life and
// never free (font configuration and caches, platform plugin set-up, D-Bus and GLib
// singletons). Leaks of our own objects are still reported.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n"
         "leak:libfreetype.so\n"
         "leak:libglib-2.0.so\n"
         "leak:libdbus-1.so\n"
         "leak:QFontDatabase\n"
         "leak:QFontEngine\n"
         "leak:QFontCache\n"
         "leak:QOffscreenIntegration\n"
         "leak:QGuiApplicationPrivate::createPlatformIntegration\n"
         "leak:QFactoryLoader\n"
         "leak:QLibraryPrivate\n"
         "leak:_dl_open\n"
         "leak:_dl_init\n";
}

int main(int argc, char** argv) {
  // The window needs no display in the tests.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
