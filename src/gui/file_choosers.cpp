// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/file_choosers.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QRegularExpression>
#include <QStandardPaths>

namespace tarvix::gui {

QString ImageFileFilter() {
  return "*.bin;*.rom (*.bin *.rom);;Intel HEX (*.hex *.ihex *.ihx);;"
         "S-record (*.srec *.s19 *.s28 *.s37 *.mot *.s *.sx);;*.cap (*.cap);;(*)";
}

QString CombineFileFilter() {
  return "*.bin;*.rom (*.bin *.rom);;(*)";
}

QString FirmwareFileFilter() {
  return "(*.tvx)";
}

QString SaveFileFilter() {
  return "bin(*.bin);;rom(*.rom);;Intel HEX(*.hex);;S-record(*.srec *.s19 *.s28 *.s37);;(*)";
}

QString DesktopFolder() {
  const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  return QDir(desktop).exists() ? desktop : QDir::homePath();
}

FileChoosers DesktopFileChoosers() {
  FileChoosers c;
  c.open_file = [](QWidget* parent, const QString& filter) {
    return QFileDialog::getOpenFileName(parent, "Open", QString(), filter);
  };
  c.open_files = [](QWidget* parent, const QString& filter) {
    return QFileDialog::getOpenFileNames(parent, "Open", QString(), filter);
  };
  c.save_file = [](QWidget* parent, const QString& filter) {
    QFileDialog dialog(parent, "Save As", QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("bin");
    // A name typed without an extension takes the chosen type's: the name decides
    // the format the image is written in.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& f) {
      const qsizetype dot = f.indexOf("*.");
      const qsizetype end = f.indexOf(QRegularExpression("[ )]"), dot);
      dialog.setDefaultSuffix(dot < 0 || end < 0 ? QString() : f.mid(dot + 2, end - dot - 2));
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().first();
  };
  c.folder = [](QWidget* parent, const QString& start) {
    // Qt's own browser: it has the box to type a path into, and no title text.
    QFileDialog browser(parent, " ", start);
    browser.setFileMode(QFileDialog::Directory);
    browser.setOption(QFileDialog::ShowDirsOnly);
    browser.setOption(QFileDialog::DontUseNativeDialog);
    browser.setWindowTitle(QString());
    if (browser.exec() != QDialog::Accepted || browser.selectedFiles().isEmpty()) return QString();
    return browser.selectedFiles().first();
  };
  c.open_url = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  return c;
}

}  // namespace tarvix::gui
