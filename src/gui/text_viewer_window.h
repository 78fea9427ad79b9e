// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own window for a file the desktop has no viewer for: the manual
// (Help > "&Contents", HTML) and the operation log (Help > "Operate log", its text
// decoded from GBK). Modeless; it goes when closed.
#pragma once

#include <QDialog>

class QTextBrowser;

namespace tarvix::gui {

class TextViewerWindow : public QDialog {
  Q_OBJECT

 public:
  TextViewerWindow(QWidget* parent, const QString& title);

  // An HTML file, with its links followed inside the window (web links go to the desktop).
  void ShowHtmlFile(const QString& path);
  // Plain text, scrolled to its end (the newest records).
  void ShowPlainText(const QString& text);
  [[nodiscard]] QTextBrowser* Browser() const { return browser_; }

 private:
  QTextBrowser* browser_ = nullptr;
};

}  // namespace tarvix::gui
