// SPDX-License-Identifier: GPL-3.0-or-later
// What write and verify both give back when they end, on every exit path.
#pragma once

#include <gtest/gtest.h>

#include <string_view>

#include "state/command_state.h"

namespace tarvix::testing {

inline void ExpectStreamControlsRestored(const CommandState& c, int button,
                                         std::string_view idle_caption) {
  for (const int id :
       {control_id::kBrowse, control_id::kRead, control_id::kVerify, control_id::kErase,
        control_id::kAuto, control_id::kTest, control_id::kBlank, control_id::kWrite})
    EXPECT_TRUE(c.IsEnabled(id)) << id;
  for (const int id :
       {control_id::kSaveAs, control_id::kFindData, control_id::kMoveTo, control_id::kChipFill,
        control_id::kViewData, control_id::kFirmwareVersion, control_id::kFirmwareUpgrade})
    EXPECT_FALSE(c.IsMenuGrayed(id)) << id;
  EXPECT_EQ(c.Caption(button), idle_caption);
  EXPECT_FALSE(c.IsBusy(button));
}

}  // namespace tarvix::testing
