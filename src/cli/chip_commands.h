// SPDX-License-Identifier: GPL-3.0-or-later
// What the chip commands (chip_commands.cpp) share with auto (auto_command.cpp): their
// parsed arguments and the production run each works in.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "buffer/load_file_format.h"
#include "catalogue/chip_record.h"
#include "cli/chip_session.h"
#include "cli/cli_context.h"
#include "production/production_station.h"
#include "production/serial_number.h"
#include "production/stream_checksums.h"
#include "state/main_state.h"

namespace tarvix::cli {

inline constexpr std::int64_t kDefaultSwapMs = 2000;
// Shorter swaps could take a chip out and put the next in between two looks of the
// programmer, which then never sees the socket empty and waits on.
inline constexpr std::int64_t kMinimumSwapMs = 1000;
// Differing ranges verify --diff lists when no number is given.
inline constexpr std::size_t kDefaultDiffRanges = 16;

enum class ChipCommand { kDetect, kRead, kWrite, kVerify, kErase, kBlank, kAuto };

// A command's arguments: at most one file, verify's difference list, and for auto the
// bulk, simulated-operator and serial-number options.
struct ChipArgs {
  std::string file;
  std::optional<std::size_t> diff;  // verify --diff: ranges to list
  bool bulk = false;
  std::int64_t bulk_count = 0;  // 0: until Ctrl-C
  std::int64_t swap_ms = kDefaultSwapMs;
  bool swap_given = false;
  std::string sim_chips;  // the simulated operator's box of chips
  std::optional<SerialSettings> serial;
};

// Parses the arguments; an error text when they are wrong.
[[nodiscard]] std::string ParseChipArgs(ChipCommand command, const std::vector<std::string>& args,
                                        ChipArgs& out);

// What the run programs: the image and its checksums, and the production station that
// runs (and, with --log, records) each chip.
struct ChipRun {
  FileFormat format = FileFormat::kBinary;
  Checksums image_sums;
  std::unique_ptr<ProductionStation> station;
  // The result text the log takes for a chip refused before any operation ran.
  std::string refusal;
};

// ",\"chip\":{...}" for the JSON of a command; nothing without a record.
void PrintChipJson(std::ostream& out, const ChipRecord* record, const MainState& state);

// auto, single or --bulk.
[[nodiscard]] int RunAuto(Context& c, ChipSession& s, const ChipArgs& args, ChipRun& run);

}  // namespace tarvix::cli
