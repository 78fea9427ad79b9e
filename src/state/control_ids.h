// SPDX-License-Identifier: GPL-3.0-or-later
// The numbers of the main window's controls and menu items. A control and the menu
// item that runs the same command share one number, so disabling a command grays both.
#pragma once

namespace tarvix {

// Control and menu ids shared by buttons and menu items.
namespace control_id {
inline constexpr int kBrowse = 1004;
inline constexpr int kEditModeBox = 1006;
inline constexpr int kAuto = 1019;
inline constexpr int kErase = 1020;
inline constexpr int kWrite = 1021;
inline constexpr int kRead = 1022;
inline constexpr int kVerify = 1023;
inline constexpr int kTest = 1024;
inline constexpr int kBulkMode = 1026;
inline constexpr int kBlank = 1035;
inline constexpr int kEditMode = 32783;
inline constexpr int kSaveAs = 32784;
inline constexpr int kFirmwareVersion = 32788;
inline constexpr int kFileFill = 32801;
inline constexpr int kViewData = 32803;
inline constexpr int kChipFill = 32804;
inline constexpr int kSave = 32806;
inline constexpr int kMoveTo = 32807;
inline constexpr int kFirmwareUpgrade = 32808;
inline constexpr int kFindData = 32810;
inline constexpr int kWriteFromFileAddress = 32815;
}  // namespace control_id

// Menu ids of the commands that lead nowhere else.
namespace menu_id {
inline constexpr int kExist = 1;
inline constexpr int kAboutUs = 1025;
inline constexpr int kContents = 32797;
inline constexpr int kCheckNew = 32814;
inline constexpr int kFeedback = 32813;
inline constexpr int kOperateLog = 32819;
inline constexpr int kFilesCombine = 32817;
inline constexpr int kFileDivision = 32818;
// The "Production" menu.
inline constexpr int kChecksums = 32830;
inline constexpr int kDifferenceList = 32831;
inline constexpr int kProductionLog = 32832;
inline constexpr int kSerialNumbers = 32833;
// Operate > Gang: shown while more than one programmer is connected.
inline constexpr int kGang = 32834;
}  // namespace menu_id

}  // namespace tarvix
