// SPDX-License-Identifier: GPL-3.0-or-later
// The base of the window's dialogs: a fixed-size dialog whose controls are placed in
// dialog units, scaled to pixels as the main window scales its own, plus the few
// control kinds every dialog uses (labels, boxes that take upper case, buttons).
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <cstddef>
#include <functional>
#include <string>

#include "gui/qt_text.h"
#include "gui/window_layout.h"

class QLabel;
class QObject;
class QLineEdit;
class QPushButton;

namespace tarvix {
class Host;
}

namespace tarvix::gui {

class DialogFrame : public QDialog {
  Q_OBJECT

 public:
  // `width_du` x `height_du` is the dialog's client area in dialog units.
  DialogFrame(QWidget* parent, const QString& title, int width_du, int height_du);

  // Places `w` at a rectangle given in dialog units and names it after its id.
  template <typename W>
  W* Place(W* w, int x, int y, int width, int height, int id = 0) {
    PlaceWidget(w, x, y, width, height, id);
    return w;
  }
  QLabel* AddLabel(const QString& text, int x, int y, int width, int height = 8, int id = 0);
  // A single-line box of at most `max_length` characters (0: no limit).
  QLineEdit* AddBox(int x, int y, int width, int max_length, int id = 0, int height = 13);
  QPushButton* AddButton(const QString& text, int x, int y, int width = 50, int height = 14,
                         int id = 0);

 private:
  void PlaceWidget(QWidget* w, int x, int y, int width, int height, int id);

  DialogUnits du_;
};

// What a box shows after a keystroke: its text and caret, both in UTF-8 bytes.
struct BoxEdit {
  std::string text;
  std::size_t caret = 0;
};
// Runs `check` after every change the user makes to `box` (typing, pasting, deleting),
// with the box's text in UTF-8, letters in upper case (these boxes take no others),
// and shows what it returns. Texts the program itself puts in are not checked. The
// boxes `check` raises through its Host reach `host` only once the box shows the
// corrected text, so a refused character is gone before its warning comes up.
void CheckEachKeystroke(
    QLineEdit* box, Host& host,
    std::function<BoxEdit(const std::string& text, std::size_t caret, Host& boxes)> check);

// Makes a box read-only or editable; a read-only box is drawn on the dialog's
// background, so a locked box looks locked.
void SetBoxReadOnly(QLineEdit* box, bool read_only);

// Runs `fn` on the window thread for a model notice that may come from the worker:
// at once when already there, else queued through `window` (an object living on the
// window thread for the whole run). Dropped when `alive` has gone by then; take the
// pointer on the window thread, where the object it guards is destroyed.
void OnWindowThread(QObject* window, const QPointer<QObject>& alive, std::function<void()> fn);

// Shows a dialog without waiting for it: modal to the whole application, or modeless.
void ShowDialog(QDialog* dialog, bool modal);

}  // namespace tarvix::gui
