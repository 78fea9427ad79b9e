// What the window shows, measured on its pixels and geometry: each case is something
// a screenshot once showed wrong.
#include <QAction>
#include <QImage>
#include <QPushButton>
#include <algorithm>
#include <cmath>
#include <vector>

#include "gui/caption_progress_bar.h"
#include "gui/window_fixture.h"
#include "state/captions.h"

namespace tarvix::gui::testing {
namespace {

// Relative luminance and contrast ratio as the accessibility guidelines define them.
double Luminance(const QColor& c) {
  const auto linear = [](double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

double Contrast(const QColor& a, const QColor& b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
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
  EXPECT_EQ(bar.font().weight(), QFont::Light);  // the caption's light face stays
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
  EXPECT_EQ(picture(), plugged);
}

}  // namespace
}  // namespace tarvix::gui::testing
