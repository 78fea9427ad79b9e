// SPDX-License-Identifier: GPL-3.0-or-later
#include "state/gray_sets.h"

#include "state/control_ids.h"

namespace tarvix {

namespace c = control_id;

const OperationControls& ControlsOf(RunningOperation operation) {
  static const OperationControls kWrite = {
      c::kWrite,
      {c::kBrowse, c::kRead, c::kVerify, c::kErase, c::kAuto, c::kTest, c::kBlank},
      {c::kSaveAs, c::kFindData, c::kFileFill, c::kMoveTo, c::kChipFill, c::kViewData,
       c::kFirmwareVersion, c::kFirmwareUpgrade},
      {c::kMoveTo, c::kSaveAs, c::kFindData, c::kChipFill, c::kViewData, c::kFirmwareVersion,
       c::kFirmwareUpgrade},
      true};
  static const OperationControls kErase = {
      c::kErase,
      {c::kRead, c::kVerify, c::kAuto, c::kTest, c::kWrite, c::kBlank},
      {c::kChipFill, c::kViewData, c::kFirmwareVersion, c::kFirmwareUpgrade},
      {c::kSaveAs, c::kFindData, c::kChipFill, c::kViewData, c::kFirmwareVersion,
       c::kFirmwareUpgrade},
      false};
  static const OperationControls kBlank = {
      c::kBlank,
      {c::kWrite, c::kRead, c::kVerify, c::kErase, c::kTest, c::kAuto},
      {c::kChipFill, c::kViewData, c::kFirmwareVersion, c::kFirmwareUpgrade},
      {c::kSaveAs, c::kFindData, c::kChipFill, c::kViewData, c::kFirmwareVersion,
       c::kFirmwareUpgrade},
      false};
  static const OperationControls kRead = {
      c::kRead,
      {c::kVerify, c::kErase, c::kAuto, c::kTest, c::kWrite, c::kBlank},
      {c::kChipFill, c::kViewData, c::kFirmwareVersion, c::kFileFill, c::kMoveTo,
       c::kFirmwareUpgrade},
      {c::kSaveAs, c::kFindData, c::kChipFill, c::kViewData, c::kFirmwareVersion,
       c::kFirmwareUpgrade, c::kMoveTo},
      true};
  static const OperationControls kVerify = {
      c::kVerify,
      {c::kRead, c::kAuto, c::kTest, c::kWrite, c::kErase, c::kBrowse, c::kBlank},
      {c::kSaveAs, c::kFindData, c::kFileFill, c::kMoveTo, c::kChipFill, c::kViewData,
       c::kFirmwareVersion, c::kFirmwareUpgrade},
      {c::kMoveTo, c::kSaveAs, c::kFindData, c::kChipFill, c::kViewData, c::kFirmwareVersion,
       c::kFirmwareUpgrade},
      true};
  switch (operation) {
    case RunningOperation::kWrite:
      return kWrite;
    case RunningOperation::kErase:
      return kErase;
    case RunningOperation::kBlankCheck:
      return kBlank;
    case RunningOperation::kRead:
      return kRead;
    case RunningOperation::kVerify:
      break;
  }
  return kVerify;
}

}  // namespace tarvix
