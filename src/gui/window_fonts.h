// SPDX-License-Identifier: GPL-3.0-or-later
// The window's fonts: a plain sans face for the Latin texts with a CJK face behind it,
// so the Chinese captions, box titles and log lines show as characters.
#pragma once

class QApplication;

namespace tarvix::gui {

void UseWindowFonts(QApplication& app);

}  // namespace tarvix::gui
