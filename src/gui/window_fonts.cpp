// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/window_fonts.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>

namespace tarvix::gui {

void UseWindowFonts(QApplication& app) {
  QFont font("DejaVu Sans");
  // Glyphs missing from the first face come from the next; the CJK faces carry Chinese.
  font.setFamilies(
      {"DejaVu Sans", "WenQuanYi Micro Hei", "Noto Sans CJK SC", "Droid Sans Fallback"});
  font.setPixelSize(12);
  app.setFont(font);
}

}  // namespace tarvix::gui
