// SPDX-License-Identifier: GPL-3.0-or-later
// The progress bar that draws its own caption: the part up to the position in solid
// green, the rest in the button face colour, and the caption in black over both, in a
// light font 14 pixels high, aligned left, centred or right on one line.
#pragma once

#include <QString>
#include <QWidget>

#include "device/host.h"

namespace tarvix::gui {

class CaptionProgressBar : public QWidget {
  Q_OBJECT

 public:
  explicit CaptionProgressBar(QWidget* parent = nullptr);

  void SetPosition(int position);  // 0 to 100
  void SetCaption(const QString& caption, CaptionAlign align);
  [[nodiscard]] int Position() const { return position_; }
  [[nodiscard]] const QString& Caption() const { return caption_; }
  [[nodiscard]] CaptionAlign Alignment() const { return align_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int position_ = 0;
  QString caption_;
  CaptionAlign align_ = CaptionAlign::kCentre;
};

}  // namespace tarvix::gui
