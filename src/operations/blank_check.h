// SPDX-License-Identifier: GPL-3.0-or-later
// Blank check (worker command 15): the programmer checks the whole chip and answers
// with six bytes, blank, or the first programmed address and the value found there.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "operations/operation_context.h"

namespace tarvix {

// Polls of up to 64 bytes, one second each, before the check is given up.
inline constexpr int kBlankCheckPolls = 30;
inline constexpr std::uint8_t kBlankReplyBlank = 0x0F;
inline constexpr std::uint8_t kBlankReplyNotBlank = 0x10;

// Always runs its pre-check (chip test or device-open check; no question asked).
// True when the chip is blank.
[[nodiscard]] bool BlankCheck(OperationContext& ctx);

// The not-blank box text of a 6-byte reply: address as eight hex digits, data as two.
[[nodiscard]] std::string NotBlankText(std::span<const std::uint8_t, 6> reply);

}  // namespace tarvix
