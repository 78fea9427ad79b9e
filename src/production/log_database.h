// SPDX-License-Identifier: GPL-3.0-or-later
// The production log's SQLite database: the chips programmed and the serial-number
// counter's state, in one file so that a chip's record and the fate of its serial
// number are committed together. Opened through SQLite's C API. A writer waits for a
// lock held by another program up to a bound, then reports the log as locked.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace tarvix {

inline constexpr int kLogBusyTimeoutMs = 5000;

// A prepared statement, finalized on destruction.
class LogStatement {
 public:
  LogStatement(sqlite3* db, const char* sql);
  ~LogStatement();
  LogStatement(const LogStatement&) = delete;
  LogStatement& operator=(const LogStatement&) = delete;

  [[nodiscard]] bool Valid() const { return statement_ != nullptr; }
  void Bind(int index, const std::string& text);
  void Bind(int index, std::int64_t value);
  void BindNull(int index);
  // SQLITE_ROW, SQLITE_DONE or an error code.
  [[nodiscard]] int Step();
  [[nodiscard]] std::string Text(int column) const;
  [[nodiscard]] std::int64_t Integer(int column) const;
  [[nodiscard]] bool IsNull(int column) const;

 private:
  sqlite3_stmt* statement_ = nullptr;
};

class LogDatabase {
 public:
  // Opens or creates the database at `path` and its tables. Nothing, with `error`
  // naming the file and the reason, when it cannot be opened, is not a database, or
  // stays locked longer than `busy_timeout_ms`.
  [[nodiscard]] static std::unique_ptr<LogDatabase> Open(const std::filesystem::path& path,
                                                         std::string* error,
                                                         int busy_timeout_ms = kLogBusyTimeoutMs);
  ~LogDatabase();
  LogDatabase(const LogDatabase&) = delete;
  LogDatabase& operator=(const LogDatabase&) = delete;

  [[nodiscard]] sqlite3* Handle() const { return db_; }
  [[nodiscard]] const std::filesystem::path& Path() const { return path_; }

  // Runs `work` in one write transaction, committed only when it returns true; a
  // failure rolls everything back. On any failure `error` names the log and the reason
  // ("... database is locked" once the lock wait has run out).
  [[nodiscard]] bool Transaction(const std::function<bool()>& work, std::string* error);
  // Proves that a chip could be recorded now: takes the write lock (waiting for
  // another writer up to the bound) and writes, unchanged, the database's header
  // through its journal. False with `error` when the log is locked, read-only or in a
  // folder where its journal cannot be made.
  [[nodiscard]] bool CheckWritable(std::string* error);
  // Runs SQL without results; false with `error` on failure.
  [[nodiscard]] bool Execute(const char* sql, std::string* error);
  // "PATH: REASON" with SQLite's text for the last failure.
  [[nodiscard]] std::string Failure() const;

 private:
  LogDatabase(sqlite3* db, std::filesystem::path path) : db_(db), path_(std::move(path)) {}
  sqlite3* db_;
  std::filesystem::path path_;
};

}  // namespace tarvix
