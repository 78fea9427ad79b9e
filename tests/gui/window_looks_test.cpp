// SPDX-License-Identifier: GPL-3.0-or-later
// What the window shows, measured on its pixels and geometry: each case is something
// a screenshot once showed wrong.
#include <QAction>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <cmath>
#include <vector>

#include "buffer/hex_page.h"
#include "gui/caption_progress_bar.h"
#include "gui/file_choosers.h"
#include "gui/hex_grid.h"
#include "gui/window_fixture.h"
#include "state/captions.h"

namespace tarvix::gui::testing {
namespace {

// Relative luminance as the accessibility guidelines define it.
double Luminance(const QColor& c) {
  const auto linear = [](double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

using LooksTest = WindowFixture;

// The caption is read as its strokes show on screen: the median of the pixels it
// inked must stand 4.5:1 from the bar behind it, over the green and over the trough.
TEST(CaptionProgressBarLooks, TheCaptionStandsOutOverBothPartsOfTheBar) {
  CaptionProgressBar bar;
  bar.resize(300, 20);
  bar.SetCaption("verified188%", CaptionAlign::kCentre);
  for (const int position : {0, 100}) {
    bar.SetPosition(position);
    const QImage picture = bar.grab().toImage();
    const QColor behind = picture.pixelColor(3, picture.height() / 2);
    std::vector<double> ink;
    for (int y = 2; y < picture.height() - 2; ++y)
      for (int x = 2; x < picture.width() - 2; ++x)
        if (picture.pixelColor(x, y) != behind) ink.push_back(Luminance(picture.pixelColor(x, y)));
    ASSERT_GT(ink.size(), 20u) << position;
    std::nth_element(ink.begin(), ink.begin() + ink.size() / 2, ink.end());
    const double median = ink[ink.size() / 2];
    const double ratio = (Luminance(behind) + 0.05) / (median + 0.05);
    EXPECT_GE(ratio, 4.5) << "at " << position << "%";
  }
}

TEST_F(LooksTest, SumCodesHaveRoomForTenOfAnyHexDigit) {
  Open();
  for (const int id : {1033, 1082}) {  // file sum code, chip sum code
    auto* label = qobject_cast<QLabel*>(window_->Control(id));
    ASSERT_NE(label, nullptr);
    for (const QChar digit : QString("0123456789ABCDEF"))
      EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(QString(10, digit)))
          << id << " " << digit.toLatin1();
  }
}

TEST_F(LooksTest, ALongStatusEndsInAnEllipsisAndShowsWholeOnHover) {
  Open();
  const std::string text =
      "find SPI FLASH,but cannot specify it's type,please select chip type manully!";
  host_->ShowStatus(text, true, false);
  QApplication::processEvents();
  QLabel* line = window_->StatusLine();
  EXPECT_TRUE(line->text().endsWith(QChar(0x2026))) << line->text().toStdString();
  EXPECT_LE(line->fontMetrics().horizontalAdvance(line->text()),
            line->contentsRect().width() - line->indent());
  EXPECT_EQ(line->toolTip().toStdString(), text);
}

TEST_F(LooksTest, TheGridEndsWithItsLastRow) {
  Open();
  HexGrid* grid = window_->Grid();
  // The last row's bottom line, then the frame: no strip below.
  EXPECT_EQ(grid->height(), grid->CellRect(HexPage::kGridRows - 1, 0).bottom() + 2);
  EXPECT_EQ(window_->Control(1002)->height(), grid->height());  // the scroll bar beside it
}

// Qt shows a filter's whole text: a name that repeats its own brackets reads twice.
TEST(FileFilterLooks, EveryFileTypeIsNamedOnce) {
  for (const QString& filters :
       {ImageFileFilter(), SaveFileFilter(), CombineFileFilter(), FirmwareFileFilter()})
    for (const QString& entry : filters.split(";;"))
      EXPECT_FALSE(entry.contains(")(")) << entry.toStdString();
}

TEST_F(LooksTest, EveryMenuItemWithoutACheckMarkHasAnImage) {
  Open();
  for (const MenuEntry& e : MainMenu()) {
    QAction* action = e.id == 0 ? nullptr : window_->MenuAction(e.id);
    if (action == nullptr || action->isCheckable()) continue;
    EXPECT_FALSE(action->icon().isNull()) << action->text().toStdString();
  }
}

TEST_F(LooksTest, TheProgrammerPictureDimsItsLightsWhileUnplugged) {
  Open();
  auto* button = qobject_cast<QPushButton*>(window_->Control(kSecondPictureControl));
  ASSERT_NE(button, nullptr);
  const auto picture = [&] { return button->icon().pixmap(button->iconSize()).toImage(); };
  const QImage plugged = picture();
  sim_menu_->Unplug();
  ASSERT_TRUE(WaitFor([&] { return host_->Status().red; }));
  ASSERT_TRUE(WaitIdle());
  EXPECT_NE(picture(), plugged);
  sim_menu_->Replug();
  ASSERT_TRUE(WaitFor([&] { return Status() == "find SPI FLASH"; }));
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(picture(), plugged);
}

}  // namespace
}  // namespace tarvix::gui::testing
