// SPDX-License-Identifier: GPL-3.0-or-later
// The production log: one entry per chip of a bulk run and per single auto, write or
// verify, each committed in its own transaction before the next chip starts, so a
// crash or a power cut loses at most the chip in progress. Read back by lot and day,
// and exported as CSV.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "production/log_database.h"

namespace tarvix {

struct ChipLogEntry {
  std::int64_t id = 0;     // given by the log
  std::string time;        // local time, "YYYY-MM-DD HH:MM:SS"
  std::string programmer;  // the programmer's serial number
  std::string chip_model;
  std::string chip_id;
  std::string image;  // the image's file name
  std::string image_crc32;
  std::string image_sha256;
  std::string operation;  // "auto", "write", "verify"
  bool passed = false;
  std::string result_text;  // the operation's last status text
  std::int64_t duration_ms = 0;
  std::string lot;
  std::optional<std::uint64_t> serial;  // the serial number stamped into the chip
};

// An empty field matches everything; `day` is "YYYY-MM-DD" of the local time.
struct LogFilter {
  std::string lot;
  std::string day;
};

// The CSV columns, in order.
inline constexpr char kLogCsvHeader[] =
    "time,programmer,chip_model,chip_id,image,image_crc32,image_sha256,operation,result,"
    "result_text,duration_ms,lot,serial";

class ProductionLog {
 public:
  explicit ProductionLog(LogDatabase& db) : db_(db) {}

  // Adds `entry` (its id is set) in one transaction. With a serial number, that
  // number, reserved before the chip started, is marked used when the chip passed and
  // spoiled when it did not, in the same transaction. False with `error` when the
  // log is locked past the wait or cannot be written: the run must then stop.
  [[nodiscard]] bool Record(ChipLogEntry& entry, std::string* error);

  // The entries `filter` matches, oldest first; `visit` returns false to stop early.
  [[nodiscard]] bool Query(const LogFilter& filter,
                           const std::function<bool(const ChipLogEntry&)>& visit,
                           std::string* error) const;
  // The lots in the log, sorted, for a filter to choose from.
  [[nodiscard]] std::optional<std::vector<std::string>> Lots(std::string* error) const;

  // Writes the matching entries to `path` as CSV with a header line. The file takes
  // its place only once complete.
  [[nodiscard]] bool ExportCsv(const LogFilter& filter, const std::filesystem::path& path,
                               std::string* error) const;

 private:
  LogDatabase& db_;
};

// "YYYY-MM-DD HH:MM:SS" in local time.
[[nodiscard]] std::string LocalTimeText(std::chrono::system_clock::time_point when);

// One CSV line (no line end) of an entry, fields quoted where they need it.
[[nodiscard]] std::string CsvLine(const ChipLogEntry& entry);

}  // namespace tarvix
