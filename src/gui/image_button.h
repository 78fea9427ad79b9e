// SPDX-License-Identifier: GPL-3.0-or-later
// An image button of the main window: an icon beside its caption. It tells when the
// pointer enters it, so the window can play the button sound.
#pragma once

#include <QPushButton>

namespace tarvix::gui {

class ImageButton : public QPushButton {
  Q_OBJECT

 public:
  ImageButton(int id, const QString& caption, QWidget* parent = nullptr);
  [[nodiscard]] int Id() const { return id_; }
  void SetImage(const QPixmap& image);

 signals:
  void pointerEntered();

 protected:
  void enterEvent(QEnterEvent* event) override;

 private:
  int id_;
};

}  // namespace tarvix::gui
