// SPDX-License-Identifier: GPL-3.0-or-later
#include "state/captions.h"

#include "state/control_ids.h"

namespace tarvix {

namespace c = control_id;

const std::vector<ButtonTexts>& OperationButtons() {
  static const std::vector<ButtonTexts> kButtons = {
      {control_id::kAuto, "Auto(F9)", nullptr, "F9:auto erase,write and verify chip", nullptr},
      {control_id::kErase, "Erase(F4)", "Stop erase(F4)", "F4:erase chip", "F4:stop erase chip"},
      {control_id::kWrite, "Write(F6)", "Stop Write(F6)", "F6:write chip", "F6:stop write chip"},
      {control_id::kVerify, "Verify(F8)", "Stop verify(F8)", "F8:verify chip",
       "F8:stop verify chip"},
      {control_id::kRead, "Read(F7)", "Stop read(F7)", "F7:read chip", "F7:stop read chip"},
      {control_id::kBlank, "Blank(F3)", "Stop blank(F3)", "F3:check chip blank",
       "F3:stop check chip blank"},
      {control_id::kTest, "Test(F5)", nullptr, "F5:test device and chip", nullptr},
      // The bulk button's busy caption carries a count and is set by bulk mode itself.
      {control_id::kBulkMode, "Bulk Mode(F2)", nullptr, "click to start bulk write mode", nullptr},
      {control_id::kBrowse, "brower", nullptr, "CTRL+O:brower", nullptr},
  };
  return kButtons;
}

const std::vector<int>& InitiallyGrayedMenuItems() {
  static const std::vector<int> kGrayed = {
      control_id::kSave,        control_id::kSaveAs,   control_id::kEditMode,
      control_id::kMoveTo,      control_id::kViewData, control_id::kFindData,
      control_id::kFileFill,    control_id::kChipFill, control_id::kWriteFromFileAddress,
      menu_id::kDifferenceList,
  };
  return kGrayed;
}

const std::vector<MenuEntry>& MainMenu() {
  using S = MenuState;
  static const std::vector<MenuEntry> kMenu = {
      {"File", "", "&Open", c::kBrowse, S::kNormal},
      {"File", "", "&Save", c::kSave, S::kGrayed},
      {"File", "", "Save &As", c::kSaveAs, S::kGrayed},
      {"File", "", "&Edit Mode", c::kEditMode, S::kGrayed},
      {"File", "", "", 0, S::kSeparator},
      {"File", "", "E&xist", menu_id::kExist, S::kNormal},
      {"Operate", "", "&Auto", c::kAuto, S::kNormal},
      {"Operate", "", "&Erase", c::kErase, S::kNormal},
      {"Operate", "", "&Write", c::kWrite, S::kNormal},
      {"Operate", "", "&Verify", c::kVerify, S::kNormal},
      {"Operate", "", "", 0, S::kSeparator},
      {"Operate", "", "&Blank", c::kBlank, S::kNormal},
      {"Operate", "", "&Read", c::kRead, S::kNormal},
      {"Operate", "", "", 0, S::kSeparator},
      {"Operate", "", "&Gang...", menu_id::kGang, S::kNormal},
      {"Addr Operate", "", "&Move To", c::kMoveTo, S::kGrayed},
      {"Addr Operate", "", "&View Data", c::kViewData, S::kGrayed},
      {"Addr Operate", "", "Find &Datas", c::kFindData, S::kGrayed},
      {"Addr Operate", "", "File &Fill", c::kFileFill, S::kGrayed},
      {"Addr Operate", "", "&Chip Fill", c::kChipFill, S::kGrayed},
      {"Addr Operate", "", "", 0, S::kSeparator},
      {"Addr Operate", "", "Write from specify file addr...", c::kWriteFromFileAddress, S::kGrayed},
      {"Tools", "", "Files Combine", menu_id::kFilesCombine, S::kNormal},
      {"Tools", "", "File Division", menu_id::kFileDivision, S::kNormal},
      {"Production", "", "&Checksums", menu_id::kChecksums, S::kNormal},
      {"Production", "", "&Difference List", menu_id::kDifferenceList, S::kGrayed},
      {"Production", "", "", 0, S::kSeparator},
      {"Production", "", "Production &Log", menu_id::kProductionLog, S::kNormal},
      {"Production", "", "Serial &Numbers...", menu_id::kSerialNumbers, S::kNormal},
      {"Firm Operate", "", "&Test Chip", c::kTest, S::kNormal},
      {"Firm Operate", "", "&Firmware Version", c::kFirmwareVersion, S::kNormal},
      {"Firm Operate", "", "", 0, S::kSeparator},
      {"Firm Operate", "", "Firmware &Upgrade", c::kFirmwareUpgrade, S::kNormal},
      {"Settings", "", "Remind Sound", 32809, S::kChecked},
      {"Settings", "", "Auto Recognize", 32811, S::kChecked},
      {"Settings", "Bulk Process", " Erase ", 32820, S::kChecked},
      {"Settings", "Bulk Process", " Write", 32821, S::kChecked},
      {"Settings", "Bulk Process", " Verify", 32822, S::kChecked},
      {"Help", "", "&Contents", menu_id::kContents, S::kNormal},
      {"Help", "", "Check &New", menu_id::kCheckNew, S::kNormal},
      {"Help", "", "Operate log", menu_id::kOperateLog, S::kNormal},
      {"Help", "", "", 0, S::kSeparator},
      {"Help", "", "&Feedback", menu_id::kFeedback, S::kNormal},
      {"Help", "", "&About Us", menu_id::kAboutUs, S::kNormal},
  };
  return kMenu;
}

}  // namespace tarvix
