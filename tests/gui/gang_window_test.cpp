// SPDX-License-Identifier: GPL-3.0-or-later
// The Gang view in the real window over three simulated programmers: shown in the
// menu only with more than one programmer, a row per programmer, the main window's
// operations grayed while the gang owns the programmers, the loaded image programmed
// into every socket at once, and the main window whole again once the view closes.
#include <QAction>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

#include "gui/gang_window.h"
#include "gui/window_fixture.h"
#include "state/control_ids.h"

namespace tarvix::gui::testing {
namespace {

namespace c = control_id;

class GangView : public WindowFixture {};

TEST_F(GangView, OneProgrammerHasNoGangItem) {
  Open();
  Settle();
  EXPECT_FALSE(window_->MenuAction(menu_id::kGang)->isVisible());
}

TEST_F(GangView, ThreeProgrammersProgramTheLoadedImageAtOnce) {
  Open(sim::Timing::kInstant, true, "W25X10", 3);
  ASSERT_TRUE(WaitFor([this] { return window_->MenuAction(menu_id::kGang)->isVisible(); }));
  const auto image = MakeImage("img.bin", 50000);
  OpenFile(image);
  ASSERT_TRUE(WaitIdle());

  Menu(menu_id::kGang);
  GangWindow* view = window_->Gang().View();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->windowTitle().toStdString(), kGangTitle);
  ASSERT_EQ(view->Table()->rowCount(), 3);
  for (const int id : {c::kAuto, c::kWrite, c::kRead, c::kErase}) EXPECT_TRUE(Grayed(id)) << id;

  view->Count()->setValue(1);
  view->StartButton()->click();
  ASSERT_TRUE(WaitFor([&] {
    view->Refresh();
    return !view->TheGang().Running() && view->Table()->item(2, kGangPassed) != nullptr &&
           view->Table()->item(2, kGangPassed)->text() == "1";
  }));
  for (int row = 0; row < 3; ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(view->Table()->item(row, kGangSerial)->text().toStdString(),
              std::to_string(sim::kFirstSimulatedSerial + row));
    EXPECT_EQ(view->Table()->item(row, kGangState)->text(), "done");
    EXPECT_EQ(view->Table()->item(row, kGangPassed)->text(), "1");
    const std::vector<std::uint8_t> chip =
        sim_->bus->Programmer(static_cast<std::size_t>(row)).chip()->ReadRange(0, 50000);
    bool same = true;
    for (std::size_t i = 0; i < chip.size(); ++i)
      same = same && chip[i] == static_cast<std::uint8_t>((i * 7 + 3) & 0xFF);
    EXPECT_TRUE(same);
  }

  view->close();
  Settle();
  EXPECT_EQ(window_->Gang().View(), nullptr);
  EXPECT_FALSE(Grayed(c::kAuto));
}

}  // namespace
}  // namespace tarvix::gui::testing
