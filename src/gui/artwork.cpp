// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/artwork.h"

#include <QHash>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include "state/control_ids.h"

namespace tarvix::gui::artwork {
namespace {

namespace c = control_id;

constexpr int kIcon = 32;

QPixmap Blank(QSize size) {
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

void Antialias(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
}

// A small 8-pin chip body, the motif of most icons.
void DrawChip(QPainter& p, const QRectF& body, const QColor& colour) {
  p.setPen(QPen(QColor(150, 150, 150), 1.2));
  const double pins = 4;
  const double step = body.height() / pins;
  for (int i = 0; i < pins; ++i) {
    const double y = body.top() + step * (i + 0.5);
    p.drawLine(QPointF(body.left() - 3, y), QPointF(body.left(), y));
    p.drawLine(QPointF(body.right(), y), QPointF(body.right() + 3, y));
  }
  p.setPen(QPen(colour.darker(160), 1));
  p.setBrush(colour);
  p.drawRoundedRect(body, 2, 2);
  p.setBrush(colour.lighter(170));
  p.setPen(Qt::NoPen);
  p.drawEllipse(QPointF(body.left() + 3.5, body.top() + 3.5), 1.5, 1.5);
}

QPixmap Icon(const std::function<void(QPainter&)>& draw) {
  QPixmap pixmap = Blank({kIcon, kIcon});
  QPainter p(&pixmap);
  Antialias(p);
  draw(p);
  return pixmap;
}

void Arrow(QPainter& p, QPointF from, QPointF to, const QColor& colour, double width = 3) {
  p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(from, to);
  const double angle = std::atan2(to.y() - from.y(), to.x() - from.x());
  const double head = width * 2.2;
  QPolygonF tip;
  tip << to + QPointF(std::cos(angle) * head * 0.6, std::sin(angle) * head * 0.6)
      << to + QPointF(std::cos(angle + 2.4) * head, std::sin(angle + 2.4) * head)
      << to + QPointF(std::cos(angle - 2.4) * head, std::sin(angle - 2.4) * head);
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawPolygon(tip);
}

// A sheet of paper with a folded corner and a few text lines, the motif of the file tools.
void DrawSheet(QPainter& p, const QRectF& r, int lines = 3) {
  QPainterPath sheet;
  const double fold = r.width() * 0.3;
  sheet.moveTo(r.topLeft());
  sheet.lineTo(r.right() - fold, r.top());
  sheet.lineTo(r.right(), r.top() + fold);
  sheet.lineTo(r.bottomRight());
  sheet.lineTo(r.bottomLeft());
  sheet.closeSubpath();
  p.setPen(QPen(QColor(110, 120, 135), 1.2));
  p.setBrush(QColor(250, 251, 253));
  p.drawPath(sheet);
  p.setPen(QPen(QColor(150, 165, 185), 1.5));
  for (int i = 0; i < lines; ++i) {
    const double y = r.top() + fold + 3 + i * (r.height() - fold - 5) / std::max(lines, 1);
    p.drawLine(QPointF(r.left() + 3, y), QPointF(r.right() - 3, y));
  }
}

void DrawMagnifier(QPainter& p, QPointF centre, double radius) {
  p.setPen(QPen(QColor(70, 70, 80), 2.5));
  p.setBrush(QColor(200, 230, 255, 170));
  p.drawEllipse(centre, radius, radius);
  p.setPen(QPen(QColor(70, 70, 80), 4, Qt::SolidLine, Qt::RoundCap));
  const double d = radius * 0.75;
  p.drawLine(centre + QPointF(d, d), centre + QPointF(d + 6, d + 6));
}

// A paint bucket pouring one drop, the motif of both fills.
void DrawBucket(QPainter& p, QPointF at, const QColor& paint) {
  p.save();
  p.translate(at);
  p.rotate(-20);
  p.setPen(QPen(QColor(90, 90, 100), 1.2));
  p.setBrush(QColor(200, 205, 215));
  QPolygonF pail;
  pail << QPointF(-7, -6) << QPointF(7, -6) << QPointF(5, 8) << QPointF(-5, 8);
  p.drawPolygon(pail);
  p.setBrush(paint);
  p.drawEllipse(QPointF(0, -6), 7, 2.5);
  p.restore();
  p.setPen(Qt::NoPen);
  p.setBrush(paint);
  p.drawEllipse(at + QPointF(9, 6), 2.5, 3.5);
}

QPixmap DrawButtonIcon(int id) {
  const QColor chip(60, 60, 70);
  switch (id) {
    case c::kAuto:
      return Icon([&](QPainter& p) {
        p.setPen(QPen(QColor(40, 140, 60), 3, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(5, 5, 22, 22), 30 * 16, 280 * 16);
        Arrow(p, QPointF(25, 10), QPointF(26.5, 12.5), QColor(40, 140, 60), 3);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(250, 190, 20));
        QPolygonF bolt;
        bolt << QPointF(17, 8) << QPointF(11, 17) << QPointF(16, 17) << QPointF(14, 25)
             << QPointF(21, 14) << QPointF(16, 14) << QPointF(18, 8);
        p.drawPolygon(bolt);
      });
    case c::kErase:
      return Icon([&](QPainter& p) {
        DrawChip(p, QRectF(5, 10, 14, 17), chip);
        p.translate(20, 12);
        p.rotate(-35);
        p.setPen(QPen(QColor(120, 40, 60), 1));
        p.setBrush(QColor(235, 110, 140));
        p.drawRoundedRect(QRectF(-5, -9, 10, 14), 2, 2);
        p.setBrush(QColor(90, 140, 220));
        p.drawRoundedRect(QRectF(-5, 4, 10, 6), 2, 2);
      });
    case c::kWrite:
      return Icon([&](QPainter& p) {
        DrawChip(p, QRectF(5, 12, 14, 16), chip);
        p.translate(21, 12);
        p.rotate(45);
        p.setPen(QPen(QColor(120, 80, 10), 1));
        p.setBrush(QColor(250, 200, 50));
        p.drawRect(QRectF(-3, -12, 6, 16));
        QPolygonF tip;
        tip << QPointF(-3, 4) << QPointF(3, 4) << QPointF(0, 10);
        p.setBrush(QColor(240, 220, 180));
        p.drawPolygon(tip);
      });
    case c::kVerify:
      return Icon([&](QPainter& p) {
        DrawChip(p, QRectF(5, 6, 14, 17), chip);
        p.setPen(QPen(QColor(30, 160, 60), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF() << QPointF(14, 20) << QPointF(19, 26) << QPointF(29, 12));
      });
    case c::kRead:
      return Icon([&](QPainter& p) {
        DrawChip(p, QRectF(5, 6, 14, 17), chip);
        Arrow(p, QPointF(16, 20), QPointF(27, 27), QColor(30, 110, 210), 3);
      });
    case c::kBlank:
      return Icon([&](QPainter& p) {
        DrawChip(p, QRectF(8, 6, 16, 20), QColor(235, 235, 240));
        p.setPen(QPen(QColor(120, 120, 120), 1.2, Qt::DotLine));
        p.drawLine(QPointF(11, 12), QPointF(21, 12));
        p.drawLine(QPointF(11, 16), QPointF(21, 16));
        p.drawLine(QPointF(11, 20), QPointF(21, 20));
      });
    case c::kTest:
      return Icon([&](QPainter& p) {
        DrawChip(p, QRectF(4, 5, 13, 16), chip);
        p.setPen(QPen(QColor(70, 70, 80), 2.5));
        p.setBrush(QColor(200, 230, 255, 160));
        p.drawEllipse(QPointF(19, 18), 6.5, 6.5);
        p.setPen(QPen(QColor(70, 70, 80), 4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(24, 23), QPointF(29, 28));
      });
    case c::kBulkMode:
      return BulkFrame(0);
    case c::kBrowse:
      return Icon([&](QPainter& p) {
        p.setPen(QPen(QColor(170, 120, 20), 1));
        p.setBrush(QColor(250, 205, 90));
        p.drawRoundedRect(QRectF(3, 8, 26, 19), 2, 2);
        p.drawRoundedRect(QRectF(3, 5, 11, 6), 2, 2);
      });
    default:
      return Blank({kIcon, kIcon});
  }
}

QPixmap DrawChipPicture(int picture, QSize size) {
  QPixmap pixmap = Blank(size);
  QPainter p(&pixmap);
  Antialias(p);
  const QRectF area(0, 0, size.width(), size.height());
  QLinearGradient bg(area.topLeft(), area.bottomLeft());
  bg.setColorAt(0, QColor(245, 247, 250));
  bg.setColorAt(1, QColor(222, 228, 236));
  p.setPen(QPen(QColor(170, 178, 190), 1));
  p.setBrush(bg);
  p.drawRoundedRect(area.adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);

  struct Kind {
    const char* family;
    const char* note;
    QColor body;
    bool org16;
  };
  static const Kind kinds[] = {
      {"", "socket empty", QColor(0, 0, 0, 0), false},
      {"25 SPI FLASH", "pin 1 at the lever", QColor(40, 40, 48), false},
      {"25 EEPROM", "pin 1 at the lever", QColor(55, 45, 40), false},
      {"25 EEPROM", "3-byte address", QColor(70, 45, 40), false},
      {"93 EEPROM", "ORG low: 8-bit", QColor(30, 55, 60), false},
      {"93 EEPROM", "ORG high: 16-bit", QColor(30, 55, 60), true},
      {"24 EEPROM", "pin 1 at the lever", QColor(45, 40, 60), false},
  };
  const Kind& kind = kinds[(picture >= 0 && picture <= 6) ? picture : 0];

  // The ZIF socket.
  const double w = area.width(), h = area.height();
  const QRectF socket(w * 0.22, h * 0.14, w * 0.56, h * 0.62);
  p.setPen(QPen(QColor(20, 90, 30), 1.5));
  p.setBrush(QColor(40, 160, 60));
  p.drawRoundedRect(socket, 4, 4);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(25, 120, 40));
  for (int i = 0; i < 4; ++i) {
    const double y = socket.top() + socket.height() * (0.2 + 0.17 * i);
    p.drawRect(QRectF(socket.left() + 6, y, 6, 5));
    p.drawRect(QRectF(socket.right() - 12, y, 6, 5));
  }
  // Lever.
  p.setPen(QPen(QColor(200, 200, 205), 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(socket.left() - 4, socket.top() + 4),
             QPointF(socket.left() - 4, socket.bottom() - 4));

  if (picture >= 1 && picture <= 6) {
    const QRectF body(socket.left() + socket.width() * 0.28, socket.top() + socket.height() * 0.12,
                      socket.width() * 0.44, socket.height() * 0.62);
    DrawChip(p, body, kind.body);
    p.setPen(QColor(230, 230, 230));
    QFont f = p.font();
    f.setPixelSize(9);
    p.setFont(f);
    p.save();
    p.translate(body.center());
    p.rotate(90);
    p.drawText(QRectF(-body.height() / 2, -body.width() / 2, body.height(), body.width()),
               Qt::AlignCenter, kind.org16 ? "x16" : "SOP8");
    p.restore();
  }
  QFont f = p.font();
  f.setPixelSize(12);
  f.setBold(true);
  p.setFont(f);
  p.setPen(QColor(40, 50, 70));
  p.drawText(QRectF(0, h * 0.78, w, h * 0.12), Qt::AlignCenter, kind.family);
  f.setBold(false);
  f.setPixelSize(10);
  p.setFont(f);
  p.setPen(QColor(90, 100, 115));
  p.drawText(QRectF(0, h * 0.88, w, h * 0.11), Qt::AlignCenter, kind.note);
  return pixmap;
}

}  // namespace

QPixmap ButtonIcon(int control_id) {
  static QHash<int, QPixmap> cache;
  auto it = cache.find(control_id);
  if (it == cache.end()) it = cache.insert(control_id, DrawButtonIcon(control_id));
  return *it;
}

QPixmap BusyIcon() {
  static const QPixmap busy = Icon([](QPainter& p) {
    p.setPen(QPen(QColor(200, 60, 40), 1.5));
    p.setBrush(QColor(255, 235, 230));
    p.drawEllipse(QPointF(16, 16), 13, 13);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(210, 50, 40));
    p.drawRoundedRect(QRectF(10, 10, 12, 12), 2, 2);
  });
  return busy;
}

QPixmap BulkFrame(int frame) {
  static QPixmap frames[4];
  frame = ((frame % 4) + 4) % 4;
  if (frames[frame].isNull()) {
    frames[frame] = Icon([frame](QPainter& p) {
      // A stack of chips moving along a belt: each frame shifts the highlight.
      for (int i = 0; i < 4; ++i) {
        const QColor colour = i == frame ? QColor(250, 160, 30) : QColor(70, 80, 100);
        DrawChip(p, QRectF(4 + i * 6.5, 8 + (i == frame ? -3 : 0), 5, 10), colour);
      }
      p.setPen(QPen(QColor(120, 120, 130), 2));
      p.drawLine(QPointF(2, 24), QPointF(30, 24));
      p.setBrush(QColor(160, 160, 170));
      for (int i = 0; i < 4; ++i) {
        const double x = 5 + ((i * 7 + frame * 2) % 28);
        p.drawEllipse(QPointF(x, 27), 2, 2);
      }
    });
  }
  return frames[frame];
}

QPixmap ChipPicture(int picture, QSize size) {
  return DrawChipPicture(picture, size);
}

QPixmap ProgrammerPicture(int picture, QSize size, bool plugged_in) {
  QPixmap pixmap = Blank(size);
  QPainter p(&pixmap);
  Antialias(p);
  const double w = size.width(), h = size.height();
  const bool series = picture != 208;
  const QColor board = series ? QColor(30, 70, 140) : QColor(25, 110, 60);
  // USB plug, pulled out a little when the programmer is unplugged.
  p.setPen(QPen(QColor(120, 120, 125), 1));
  p.setBrush(QColor(200, 200, 205));
  p.drawRect(QRectF(w * 0.38, plugged_in ? h * 0.02 : 0.0, w * 0.24,
                    h * 0.1 - (plugged_in ? 0 : h * 0.04)));
  // Board.
  const QRectF body(w * 0.12, h * 0.11, w * 0.76, h * 0.8);
  p.setPen(QPen(board.darker(150), 2));
  p.setBrush(board);
  p.drawRoundedRect(body, 8, 8);
  // Socket.
  const QRectF socket(body.left() + body.width() * 0.15, body.top() + body.height() * 0.48,
                      body.width() * 0.7, body.height() * 0.4);
  p.setBrush(QColor(40, 40, 40));
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(socket, 4, 4);
  p.setBrush(QColor(90, 90, 90));
  for (int i = 0; i < 4; ++i) {
    const double y = socket.top() + socket.height() * (0.15 + 0.2 * i);
    p.drawRect(QRectF(socket.left() + 6, y, 8, 5));
    p.drawRect(QRectF(socket.right() - 14, y, 8, 5));
  }
  // LEDs: lit while the programmer is on the bus, dark and rimmed when it is not.
  if (!plugged_in) p.setPen(QPen(QColor(20, 20, 20), 1));
  p.setBrush(plugged_in ? QColor(80, 255, 90) : QColor(40, 70, 45));
  p.drawEllipse(QPointF(body.left() + 16, body.top() + 16), 4, 4);
  p.setBrush(plugged_in ? QColor(255, 80, 60) : QColor(75, 40, 35));
  p.drawEllipse(QPointF(body.left() + 30, body.top() + 16), 4, 4);
  p.setPen(Qt::NoPen);
  // Name plate.
  QFont f = p.font();
  f.setPixelSize(15);
  f.setBold(true);
  p.setFont(f);
  p.setPen(QColor(240, 240, 240));
  p.drawText(QRectF(body.left(), body.top() + body.height() * 0.12, body.width(), 22),
             Qt::AlignCenter, "Tarvix");
  f.setPixelSize(10);
  f.setBold(false);
  p.setFont(f);
  p.drawText(QRectF(body.left(), body.top() + body.height() * 0.12 + 20, body.width(), 16),
             Qt::AlignCenter, series ? "USB programmer  S2" : "USB programmer");
  return pixmap;
}

QPixmap WebLinkPicture(QSize size) {
  QPixmap pixmap = Blank(size);
  QPainter p(&pixmap);
  Antialias(p);
  const QRectF area(0, 0, size.width(), size.height());
  QLinearGradient bg(area.topLeft(), area.bottomRight());
  bg.setColorAt(0, QColor(30, 80, 160));
  bg.setColorAt(1, QColor(20, 150, 190));
  p.setPen(Qt::NoPen);
  p.setBrush(bg);
  p.drawRoundedRect(area.adjusted(1, 1, -1, -1), 8, 8);
  p.drawPixmap(QPointF(area.center().x() - 24, area.height() * 0.12), Logo(48));
  QFont f = p.font();
  f.setPixelSize(16);
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(QRectF(0, area.height() * 0.5, area.width(), 22), Qt::AlignCenter, "VRNT_Tarvix");
  f.setPixelSize(11);
  f.setBold(false);
  f.setUnderline(true);
  p.setFont(f);
  p.drawText(QRectF(0, area.height() * 0.5 + 24, area.width(), 18), Qt::AlignCenter,
             "visit our web site");
  return pixmap;
}

QPixmap Logo(int size) {
  QPixmap pixmap = Blank({size, size});
  QPainter p(&pixmap);
  Antialias(p);
  const double s = size;
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(250, 170, 30));
  p.drawRoundedRect(QRectF(s * 0.04, s * 0.04, s * 0.92, s * 0.92), s * 0.18, s * 0.18);
  DrawChip(p, QRectF(s * 0.3, s * 0.22, s * 0.4, s * 0.56), QColor(35, 40, 55));
  QFont f = p.font();
  f.setPixelSize(static_cast<int>(s * 0.3));
  f.setBold(true);
  p.setFont(f);
  p.setPen(QColor(250, 200, 60));
  p.drawText(QRectF(0, s * 0.3, s, s * 0.4), Qt::AlignCenter, "T");
  return pixmap;
}

QIcon WindowIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64}) icon.addPixmap(Logo(size));
  return icon;
}

