// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop's own choosers the window and its dialogs use: the open and save dialogs,
// the folder browser with a box to type a path in, and the shell's "open" of a file or
// link. The window owns the table and everything reaches them through it, so the
// tests answer them instead.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

class QWidget;

namespace tarvix::gui {

struct FileChoosers {
  // A file to open; empty on Cancel. `filter` in Qt's form ("text (*.a *.b);;...").
  std::function<QString(QWidget* parent, const QString& filter)> open_file;
  // Several files to open, in the order chosen; empty on Cancel.
  std::function<QStringList(QWidget* parent, const QString& filter)> open_files;
  // A file to save to (the desktop asks before overwriting one); empty on Cancel.
  std::function<QString(QWidget* parent, const QString& filter)> save_file;
  // A folder, starting at `start`; empty on Cancel.
  std::function<QString(QWidget* parent, const QString& start)> folder;
  // The desktop's viewer for a file or link; false when it could not open it.
  std::function<bool(const QUrl& url)> open_url;
};

// The desktop's choosers.
[[nodiscard]] FileChoosers DesktopFileChoosers();

// The open dialogs' filters, in Qt's form: each name once, its patterns in the
// brackets Qt reads them from.
// Images, as Open uses it.
[[nodiscard]] QString ImageFileFilter();
// The save dialog's filter for images, as Save and Save As use it.
[[nodiscard]] QString SaveFileFilter();
// The inputs of Files Combine.
[[nodiscard]] QString CombineFileFilter();
// Firmware images.
[[nodiscard]] QString FirmwareFileFilter();
// The folder the folder browser starts at: the desktop, or the home folder without one.
[[nodiscard]] QString DesktopFolder();

}  // namespace tarvix::gui
