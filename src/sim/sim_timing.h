// SPDX-License-Identifier: GPL-3.0-or-later
// How the simulated programmer spends time. Instant: transfers cost nothing and only
// waits (time-outs, a reply the host waits for) pass, on the bus's clock. Realistic:
// the link moves about 1 MB/s and chips take their datasheet times, so a run on a
// real clock lasts about as long as one on a USB 2.0 programmer.
#pragma once

#include <cstdint>

namespace tarvix::sim {

enum class Timing : std::uint8_t { kInstant, kRealistic };

// Realistic link: per-transfer scheduling overhead and cost of one byte on the wire.
inline constexpr std::int64_t kTransferOverheadUs = 125;
inline constexpr double kLinkUsPerByte = 1.0;
// Time the programmer's firmware needs before a short reply (ID probe, status).
inline constexpr std::int64_t kReplyLatencyMs = 1;
// Realistic re-enumeration: how long the programmer is off the bus after code 21.
inline constexpr std::int64_t kReenumerationMs = 700;

// Negative transfer results, as the USB library reports them.
inline constexpr int kResultIoError = -5;
inline constexpr int kResultNoDevice = -19;
inline constexpr int kResultInvalid = -22;
inline constexpr int kResultTimeout = -110;

}  // namespace tarvix::sim
