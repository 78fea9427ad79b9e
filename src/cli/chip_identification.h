// SPDX-License-Identifier: GPL-3.0-or-later
// The command line never guesses the chip. The window lets recognition pick a record
// and the user correct it from the lists; a script has no lists to look at, so a chip
// that recognition could not pin down to one catalogue record, or one whose ID differs
// from the record the user named, is refused with the reason.
#pragma once

#include <cstdint>
#include <string>

#include "catalogue/chip_catalogue.h"
#include "operations/recognition.h"

namespace tarvix::cli {

struct ChipIdentification {
  bool settled = false;
  std::int32_t record = -1;  // the record to work on when settled (-1: let the operation report)
  std::string refusal;       // why not, when not settled
};

struct ChipNaming {
  std::int32_t record = -1;  // the record the user (or the run) named; -1 for none
  std::string how;           // "--chip W25Q32BV", "this run's chip W25Q32BV"
};

// Judges what recognition found. `result` is its result code, `auto_recognize` the
// setting (off: nothing was probed). A programmer that is missing, an empty socket and
// the update mode are left to the operation, which reports them in its own words.
[[nodiscard]] ChipIdentification JudgeChip(const ChipCatalogue& catalogue, int result,
                                           const RecognitionFindings& findings, bool auto_recognize,
                                           const ChipNaming& named);

}  // namespace tarvix::cli
