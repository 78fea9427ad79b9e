// SPDX-License-Identifier: GPL-3.0-or-later
#include "production/serial_counter.h"

#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <vector>

#include "production/production_log.h"

namespace tarvix {
namespace {

struct CounterRow {
  SerialSettings settings;
  std::uint64_t next = 0;
};

// The stored counter; nothing with `error` empty when none is configured.
std::optional<CounterRow> ReadCounter(LogDatabase& db, std::string* error) {
  LogStatement select(db.Handle(), "SELECT settings, next FROM serial_counter WHERE id = 1");
  const int step = select.Step();
  if (step == SQLITE_DONE) return std::nullopt;
  if (step != SQLITE_ROW) {
    *error = db.Failure();
    return std::nullopt;
  }
  const std::optional<SerialSettings> settings = ParseSerialSettings(select.Text(0));
  if (!settings) {
    *error = db.Path().string() + ": the serial number settings are unreadable";
    return std::nullopt;
  }
  return CounterRow{*settings, static_cast<std::uint64_t>(select.Integer(1))};
}

bool Taken(LogDatabase& db, std::uint64_t value, bool* taken) {
  LogStatement select(db.Handle(), "SELECT 1 FROM serial_numbers WHERE value = ?1");
  select.Bind(1, static_cast<std::int64_t>(value));
  const int step = select.Step();
  *taken = step == SQLITE_ROW;
  return step == SQLITE_ROW || step == SQLITE_DONE;
}

bool ProcessGone(std::int64_t pid) {
  return pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH);
}

}  // namespace

std::optional<SerialSettings> SerialCounter::Stored(std::string* error) const {
  const std::optional<CounterRow> row = ReadCounter(db_, error);
  if (!row) return std::nullopt;
  return row->settings;
}

std::optional<std::uint64_t> SerialCounter::Next(std::string* error) const {
  const std::optional<CounterRow> row = ReadCounter(db_, error);
  if (!row) return std::nullopt;
  return row->next;
}

bool SerialCounter::Configure(const SerialSettings& settings, std::string* error) {
  return db_.Transaction(
      [&] {
        const std::optional<CounterRow> row = ReadCounter(db_, error);
        if (!error->empty()) return false;
        if (row && row->settings == settings) return true;
        LogStatement store(db_.Handle(),
                           "INSERT OR REPLACE INTO serial_counter (id, settings, next) "
                           "VALUES (1, ?1, ?2)");
        store.Bind(1, SerialSettingsText(settings));
        store.Bind(2, static_cast<std::int64_t>(settings.start));
        return store.Step() == SQLITE_DONE;
      },
      error);
}

std::optional<std::uint64_t> SerialCounter::Reserve(const std::string& lot, std::string* error) {
  std::uint64_t value = 0;
  const bool reserved = db_.Transaction(
      [&] {
        const std::optional<CounterRow> row = ReadCounter(db_, error);
        if (!row) {
          if (error->empty()) *error = db_.Path().string() + ": no serial number counter is set";
          return false;
        }
        const std::uint64_t limit = SerialLimit(row->settings.encoding, row->settings.width);
        value = row->next;
        for (bool taken = true; taken;) {
          if (value >= limit) {
            *error = "serial numbers of " + std::to_string(row->settings.width) +
                     " bytes are used up (next " + std::to_string(value) + ")";
            return false;
          }
          if (!Taken(db_, value, &taken)) return false;
          if (taken) value += row->settings.step;
        }
        LogStatement insert(db_.Handle(),
                            "INSERT INTO serial_numbers (value, state, lot, time, owner) "
                            "VALUES (?1, 'reserved', ?2, ?3, ?4)");
        insert.Bind(1, static_cast<std::int64_t>(value));
        insert.Bind(2, lot);
        insert.Bind(3, LocalTimeText(std::chrono::system_clock::now()));
        insert.Bind(4, static_cast<std::int64_t>(::getpid()));
        if (insert.Step() != SQLITE_DONE) return false;
        // The next value may pass the limit: the next Reserve reports it.
        LogStatement advance(db_.Handle(), "UPDATE serial_counter SET next = ?1 WHERE id = 1");
        const std::uint64_t next = value + row->settings.step;
        advance.Bind(1, static_cast<std::int64_t>(next < value || next > limit ? limit : next));
        return advance.Step() == SQLITE_DONE;
      },
      error);
  if (!reserved) return std::nullopt;
  return value;
}

bool SerialCounter::Spoil(std::uint64_t value, std::string* error) {
  return db_.Transaction(
      [&] {
        LogStatement mark(db_.Handle(),
                          "UPDATE serial_numbers SET state = 'spoiled' WHERE value = ?1 AND "
                          "state = 'reserved'");
        mark.Bind(1, static_cast<std::int64_t>(value));
        return mark.Step() == SQLITE_DONE;
      },
      error);
}

bool SerialCounter::SpoilInterrupted(std::string* error, std::uint64_t* count) {
  std::uint64_t spoiled = 0;
  const bool ok = db_.Transaction(
      [&] {
        std::vector<std::int64_t> values;
        LogStatement select(db_.Handle(),
                            "SELECT value, owner FROM serial_numbers WHERE state = 'reserved'");
        int step = SQLITE_ROW;
        while ((step = select.Step()) == SQLITE_ROW)
          if (select.Integer(1) != ::getpid() && ProcessGone(select.Integer(1)))
            values.push_back(select.Integer(0));
        if (step != SQLITE_DONE) return false;
        for (const std::int64_t value : values) {
          LogStatement mark(db_.Handle(),
                            "UPDATE serial_numbers SET state = 'spoiled' WHERE value = ?1");
          mark.Bind(1, value);
          if (mark.Step() != SQLITE_DONE) return false;
        }
        spoiled = values.size();
        return true;
      },
      error);
  if (count != nullptr) *count = spoiled;
  return ok;
}

std::string SerialCounter::StateOf(std::uint64_t value, std::string* error) const {
  LogStatement select(db_.Handle(), "SELECT state FROM serial_numbers WHERE value = ?1");
  select.Bind(1, static_cast<std::int64_t>(value));
  const int step = select.Step();
  if (step == SQLITE_ROW) return select.Text(0);
  if (step != SQLITE_DONE) *error = db_.Failure();
  return {};
}

}  // namespace tarvix
