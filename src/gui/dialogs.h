// SPDX-License-Identifier: GPL-3.0-or-later
// The dialogs of the window's menus: View Data, File Fill, Move To, Find Datas, Chip
// Fill, Write from specify file addr, Files Combine, File Division, Firmware Upgrade,
// Help > Contents and Operate log, and the network dialogs Version (Check New) and Feedback. Each
// plugs into the window's command table under its menu item's id and opens without blocking the
// caller (modal to the application, or modeless for Move To); an item the core has grayed opens
// nothing. A ".cap" file that is opened or dropped comes here too, to the address dialog with its
// offset locked.
#pragma once

#include <QObject>
#include <QPointer>
#include <cstdint>
#include <filesystem>

#include "gui/file_choosers.h"
#include "net/service_config.h"

namespace tarvix {
class Program;
}

namespace tarvix::gui {

class ChipFillWindow;
class FeedbackWindow;
class FileDivisionWindow;
class FileFillWindow;
class FilesCombineWindow;
class FindDatasWindow;
class FirmwareUpgradeWindow;
class MainWindow;
class MoveToWindow;
class QtHost;
class TextViewerWindow;
class VersionWindow;
class ViewDataWindow;
class WriteFromAddressWindow;

class Dialogs : public QObject {
  Q_OBJECT

 public:
  Dialogs(MainWindow& window, Program& program, QtHost& host);
  ~Dialogs() override;

  // The window's choosers (tests answer them instead).
  [[nodiscard]] FileChoosers& Choosers() { return choosers_; }
  // Where the update check and the feedback mail go; tests point them at their servers.
  void SetUpdateCheckConfig(UpdateCheckConfig config) { update_config_ = std::move(config); }
  void SetFeedbackConfig(FeedbackConfig config) { feedback_config_ = std::move(config); }

  // The dialog a menu command opens, or raises when it is open already.
  void Open(int command_id);

  // The dialogs on screen; null when closed.
  [[nodiscard]] ViewDataWindow* ViewData() const;
  [[nodiscard]] FileFillWindow* FileFill() const;
  [[nodiscard]] MoveToWindow* MoveTo() const;
  [[nodiscard]] FindDatasWindow* FindDatas() const;
  [[nodiscard]] ChipFillWindow* ChipFill() const;
  [[nodiscard]] FirmwareUpgradeWindow* Upgrade() const;
  [[nodiscard]] WriteFromAddressWindow* WriteFromAddress() const;
  [[nodiscard]] FilesCombineWindow* FilesCombine() const;
  [[nodiscard]] FileDivisionWindow* FileDivision() const;
  [[nodiscard]] VersionWindow* Version() const;
  [[nodiscard]] FeedbackWindow* Feedback() const;
  // The program's own view of the manual or the operation log.
  [[nodiscard]] TextViewerWindow* TextViewer() const;

 private:
  // A ".cap" file: the address dialog with `base` locked, waited for; true once loaded.
  bool LoadCapFile(const std::filesystem::path& file, std::uint32_t base);
  void HelpContents();
  void OperateLog();
  // A file the desktop has no viewer for, in the program's own window.
  TextViewerWindow* ShowInViewer(const QString& title);

  MainWindow& window_;
  Program& program_;
  QtHost& host_;
  FileChoosers& choosers_;
  QPointer<ViewDataWindow> view_data_;
  QPointer<FileFillWindow> file_fill_;
  QPointer<MoveToWindow> move_to_;
  QPointer<FindDatasWindow> find_;
  QPointer<ChipFillWindow> chip_fill_;
  QPointer<FirmwareUpgradeWindow> upgrade_;
  QPointer<WriteFromAddressWindow> write_from_;
  QPointer<FilesCombineWindow> combine_;
  QPointer<FileDivisionWindow> division_;
  QPointer<VersionWindow> version_;
  QPointer<FeedbackWindow> feedback_;
  QPointer<TextViewerWindow> viewer_;
  UpdateCheckConfig update_config_ = UpdateCheckConfig::Default();
  FeedbackConfig feedback_config_ = FeedbackConfig::Default();
};

}  // namespace tarvix::gui
