// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/dialog_frame.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <algorithm>

#include "device/recording_host.h"

namespace tarvix::gui {

DialogFrame::DialogFrame(QWidget* parent, const QString& title, int width_du, int height_du)
    : QDialog(parent) {
  setWindowTitle(title);
  // A dialog of fixed controls: no resize grip, no context help button.
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  setFixedSize(du_.Px(width_du), du_.Py(height_du));
}

void DialogFrame::PlaceWidget(QWidget* w, int x, int y, int width, int height, int id) {
  w->setGeometry(du_.Rect(x, y, width, height));
  if (id != 0) w->setObjectName(QString("control_%1").arg(id));
}

QLabel* DialogFrame::AddLabel(const QString& text, int x, int y, int width, int height, int id) {
  auto* label = new QLabel(text, this);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  Place(label, x, y, width, height, id);
  // The units give a line less room than the font needs below its baseline: the
  // label grows about its middle until its lines fit, descenders and all.
  const int lines = static_cast<int>(text.count('\n')) + 1;
  const int needed = QFontMetrics(label->font()).height() * lines;
  QRect r = label->geometry();
  if (r.height() < needed) {
    const int grow = needed - r.height();
    r.adjust(0, -grow / 2, 0, grow - grow / 2);
    label->setGeometry(r);
  }
  return label;
}

QLineEdit* DialogFrame::AddBox(int x, int y, int width, int max_length, int id, int height) {
  auto* box = new QLineEdit(this);
  if (max_length > 0) box->setMaxLength(max_length);
  return Place(box, x, y, width, height, id);
}

QPushButton* DialogFrame::AddButton(const QString& text, int x, int y, int width, int height,
                                    int id) {
  auto* button = new QPushButton(text, this);
  button->setAutoDefault(false);
  return Place(button, x, y, width, height, id);
}

void CheckEachKeystroke(
    QLineEdit* box, Host& host,
    std::function<BoxEdit(const std::string& text, std::size_t caret, Host& boxes)> check) {
  QObject::connect(box, &QLineEdit::textEdited, box, [box, &host, check](const QString& typed) {
    const QString upper = typed.toUpper();
    const int caret = box->cursorPosition();
    const std::string text = upper.toStdString();
    const auto caret_bytes = static_cast<std::size_t>(upper.left(caret).toUtf8().size());
    RecordingHost held;
    const BoxEdit edit = check(text, caret_bytes, held);
    const QString shown = QString::fromStdString(edit.text);
    const auto shown_caret = static_cast<int>(
        QString::fromStdString(edit.text.substr(0, std::min(edit.caret, edit.text.size()))).size());
    if (shown != typed) box->setText(shown);
    box->setCursorPosition(shown_caret);
    const QPointer<QLineEdit> alive(box);
    for (const HostRecord& r : held.RecordsOf(HostRecord::Kind::kMessageBox)) {
      (void)host.MessageBox(r.text, r.title, r.icon, r.buttons);
      if (!alive) return;  // the dialog went while its box was up
    }
  });
}

void SetBoxReadOnly(QLineEdit* box, bool read_only) {
  box->setReadOnly(read_only);
  QPalette palette = box->palette();
  palette.setColor(QPalette::Base, box->parentWidget()->palette().color(
                                       read_only ? QPalette::Window : QPalette::Base));
  box->setPalette(palette);
}

void OnWindowThread(QObject* window, const QPointer<QObject>& alive, std::function<void()> fn) {
  if (QThread::currentThread() == window->thread()) {
    if (alive) fn();
    return;
  }
  QMetaObject::invokeMethod(
      window,
      [guard = alive, fn = std::move(fn)] {
        if (guard) fn();
      },
      Qt::QueuedConnection);
}

void ShowDialog(QDialog* dialog, bool modal) {
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowModality(modal ? Qt::ApplicationModal : Qt::NonModal);
  dialog->show();
}

}  // namespace tarvix::gui
