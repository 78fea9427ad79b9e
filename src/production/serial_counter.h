// SPDX-License-Identifier: GPL-3.0-or-later
// The serial-number counter, kept in the production log's database so it survives
// restarts and crashes. Each chip takes the next value, recorded as reserved before
// its write starts; the chip's log entry marks it used or spoiled (ProductionLog).
// A value is never handed out twice: every value ever reserved keeps its row.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "production/log_database.h"
#include "production/serial_number.h"

namespace tarvix {

class SerialCounter {
 public:
  explicit SerialCounter(LogDatabase& db) : db_(db) {}

  // The settings the counter was last configured with, if any.
  [[nodiscard]] std::optional<SerialSettings> Stored(std::string* error) const;
  // Sets the counter. The same settings as stored keep counting where it was; other
  // settings start again at their start value (values handed out before are skipped).
  [[nodiscard]] bool Configure(const SerialSettings& settings, std::string* error);
  // The value the next Reserve would try first.
  [[nodiscard]] std::optional<std::uint64_t> Next(std::string* error) const;

  // The next value, committed as reserved for `lot` before it is returned. Nothing,
  // with `error`, when no counter is configured, the values are used up or the log
  // cannot be written.
  [[nodiscard]] std::optional<std::uint64_t> Reserve(const std::string& lot, std::string* error);
  // A reserved value whose chip was never recorded (the run stopped first): spoiled.
  [[nodiscard]] bool Spoil(std::uint64_t value, std::string* error);
  // Values left reserved by a program that ended before recording their chips (a
  // crash, a power cut) are spoiled; values reserved by a program still running are
  // left alone. `count` gets how many.
  [[nodiscard]] bool SpoilInterrupted(std::string* error, std::uint64_t* count = nullptr);

  // "reserved", "used", "spoiled", or "" for a value never handed out.
  [[nodiscard]] std::string StateOf(std::uint64_t value, std::string* error) const;

 private:
  LogDatabase& db_;
};

}  // namespace tarvix
