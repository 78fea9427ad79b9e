// SPDX-License-Identifier: GPL-3.0-or-later
// What the chip commands print of production: checksums, verify's difference list and
// the serial-number options of auto --bulk, as text and as JSON.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "production/diff_list.h"
#include "production/serial_number.h"
#include "production/stream_checksums.h"

namespace tarvix::cli {

// "image CRC-32 1A2B3C4D SHA-256 9f86...\n" (`what`: "image" or "chip").
[[nodiscard]] std::string SumsLine(std::string_view what, const Checksums& sums);
// ",\"image_crc32\":\"1A2B3C4D\",\"image_sha256\":\"9f86...\"", both null without sums.
[[nodiscard]] std::string SumsJson(std::string_view what, const std::optional<Checksums>& sums);

// The differences a verify found: their count, the ranges `list` kept (one per line)
// and how many more there were.
[[nodiscard]] std::string DiffText(const DiffList& list, std::uint64_t ranges, std::uint64_t bytes);
// ",\"diff\":{\"ranges\":R,\"bytes\":B,\"list\":[...],\"more_ranges\":M,\"more_bytes\":N}";
// the bytes of each side as hexadecimal text (the first 16 of a longer range).
[[nodiscard]] std::string DiffJson(const DiffList& list, std::uint64_t ranges, std::uint64_t bytes);

// One serial-number option of auto ("--serial-address" and the like) and its value
// into `settings`. False with `error` for an option of another name (`known` false)
// or a value it does not take.
[[nodiscard]] bool ParseSerialOption(const std::string& option, const std::string& value,
                                     SerialSettings& settings, bool* known, std::string* error);

}  // namespace tarvix::cli
