// SPDX-License-Identifier: GPL-3.0-or-later
// Chip recognition (silent, worker command 7) and chip test (command 23, and the
// pre-check of erase, blank check, write, read, verify and chip fill): probe the
// socket, match the chip ID against the catalogue or the EEPROM families, and
// select the result.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "operations/operation_context.h"

namespace tarvix {

// Result codes of both routines.
inline constexpr int kRecognisedInCatalogue = 1;  // or "Auto Recognize" is off (recognition)
inline constexpr int kRecognisedFamily = 0;       // EEPROM family, or SPI FLASH not in catalogue
inline constexpr int kNoChip = -1;                // no chip, read error, DFU mode
inline constexpr int kNoProgrammer = -2;          // missing/unopenable, or the ID command failed

// What one run found, for a caller that must know more than the result code (the
// command-line tool never programs a chip it has not identified).
struct RecognitionFindings {
  // The ID that decided the run as six hex digits: a catalogue chip's, an unknown SPI
  // FLASH's, or a reserved family text ("000001" to "000004"). Empty when none did.
  std::string id_text;
  // The records the ID matched, in table order; empty for a family or an unknown ID.
  std::vector<std::int32_t> matches;
};

// Worker command 7. `flag` is the worker's argument.
int ChipRecognition(OperationContext& ctx, bool flag, RecognitionFindings* findings = nullptr);
// Worker command 23 and the operations' pre-check.
int ChipTest(OperationContext& ctx, RecognitionFindings* findings = nullptr);

}  // namespace tarvix
