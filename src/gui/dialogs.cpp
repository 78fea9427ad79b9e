// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/dialogs.h"

#include "app/program.h"
#include "gui/chip_fill_window.h"
#include "gui/feedback_window.h"
#include "gui/file_division_window.h"
#include "gui/file_fill_window.h"
#include "gui/files_combine_window.h"
#include "gui/find_datas_window.h"
#include "gui/firmware_upgrade_window.h"
#include "gui/main_window.h"
#include "gui/move_to_window.h"
#include "gui/qt_host.h"
#include "gui/text_viewer_window.h"
#include "gui/version_window.h"
#include "gui/view_data_window.h"
#include "gui/write_from_address_window.h"
#include "state/control_ids.h"

namespace tarvix::gui {
namespace {

namespace c = control_id;

// Shows the dialog in `slot`, making it first when there is none.
template <typename W, typename Make>
void ShowIn(QPointer<W>& slot, bool modal, Make make) {
  // A closed dialog is on its way out (it deletes itself later): make a new one.
  if (!slot || !slot->isVisible()) {
    slot = make();
    ShowDialog(slot, modal);
    return;
  }
  slot->raise();
  slot->activateWindow();
}

QUrl FileUrl(const std::filesystem::path& path) {
  return QUrl::fromLocalFile(QString::fromStdString(path.string()));
}

// The dialog while it is on screen; null once closed.
template <typename W>
W* Shown(const QPointer<W>& slot) {
  return slot && slot->isVisible() ? slot.data() : nullptr;
}

}  // namespace

Dialogs::Dialogs(MainWindow& window, Program& program, QtHost& host)
    : QObject(&window),
      window_(window),
      program_(program),
      host_(host),
      choosers_(window.Choosers()) {
  for (int id : {c::kViewData, c::kFileFill, c::kMoveTo, c::kFindData, c::kChipFill,
                 c::kFirmwareUpgrade, c::kWriteFromFileAddress, menu_id::kFilesCombine,
                 menu_id::kFileDivision, menu_id::kCheckNew, menu_id::kFeedback})
    window_.SetCommandHandler(id, [this, id] { Open(id); });
  window_.SetCommandHandler(menu_id::kContents, [this] { HelpContents(); });
  window_.SetCommandHandler(menu_id::kOperateLog, [this] { OperateLog(); });
  program_.Files().SetCapFileHandler([this](const std::filesystem::path& file, std::uint32_t base) {
    return LoadCapFile(file, base);
  });
  // The worker changes these models while their dialogs are open; each change is shown
  // on the window thread, in whichever dialog is on screen then.
  const QPointer<QObject> alive(this);
  program_.ViewData().SetListener([this, alive] {
    OnWindowThread(&host_, alive, [this] {
      if (ViewDataWindow* w = ViewData()) w->Sync();
    });
  });
  program_.ChipFill().SetListener([this, alive] {
    OnWindowThread(&host_, alive, [this] {
      if (ChipFillWindow* w = ChipFill()) w->Sync();
    });
  });
  program_.Upgrade().SetBarListener([this, alive](const FirmwareUpgradeDialog::Bar&) {
    OnWindowThread(&host_, alive, [this] {
      if (FirmwareUpgradeWindow* w = Upgrade()) w->SyncBar();
    });
  });
}

Dialogs::~Dialogs() {
  program_.Files().SetCapFileHandler({});
  program_.ViewData().SetListener({});
  program_.ChipFill().SetListener({});
  program_.Upgrade().SetBarListener({});
}

void Dialogs::Open(int command_id) {
  if (host_.Commands().IsMenuGrayed(command_id)) return;
  QWidget* parent = &window_;
  switch (command_id) {
    case c::kViewData:
      ShowIn(view_data_, true, [&] { return new ViewDataWindow(parent, program_, host_); });
      break;
    case c::kFileFill:
      ShowIn(file_fill_, true, [&] { return new FileFillWindow(parent, program_, host_); });
      break;
    case c::kMoveTo:
      ShowIn(move_to_, false, [&] { return new MoveToWindow(parent, program_, host_); });
      break;
    case c::kFindData:
      ShowIn(find_, true, [&] { return new FindDatasWindow(parent, program_, host_); });
      break;
    case c::kChipFill:
      ShowIn(chip_fill_, true, [&] { return new ChipFillWindow(parent, program_, host_); });
      break;
    case c::kFirmwareUpgrade:
      ShowIn(upgrade_, true,
             [&] { return new FirmwareUpgradeWindow(parent, program_, choosers_); });
      break;
    case c::kWriteFromFileAddress:
      ShowIn(write_from_, true,
             [&] { return new WriteFromAddressWindow(parent, program_, host_, choosers_); });
      break;
    case menu_id::kFilesCombine:
      ShowIn(combine_, true, [&] { return new FilesCombineWindow(parent, host_, choosers_); });
      break;
    case menu_id::kFileDivision:
      ShowIn(division_, true, [&] { return new FileDivisionWindow(parent, host_, choosers_); });
      break;
    case menu_id::kCheckNew:
      ShowIn(version_, true,
             [&] { return new VersionWindow(parent, program_, host_, update_config_); });
      break;
    case menu_id::kFeedback:
      ShowIn(feedback_, true, [&] { return new FeedbackWindow(parent, host_, feedback_config_); });
      break;
    default:
      break;
  }
}

ViewDataWindow* Dialogs::ViewData() const {
  return Shown(view_data_);
}

FileFillWindow* Dialogs::FileFill() const {
  return Shown(file_fill_);
}

MoveToWindow* Dialogs::MoveTo() const {
  return Shown(move_to_);
}

FindDatasWindow* Dialogs::FindDatas() const {
  return Shown(find_);
}

ChipFillWindow* Dialogs::ChipFill() const {
  return Shown(chip_fill_);
}

FirmwareUpgradeWindow* Dialogs::Upgrade() const {
  return Shown(upgrade_);
}

WriteFromAddressWindow* Dialogs::WriteFromAddress() const {
  return Shown(write_from_);
}

FilesCombineWindow* Dialogs::FilesCombine() const {
  return Shown(combine_);
}

FileDivisionWindow* Dialogs::FileDivision() const {
  return Shown(division_);
}

VersionWindow* Dialogs::Version() const {
  return Shown(version_);
}

FeedbackWindow* Dialogs::Feedback() const {
  return Shown(feedback_);
}

bool Dialogs::LoadCapFile(const std::filesystem::path& file, std::uint32_t base) {
  // The load that asked waits for the answer, so this one dialog is run to its end.
  WriteFromAddressWindow dialog(&window_, program_, host_, choosers_, file, base);
  write_from_ = &dialog;
  dialog.exec();
  return dialog.Loaded();
}

TextViewerWindow* Dialogs::TextViewer() const {
  return Shown(viewer_);
}

TextViewerWindow* Dialogs::ShowInViewer(const QString& title) {
  if (viewer_) viewer_->close();
  viewer_ = new TextViewerWindow(&window_, title);
  viewer_->show();
  return viewer_;
}

void Dialogs::HelpContents() {
  program_.ShowHelpContents(
      [this](const std::filesystem::path& manual) { return choosers_.open_url(FileUrl(manual)); },
      [this](const std::filesystem::path& manual) {
        ShowInViewer("Contents")->ShowHtmlFile(QString::fromStdString(manual.string()));
      });
}

void Dialogs::OperateLog() {
  program_.OperationLog().Show(
      host_, [this](const std::filesystem::path& log) { return choosers_.open_url(FileUrl(log)); },
      [this](const std::string& text) {
        ShowInViewer("Operate log")->ShowPlainText(QString::fromStdString(text));
      });
}

}  // namespace tarvix::gui