namespace {

// The small images of the menu items that have no button of their own.
QPixmap DrawMenuImage(int command_id) {
  const QColor chip(60, 60, 70);
  switch (command_id) {
    case c::kSave:
    case c::kSaveAs:
      return Icon([command_id](QPainter& p) {
        p.setPen(QPen(QColor(30, 60, 120), 1.5));
        p.setBrush(QColor(70, 120, 200));
        p.drawRoundedRect(QRectF(4, 4, 24, 24), 2, 2);
        p.setBrush(QColor(235, 240, 250));
        p.drawRect(QRectF(9, 4, 14, 9));
        p.setBrush(QColor(30, 60, 120));
        p.drawRect(QRectF(10, 19, 12, 9));
        // Save As: the same disk with a pen over it.
        if (command_id == c::kSaveAs)
          Arrow(p, QPointF(16, 30), QPointF(29, 17), QColor(240, 170, 30));
      });
    case menu_id::kExist:
      return Icon([](QPainter& p) {
        p.setPen(QPen(QColor(110, 80, 50), 1.2));
        p.setBrush(QColor(180, 130, 80));
        p.drawRect(QRectF(4, 3, 14, 26));
        p.setBrush(QColor(240, 200, 80));
        p.drawEllipse(QPointF(15, 16), 1.5, 1.5);
        Arrow(p, QPointF(15, 16), QPointF(29, 16), QColor(200, 50, 40));
      });
    case c::kMoveTo:
      return Icon([](QPainter& p) {
        DrawSheet(p, QRectF(3, 3, 20, 26), 4);
        Arrow(p, QPointF(10, 12), QPointF(27, 22), QColor(30, 110, 210));
      });
    case c::kViewData:
      return Icon([chip](QPainter& p) {
        DrawSheet(p, QRectF(2, 4, 14, 20), 2);
        DrawChip(p, QRectF(20, 6, 9, 14), chip);
        p.setPen(QPen(QColor(40, 40, 50), 1.5));
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(16, 25), 8, 4.5);
        p.setBrush(QColor(30, 110, 210));
        p.drawEllipse(QPointF(16, 25), 2.5, 2.5);
      });
    case c::kFindData:
      return Icon([](QPainter& p) {
        DrawSheet(p, QRectF(3, 2, 18, 24), 4);
        DrawMagnifier(p, QPointF(18, 17), 6.5);
      });
    case c::kFileFill:
      return Icon([](QPainter& p) {
        DrawSheet(p, QRectF(2, 2, 17, 23), 3);
        DrawBucket(p, QPointF(20, 19), QColor(30, 110, 210));
      });
    case c::kChipFill:
      return Icon([chip](QPainter& p) {
        DrawChip(p, QRectF(5, 4, 12, 18), chip);
        DrawBucket(p, QPointF(20, 19), QColor(240, 150, 30));
      });
    case c::kWriteFromFileAddress:
      return Icon([chip](QPainter& p) {
        DrawSheet(p, QRectF(2, 2, 16, 27), 5);
        p.setPen(QPen(QColor(220, 60, 50), 2));
        p.drawLine(QPointF(1, 15), QPointF(19, 15));
        DrawChip(p, QRectF(22, 14, 7, 13), chip);
      });
    case menu_id::kFilesCombine:
      return Icon([](QPainter& p) {
        DrawSheet(p, QRectF(2, 2, 11, 13), 1);
        DrawSheet(p, QRectF(2, 17, 11, 13), 1);
        Arrow(p, QPointF(13, 9), QPointF(19, 14), QColor(40, 140, 60), 2);
        Arrow(p, QPointF(13, 23), QPointF(19, 18), QColor(40, 140, 60), 2);
        DrawSheet(p, QRectF(20, 6, 10, 20), 3);
      });
    case menu_id::kFileDivision:
      return Icon([](QPainter& p) {
        DrawSheet(p, QRectF(6, 2, 20, 28), 5);
        p.setPen(QPen(QColor(220, 60, 50), 2, Qt::DashLine));
        p.drawLine(QPointF(2, 16), QPointF(30, 16));
      });
    case menu_id::kChecksums:
      return Icon([](QPainter& p) {
        DrawSheet(p, QRectF(3, 2, 18, 26), 4);
        p.setPen(QPen(QColor(40, 140, 60), 3));
        p.drawLine(QPointF(16, 22), QPointF(21, 28));
        p.drawLine(QPointF(21, 28), QPointF(30, 14));
      });
    case menu_id::kDifferenceList:
      return Icon([](QPainter& p) {
        DrawSheet(p, QRectF(2, 3, 13, 24), 4);
        DrawSheet(p, QRectF(17, 3, 13, 24), 4);
        p.setPen(QPen(QColor(220, 60, 50), 2));
        p.drawLine(QPointF(4, 15), QPointF(28, 15));
      });
    case menu_id::kProductionLog:
      return Icon([chip](QPainter& p) {
        DrawSheet(p, QRectF(3, 2, 20, 27), 6);
        DrawChip(p, QRectF(20, 16, 9, 13), chip);
      });
    case menu_id::kGang:
      return Icon([chip](QPainter& p) {
        for (int i = 0; i < 4; ++i) DrawChip(p, QRectF(1 + 8 * i, 9, 6, 14), chip);
      });
    case menu_id::kSerialNumbers:
      return Icon([](QPainter& p) {
        p.setPen(QPen(QColor(30, 60, 120), 1.2));
        p.setBrush(QColor(250, 250, 245));
        p.drawRoundedRect(QRectF(2, 8, 28, 16), 2, 2);
        p.setPen(QColor(30, 110, 210));
        QFont font = p.font();
        font.setPixelSize(11);
        font.setBold(true);
        p.setFont(font);
        p.drawText(QRectF(2, 8, 28, 16), Qt::AlignCenter, "123");
      });
    case menu_id::kContents:
      return Icon([](QPainter& p) {
        p.setPen(QPen(QColor(30, 60, 120), 1.2));
        p.setBrush(QColor(70, 120, 200));
        p.drawRoundedRect(QRectF(5, 3, 22, 26), 2, 2);
        p.setBrush(QColor(250, 250, 245));
        p.drawRect(QRectF(9, 24, 18, 4));
        QFont f = p.font();
        f.setPixelSize(17);
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRectF(7, 3, 20, 21), Qt::AlignCenter, "?");
      });
    case menu_id::kCheckNew:
      return Icon([](QPainter& p) {
        p.setPen(QPen(QColor(20, 90, 150), 1.5));
        p.setBrush(QColor(90, 170, 230));
        p.drawEllipse(QPointF(14, 14), 11, 11);
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(14, 14), 5, 11);
        p.drawLine(QPointF(3, 14), QPointF(25, 14));
        Arrow(p, QPointF(25, 16), QPointF(25, 29), QColor(40, 140, 60), 3);
      });
    case menu_id::kOperateLog:
      return Icon([](QPainter& p) {
        DrawSheet(p, QRectF(4, 2, 20, 27), 5);
        p.translate(24, 14);
        p.rotate(30);
        p.setPen(QPen(QColor(120, 80, 10), 1));
        p.setBrush(QColor(250, 200, 50));
        p.drawRect(QRectF(-2.5, -10, 5, 14));
        QPolygonF tip;
        tip << QPointF(-2.5, 4) << QPointF(2.5, 4) << QPointF(0, 9);
        p.setBrush(QColor(240, 220, 180));
        p.drawPolygon(tip);
      });
    case menu_id::kFeedback:
      return Icon([](QPainter& p) {
        p.setPen(QPen(QColor(120, 100, 60), 1.2));
        p.setBrush(QColor(250, 240, 210));
        p.drawRect(QRectF(3, 8, 26, 18));
        p.drawPolyline(QPolygonF() << QPointF(3, 8) << QPointF(16, 19) << QPointF(29, 8));
      });
    case menu_id::kAboutUs:
      return Logo(kIcon);
    default:
      return {};
  }
}

}  // namespace

QIcon MenuIcon(int command_id) {
  switch (command_id) {
    case c::kBrowse:
    case c::kAuto:
    case c::kErase:
    case c::kWrite:
    case c::kVerify:
    case c::kRead:
    case c::kBlank:
    case c::kTest:
      return QIcon(ButtonIcon(command_id));
    case c::kFirmwareVersion:
    case c::kFirmwareUpgrade:
      return QIcon(ProgrammerPicture(208, {32, 32}));
    default: {
      static QHash<int, QPixmap> cache;
      auto it = cache.find(command_id);
      if (it == cache.end()) it = cache.insert(command_id, DrawMenuImage(command_id));
      return it->isNull() ? QIcon() : QIcon(*it);
    }
  }
}

}  // namespace tarvix::gui::artwork
