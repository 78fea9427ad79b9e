// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/image_button.h"

#include <QEnterEvent>

namespace tarvix::gui {

ImageButton::ImageButton(int id, const QString& caption, QWidget* parent)
    : QPushButton(caption, parent), id_(id) {
  // Enter commits a cell edit; it never presses a button.
  setAutoDefault(false);
  setDefault(false);
  setFocusPolicy(Qt::TabFocus);
}

void ImageButton::SetImage(const QPixmap& image) {
  setIcon(QIcon(image));
}

void ImageButton::enterEvent(QEnterEvent* event) {
  QPushButton::enterEvent(event);
  if (isEnabled()) emit pointerEntered();
}

}  // namespace tarvix::gui
