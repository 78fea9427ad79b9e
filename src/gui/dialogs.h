// The dialogs of the window's menus: View Data, File Fill, Move To, Find Datas, Chip
// Fill, Write from specify file addr, Files Combine, File Division, Firmware Upgrade,
// and Help > Contents. Each plugs into the window's command table under its menu
// item's id and opens without blocking the caller (modal to the application, or
// modeless for Move To); an item the core has grayed opens nothing. A ".cap" file
// that is opened or dropped comes here too, to the address dialog with its offset
// locked.
#pragma once

#include <QObject>
#include <QPointer>
#include <cstdint>
#include <filesystem>

#include "gui/file_choosers.h"

namespace tarvix {
class Program;
}

namespace tarvix::gui {

class ChipFillWindow;
class FileDivisionWindow;
class FileFillWindow;
class FilesCombineWindow;
class FindDatasWindow;
class FirmwareUpgradeWindow;
class MainWindow;
class MoveToWindow;
class QtHost;
class ViewDataWindow;
class WriteFromAddressWindow;

class Dialogs : public QObject {
  Q_OBJECT

 public:
  Dialogs(MainWindow& window, Program& program, QtHost& host);
  ~Dialogs() override;

  // The desktop's choosers; tests answer them instead.
  [[nodiscard]] FileChoosers& Choosers() { return choosers_; }

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

 private:
  // A ".cap" file: the address dialog with `base` locked, waited for; true once loaded.
  bool LoadCapFile(const std::filesystem::path& file, std::uint32_t base);
  void HelpContents();

  MainWindow& window_;
  Program& program_;
  QtHost& host_;
  FileChoosers choosers_;
  QPointer<ViewDataWindow> view_data_;
  QPointer<FileFillWindow> file_fill_;
  QPointer<MoveToWindow> move_to_;
  QPointer<FindDatasWindow> find_;
  QPointer<ChipFillWindow> chip_fill_;
  QPointer<FirmwareUpgradeWindow> upgrade_;
  QPointer<WriteFromAddressWindow> write_from_;
  QPointer<FilesCombineWindow> combine_;
  QPointer<FileDivisionWindow> division_;
};

}  // namespace tarvix::gui
