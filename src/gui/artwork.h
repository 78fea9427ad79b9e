// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own pictures, drawn with QPainter when first asked for and kept: the
// operation buttons' icons and shared busy image, the four Bulk Mode animation
// frames, the six chip pictures, the programmer pictures, the web link picture, the
// menu images and the window icon.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace tarvix::gui::artwork {

// Idle image of an operation button or the browse button (by control id).
[[nodiscard]] QPixmap ButtonIcon(int control_id);
// The image every busy operation button shares.
[[nodiscard]] QPixmap BusyIcon();
// Bulk Mode animation frame 0 to 3.
[[nodiscard]] QPixmap BulkFrame(int frame);
// Chip placement picture 1 to 6 (0: an empty socket).
[[nodiscard]] QPixmap ChipPicture(int picture, QSize size);
// The second picture: the programmer (208, or 227 for its other series), its lights
// out while it is unplugged.
[[nodiscard]] QPixmap ProgrammerPicture(int picture, QSize size, bool plugged_in = true);
// The web link picture button.
[[nodiscard]] QPixmap WebLinkPicture(QSize size);
// Small image beside a menu item (by command id); null when the item has none.
[[nodiscard]] QIcon MenuIcon(int command_id);
[[nodiscard]] QIcon WindowIcon();
[[nodiscard]] QPixmap Logo(int size);

}  // namespace tarvix::gui::artwork
