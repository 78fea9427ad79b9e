// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/caption_progress_bar.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QPainter>
#include <algorithm>

namespace tarvix::gui {

CaptionProgressBar::CaptionProgressBar(QWidget* parent) : QWidget(parent) {
  QFont font = this->font();
  font.setPixelSize(14);
  font.setWeight(QFont::Light);
  // A family without a light face of its own gets a thinner one from the font
  // matcher (DejaVu's ExtraLight), whose hairlines smooth to grey on the grey
  // trough: the caption then takes the family's regular face, never a lighter one.
  const QFontInfo face(font);
  if (QFontDatabase::weight(face.family(), face.styleName()) < QFont::Light)
    font.setWeight(QFont::Normal);
  setFont(font);
}

void CaptionProgressBar::SetPosition(int position) {
  position = std::clamp(position, 0, 100);
  if (position == position_) return;
  position_ = position;
  update();
}

void CaptionProgressBar::SetCaption(const QString& caption, CaptionAlign align) {
  if (caption == caption_ && align == align_) return;
  caption_ = caption;
  align_ = align;
  update();
}

void CaptionProgressBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect frame = rect();
  const QRect inner = frame.adjusted(1, 1, -1, -1);
  p.fillRect(frame, palette().color(QPalette::Mid));
  p.fillRect(inner, palette().color(QPalette::Button));
  const int filled = inner.width() * position_ / 100;
  p.fillRect(QRect(inner.left(), inner.top(), filled, inner.height()), QColor(0, 255, 0));
  p.setPen(Qt::black);
  Qt::Alignment align = Qt::AlignVCenter;
  switch (align_) {
    case CaptionAlign::kLeft:
      align |= Qt::AlignLeft;
      break;
    case CaptionAlign::kCentre:
      align |= Qt::AlignHCenter;
      break;
    case CaptionAlign::kRight:
      align |= Qt::AlignRight;
      break;
  }
  p.drawText(inner.adjusted(3, 0, -3, 0), static_cast<int>(align | Qt::TextSingleLine), caption_);
}

}  // namespace tarvix::gui
