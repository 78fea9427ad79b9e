// Chip recognition (silent, worker command 7) and chip test (command 23, and the
// pre-check of erase, blank check, write, read, verify and chip fill): probe the
// socket, match the chip ID against the catalogue or the EEPROM families, and
// select the result.
#pragma once

#include "operations/operation_context.h"

namespace tarvix {

// Result codes of both routines.
inline constexpr int kRecognisedInCatalogue = 1;  // or "Auto Recognize" is off (recognition)
inline constexpr int kRecognisedFamily = 0;       // EEPROM family, or SPI FLASH not in catalogue
inline constexpr int kNoChip = -1;                // no chip, read error, DFU mode
inline constexpr int kNoProgrammer = -2;          // missing/unopenable, or the ID command failed

// Worker command 7. `flag` is the worker's argument.
int ChipRecognition(OperationContext& ctx, bool flag);
// Worker command 23 and the operations' pre-check.
int ChipTest(OperationContext& ctx);

}  // namespace tarvix
